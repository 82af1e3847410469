#include "App/Exceptions.h"
#include "App/HttpExceptions.h"
#include "App/MainThread.h"
#include "Forms/Debug.h"
#include "Forms/MsgBoxes.h"
#include "FormTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

const QString ReportText = QStringLiteral(
    "Во время работы приложения возникла непредвиденная ошибка.\r"
    "Пожалуйста, сообщите о проишествии Вашему системному администратору.");

void Click(QWidget* w) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
}

} // namespace

TEST(MsgBoxes, EachKindHasItsTitleAndQuestionsReturnTheAnswer) {
    struct Case {
        std::function<void()> call;
        TMsgDlgType kind;
        QString title;
        bool question;
    };
    const std::vector<Case> cases = {
        {[] { ShowWarning(QStringLiteral("t")); }, TMsgDlgType::mtWarning, QStringLiteral("Внимание"), false},
        {[] { ShowError(QStringLiteral("t")); }, TMsgDlgType::mtError, QStringLiteral("Ошибка"), false},
        {[] { ShowInfo(QStringLiteral("t")); }, TMsgDlgType::mtInformation, QStringLiteral("Информация"), false},
        {[] { AskConfirmation(QStringLiteral("t")); }, TMsgDlgType::mtConfirmation,
         QStringLiteral("Подтверждение"), true},
        {[] { AskWarningConfirmation(QStringLiteral("t")); }, TMsgDlgType::mtWarning,
         QStringLiteral("Подтверждение"), true},
    };
    for (const Case& c : cases) {
        TMessageLog log;
        c.call();
        ASSERT_EQ(log.Records.size(), 1u) << c.title.toStdString();
        EXPECT_EQ(log.Records[0].Kind, c.kind);
        EXPECT_EQ(log.Records[0].Title, c.title);
        EXPECT_EQ(log.Records[0].Text, QStringLiteral("t"));
        EXPECT_EQ(log.Records[0].Question, c.question);
    }
    {
        TMessageLog no(false);
        EXPECT_FALSE(AskConfirmation(QStringLiteral("?")));
        EXPECT_FALSE(AskWarningConfirmation(QStringLiteral("?")));
    }
    TMessageLog yes(true);
    EXPECT_TRUE(AskConfirmation(QStringLiteral("?")));
}

TEST(MsgBoxes, BlankDetailsFallBackToThePlainErrorBox) {
    TMessageLog log;
    ShowErrorWithDetails(QStringLiteral("a"), QStringLiteral(" \r\n "));
    ShowErrorWithDetails(QStringLiteral("b"), QStringLiteral("Message: x"));
    ASSERT_EQ(log.Records.size(), 2u);
    EXPECT_EQ(log.Records[0].Title, QStringLiteral("Ошибка"));
    EXPECT_TRUE(log.Records[0].Details.isEmpty());
    EXPECT_EQ(log.Records[1].Kind, TMsgDlgType::mtError);
    EXPECT_EQ(log.Records[1].Details, QStringLiteral("Message: x"));
}

TEST(MsgBoxes, DetailsDialogOpensUnfoldedAndFoldsBack) {
    TDetailsDialog dialog(QStringLiteral("Текст"), QStringLiteral("one\rtwo"), TMsgDlgType::mtError);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Ошибка"));
    EXPECT_EQ(dialog.findChild<QPlainTextEdit*>(QStringLiteral("Memo")), dialog.Memo);
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("Message"))->text(), QStringLiteral("Текст"));
    EXPECT_EQ(dialog.Memo->toPlainText(), QStringLiteral("one\ntwo"));
    EXPECT_TRUE(dialog.Memo->isReadOnly());
    EXPECT_EQ(dialog.Memo->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(dialog.bOK->isDefault());
    EXPECT_EQ(dialog.bDetails->toolTip(), QStringLiteral("Показать дополнительную информацию, связанную с ошибкой"));
    EXPECT_GE(dialog.width(), 3 * dialog.bOK->width());
    // The pair of buttons meets at the centre: details ends 2 px left of it, OK starts 4 px after.
    EXPECT_EQ(dialog.bDetails->geometry().right() + 1, dialog.width() / 2 - 2);
    EXPECT_EQ(dialog.bOK->x(), dialog.bDetails->geometry().right() + 1 + 4);

    // Opens with the details shown.
    EXPECT_TRUE(dialog.DetailsShown());
    EXPECT_EQ(dialog.bDetails->text(), QStringLiteral(">> Скрыть"));
    EXPECT_TRUE(dialog.Memo->isEnabled());
    const QSize opening = dialog.size();
    EXPECT_EQ(opening.height(), dialog.Memo->y() + dialog.Memo->height());

    dialog.bDetails->click();
    EXPECT_FALSE(dialog.DetailsShown());
    EXPECT_EQ(dialog.bDetails->text(), QStringLiteral("<< Показать"));
    EXPECT_EQ(dialog.height(), dialog.Memo->y());
    EXPECT_FALSE(dialog.Memo->isEnabled());

    dialog.bDetails->click();
    EXPECT_EQ(dialog.size(), opening);
    EXPECT_EQ(dialog.bDetails->text(), QStringLiteral(">> Скрыть"));
}

