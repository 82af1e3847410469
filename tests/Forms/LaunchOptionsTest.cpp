#include "Forms/uLauchOptions.h"
#include "Service/AppLauncher/LaunchOptionsPrompt.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace {

QList<QRadioButton*> Items(const TfLaunchOptions& dialog) {
    return dialog.grpCommands->findChildren<QRadioButton*>();
}

// Runs action on the modal dialog once it is on screen.
void OnModalDialog(const std::function<void(TfLaunchOptions&)>& action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* dialog = qobject_cast<TfLaunchOptions*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(*dialog);
        }
    });
    timer->start();
}

} // namespace

TEST(LaunchOptions, SplitsEachOptionAtTheFirstHash) {
    struct TCase {
        const char* Option;
        const char* Command;
        const char* Caption;
    } cases[] = {
        {"game.exe -w#Windowed", "game.exe -w", "Windowed"},
        {"game.exe", "game.exe", "game.exe"},
        {"#Only caption", "Only caption", "Only caption"},
        {"cmd#", "cmd", "cmd#"},
        {"a#b#c", "a", "b#c"},
        {"a=b#c", "a=b", "c"},
    };
    TfLaunchOptions dialog;
    QStringList options;
    for (const TCase& c : cases)
        options << QString::fromUtf8(c.Option);
    ASSERT_EQ(dialog.CreateCommandsFromOptions(options), int(std::size(cases)));

    const QList<QRadioButton*> items = Items(dialog);
    ASSERT_EQ(items.size(), qsizetype(std::size(cases)));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(dialog.Commands.at(i), QString::fromUtf8(cases[i].Command)) << cases[i].Option;
        EXPECT_EQ(items.at(i)->text(), QString::fromUtf8(cases[i].Caption)) << cases[i].Option;
        const TLaunchOption split = SplitLaunchOption(options.at(i));
        EXPECT_EQ(split.Command, dialog.Commands.at(i));
        EXPECT_EQ(split.Caption, items.at(i)->text());
    }
    EXPECT_TRUE(items.first()->isChecked());
    EXPECT_EQ(dialog.GetSelectedCommand(), QStringLiteral("game.exe -w"));
    items.at(4)->setChecked(true);
    EXPECT_EQ(dialog.GetSelectedCommand(), QStringLiteral("a"));
}

TEST(LaunchOptions, DialogLooksAsExpected) {
    TfLaunchOptions dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Варианты запуска"));
    EXPECT_EQ(dialog.size(), QSize(397, 310));
    EXPECT_EQ(dialog.bLauch->text(), QStringLiteral("Запустить"));
    EXPECT_EQ(dialog.bCancel->text(), QStringLiteral("Отмена"));
    EXPECT_TRUE(dialog.bLauch->isDefault());
    EXPECT_EQ(dialog.CreateCommandsFromOptions({}), 0);
    EXPECT_EQ(dialog.GetSelectedCommand(), QString());
}

TEST(LaunchOptions, PromptReturnsTheChosenCommand) {
    RegisterLaunchOptionsDialog();
    ASSERT_NE(LaunchOptionsPrompt(), nullptr);
    const QStringList options{QStringLiteral("game.exe -w#Windowed"), QStringLiteral("game.exe -f#Full screen")};

    OnModalDialog([](TfLaunchOptions& dialog) {
        const QList<QRadioButton*> items = Items(dialog);
        EXPECT_EQ(items.at(0)->text(), QStringLiteral("Windowed"));
        EXPECT_EQ(items.at(1)->text(), QStringLiteral("Full screen"));
        items.at(1)->click();
        dialog.bLauch->click();
    });
    QString command;
    EXPECT_TRUE(LaunchOptionsPrompt()->SelectCommand(options, command));
    EXPECT_EQ(command, QStringLiteral("game.exe -f"));

    // Enter presses the default button with the first option preselected.
    OnModalDialog([](TfLaunchOptions& dialog) {
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &enter);
    });
    EXPECT_TRUE(LaunchOptionsPrompt()->SelectCommand(options, command));
    EXPECT_EQ(command, QStringLiteral("game.exe -w"));
}

TEST(LaunchOptions, CancelAndEscapeChooseNothing) {
    RegisterLaunchOptionsDialog();
    const QStringList options{QStringLiteral("a#A"), QStringLiteral("b#B")};
    QString command = QStringLiteral("unchanged");

    OnModalDialog([](TfLaunchOptions& dialog) { dialog.bCancel->click(); });
    EXPECT_FALSE(LaunchOptionsPrompt()->SelectCommand(options, command));

    OnModalDialog([](TfLaunchOptions& dialog) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &escape);
    });
    EXPECT_FALSE(LaunchOptionsPrompt()->SelectCommand(options, command));
    EXPECT_EQ(command, QStringLiteral("unchanged"));
}
