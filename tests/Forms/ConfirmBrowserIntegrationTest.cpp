#include "App/Paths.h"
#include "App/Settings.h"
#include "Forms/uConfirmBrowserIntegrationForm.h"
#include "Platform/IniFile.h"
#include "Platform/Shell.h"
#include "Service/UriProtocol.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMutex>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>

namespace {

QString CoreIni() { return RoamingUserDataPath() + QStringLiteral("Tarvenox.ini"); }

// Runs action on the modal dialog once it is on screen.
void OnModalDialog(const std::function<void(TConfirmBrowserIntegrationForm&)>& action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* dialog = qobject_cast<TConfirmBrowserIntegrationForm*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(*dialog);
        }
    });
    timer->start();
}

class ConfirmBrowserIntegration : public ::testing::Test {
protected:
    void SetUp() override {
        QDir().mkpath(RoamingUserDataPath());
        QFile::remove(CoreIni());
        QFile::remove(UrlHandlerDesktopFileName());
        QFile::remove(MimeAppsListFileName());
        Core::CheckBrowserIntegration = true;
    }
    void TearDown() override {
        QThreadPool::globalInstance()->waitForDone();
        QFile::remove(UrlHandlerDesktopFileName());
        QFile::remove(MimeAppsListFileName());
        Core::CheckBrowserIntegration = true;
        RegisterBrowserIntegrationPrompt(nullptr);
    }

    QStringList Opened() {
        QMutexLocker lock(&FLock);
        return FOpened;
    }

    QMutex FLock;
    QStringList FOpened;
    // The registration opens its page from a worker thread.
    TScopedShellHook FHook{[this](const TShellCall& call) {
        QMutexLocker lock(&FLock);
        FOpened << call.File;
        return true;
    }};
};

} // namespace

TEST_F(ConfirmBrowserIntegration, ShowsTheOfferWithItsThreeControls) {
    TConfirmBrowserIntegrationForm form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Интеграция с браузером"));
    EXPECT_EQ(form.txtLongRead->text(), QStringLiteral("Похоже, что интеграция с браузером отключена."));
    EXPECT_EQ(form.bYes->text(), QStringLiteral("Включить"));
    EXPECT_TRUE(form.bYes->isDefault());
    EXPECT_EQ(form.bNo->text(), QStringLiteral("Нет"));
    EXPECT_EQ(form.checkDoNotAsk->text(), QStringLiteral("Больше не спрашивать"));
    EXPECT_FALSE(form.checkDoNotAsk->isChecked());
    form.show();
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "fixed border";
}

TEST_F(ConfirmBrowserIntegration, StoresTheTickOnlyWhenAnswered) {
    enum class TAnswer { No, Escape, Close };
    struct TCase {
        const char* Name;
        TAnswer Answer;
        bool Ticked;
        bool CheckAfter;
        bool Written;
    } cases[] = {
        {"no, ticked", TAnswer::No, true, false, true},
        {"no, not ticked", TAnswer::No, false, true, false},
        {"escape, ticked", TAnswer::Escape, true, false, true},
        {"window closed, ticked", TAnswer::Close, true, true, false},
    };
    for (const TCase& c : cases) {
        SetUp();
        TConfirmBrowserIntegrationForm form;
        form.show();
        form.checkDoNotAsk->setChecked(c.Ticked);
        if (c.Answer == TAnswer::No) {
            form.bNo->click();
        } else if (c.Answer == TAnswer::Escape) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&form, &escape);
        } else {
            form.close();
        }
        EXPECT_FALSE(form.isVisible()) << c.Name;
        EXPECT_EQ(Core::CheckBrowserIntegration, c.CheckAfter) << c.Name;
        EXPECT_EQ(QFile::exists(CoreIni()), c.Written) << c.Name;
        if (c.Written) {
            EXPECT_FALSE(TIniFile(CoreIni()).ReadBool(QStringLiteral("Settings"), QStringLiteral("CheckBrowserIntegration"), true))
                << c.Name;
        }
        EXPECT_FALSE(IsUrlProtocolRegistered()) << c.Name;
    }
}

TEST_F(ConfirmBrowserIntegration, YesRegistersInTheBackground) {
    TConfirmBrowserIntegrationForm form;
    form.show();
    form.bYes->click();
    EXPECT_FALSE(form.isVisible()) << "closes without waiting";
    EXPECT_TRUE(WaitFor([&] { return Opened().contains(IntegrationOnPageUrl()); }));
    EXPECT_TRUE(IsUrlProtocolRegistered());
    EXPECT_TRUE(Core::CheckBrowserIntegration);
}

TEST_F(ConfirmBrowserIntegration, DoNotAskEndsTheStartCheckForGood) {
    RegisterBrowserIntegrationDialog();
    QWidget owner;
    int shown = 0;
    auto startCheck = [&](bool tick) {
        OnModalDialog([&, tick](TConfirmBrowserIntegrationForm& form) {
            ++shown;
            EXPECT_EQ(form.parentWidget(), &owner);
            form.checkDoNotAsk->setChecked(tick);
            form.bNo->click();
        });
        CheckBrowserIntegrationOnStart(new QTimer(&owner));
    };

    startCheck(false);
    EXPECT_EQ(shown, 1);
    startCheck(false);
    EXPECT_EQ(shown, 2) << "asked again without the tick";
    startCheck(true);
    EXPECT_EQ(shown, 3);

    // The next start reads the stored choice.
    Core::LoadSettings();
    EXPECT_FALSE(Core::CheckBrowserIntegration);
    CheckBrowserIntegrationOnStart(new QTimer(&owner));
    EXPECT_EQ(shown, 3);
    QApplication::processEvents();
}