TEST(MsgBoxes, MoreThanThreeDetailLinesGetAScrollBar) {
    TDetailsDialog two(QStringLiteral("x"), QStringLiteral("1\r2"), TMsgDlgType::mtWarning);
    TDetailsDialog four(QStringLiteral("x"), QStringLiteral("1\r2\r3\r4"), TMsgDlgType::mtInformation);
    EXPECT_EQ(two.Memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(four.Memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(four.windowTitle(), QStringLiteral("Информация"));
}

TEST(ErrorReport, DetailsNameMessageClassSenderAndSystemCode) {
    QPushButton button;
    EXPECT_EQ(BuildErrorDetails(&button, std::make_exception_ptr(ENoComponentFoundException(QStringLiteral("x")))),
              QStringLiteral("Message: Component \"x\" is not available\rCategory: ENoComponentFoundException\r"
                             "Object: QPushButton"));
    EXPECT_EQ(BuildErrorDetails(nullptr, std::make_exception_ptr(EOSError(QStringLiteral("gone"), 2))),
              QStringLiteral("Message: gone\rCategory: EOSError\rObject: \rErrorCode: 0x00000002"));
    EXPECT_EQ(BuildErrorDetails(nullptr, std::make_exception_ptr(EOSError(QStringLiteral("neg"), -1))).section('\r', 3),
              QStringLiteral("ErrorCode: 0xffffffff"));
    EXPECT_EQ(BuildErrorDetails(nullptr, std::make_exception_ptr(std::runtime_error("boom"))),
              QStringLiteral("Message: boom\rCategory: std::runtime_error\rObject: "));
}

TEST(ErrorReport, ClickErrorsEndInTheReportAndTheAbortShowsNothing) {
    TInstalledHandler handler;
    TMessageLog log;
    QPushButton button(QStringLiteral("b"));
    button.resize(80, 30);
    button.show();
    bool abort = false;
    QObject::connect(&button, &QPushButton::clicked, [&abort] {
        if (abort)
            throw EAbort(QStringLiteral("cancelled"));
        throw ENoComponentFoundException(QStringLiteral("x"));
    });

    // Through the application's event delivery, as a real click arrives.
    Click(&button);
    ASSERT_EQ(log.Records.size(), 1u);
    EXPECT_EQ(log.Records[0].Title, QStringLiteral("Ошибка"));
    EXPECT_EQ(log.Records[0].Text, ReportText);
    const QStringList lines = log.Records[0].Details.split(QLatin1Char('\r'));
    EXPECT_EQ(lines.value(0), QStringLiteral("Message: Component \"x\" is not available"));
    EXPECT_EQ(lines.value(1), QStringLiteral("Category: ENoComponentFoundException"));
    EXPECT_EQ(lines.value(2), QStringLiteral("Object: QPushButton"));

    abort = true;
    Click(&button);
    EXPECT_EQ(log.Records.size(), 1u);

    // A wrapped slot reports the same way and names its sender.
    QLabel label;
    RunUserAction(&label, [] { throw EOSError(QStringLiteral("no file"), 2); });
    RunUserAction(&label, [] { throw EAbort(QStringLiteral("cancelled")); });
    auto slot = UserAction(&label, [] { throw EConvertError(QStringLiteral("bad")); });
    slot();
    ASSERT_EQ(log.Records.size(), 3u);
    EXPECT_TRUE(log.Records[1].Details.endsWith(QStringLiteral("Object: QLabel\rErrorCode: 0x00000002")));
    EXPECT_TRUE(log.Records[2].Details.startsWith(QStringLiteral("Message: bad\rCategory: EConvertError")));
}

TEST(ErrorReport, AnotherHandlerStaysInstalled) {
    const TExceptionHandler previous = ExceptionHandler();
    static int calls = 0;
    calls = 0;
    SetExceptionHandler([](QObject*, std::exception_ptr) { ++calls; });
    InstallExceptionHandler();
    {
        TMessageLog log;
        RunUserAction(nullptr, [] { throw EConvertError(QStringLiteral("bad")); });
        EXPECT_EQ(calls, 1);
        EXPECT_TRUE(log.Records.empty());
    }
    SetExceptionHandler(previous);
}

TEST(RunWhileResponsive, MainThreadServesEventsWhileTheWorkRuns) {
    QWidget busy;
    std::atomic<bool> ticked{false};
    bool disabledMeanwhile = false;
    QTimer::singleShot(0, [&] {
        disabledMeanwhile = !busy.isEnabled();
        ticked = true;
    });
    RunWhileResponsive(&busy, [&] {
        // Finishes only once the main thread has run its timer, and hands work over to it as well.
        while (!ticked)
            std::this_thread::yield();
        RunOnMainThread([] {});
    });
    EXPECT_TRUE(disabledMeanwhile);
    EXPECT_TRUE(busy.isEnabled());
    EXPECT_THROW(RunWhileResponsive(nullptr, [] { throw Exception(QStringLiteral("late")); }), Exception);
}
