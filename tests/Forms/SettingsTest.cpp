#include "Forms/MsgBoxes.h"
#include "Forms/uFrameAppSettings.h"
#include "Forms/uFrameBoolOption.h"
#include "Forms/uLibManagerForm.h"
#include "Forms/uSettings.h"
#include "Platform/IniFile.h"
#include "Platform/Shell.h"
#include "Service/Install/Tasks.h"
#include "Service/UriProtocol.h"
#include "TileFixtures.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QPushButton>

#include <atomic>

using namespace tiles;

namespace {

QString CoreIni() { return RoamingUserDataPath() + QStringLiteral("Tarvenox.ini"); }
QString LocalIni() { return LocalUserDataPath() + QStringLiteral("Tarvenox.ini"); }

// Records every message; questions are answered from the list in turn (then "No").
struct TMessages {
    explicit TMessages(QList<bool> Answers = {})
        : FAnswers(std::move(Answers)), Hook([this](const TMessageRecord& r) {
              Records.push_back(r);
              return FAnswers.isEmpty() ? false : FAnswers.takeFirst();
          }) {}
    QStringList Texts() const {
        QStringList texts;
        for (const TMessageRecord& r : Records)
            texts << r.Text;
        return texts;
    }
    QList<bool> FAnswers;
    std::vector<TMessageRecord> Records;
    TScopedMessageBoxHook Hook;
};

} // namespace

TEST(BoolOption, MirrorsItsVariableAndTellsOfChanges) {
    bool value = true;
    TFrameBoolOption option(nullptr);
    EXPECT_EQ(option.height(), 39);
    int told = 0;
    option.OnCheckedChanged = [&](TFrameBoolOption* sender) {
        EXPECT_EQ(sender, &option);
        ++told;
    };
    option.switchValue->click();
    EXPECT_EQ(told, 0) << "unbound: nothing happens";
    option.BindVariable(&value);
    EXPECT_TRUE(option.Checked()) << "takes the variable's value";
    option.switchValue->click();
    EXPECT_FALSE(value);
    EXPECT_EQ(told, 1);
    option.BindUpdate(option.switchValue);
    EXPECT_EQ(told, 1) << "no change, no notification";
    option.ClearBinding();
    option.switchValue->click();
    EXPECT_FALSE(value);
    EXPECT_EQ(told, 1);
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        QDir().mkpath(RoamingUserDataPath());
        QFile::remove(CoreIni());
        QFile::remove(UrlHandlerDesktopFileName());
        QFile::remove(MimeAppsListFileName());
        Core::LoadSettings();
    }
    void TearDown() override {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QFile::remove(UrlHandlerDesktopFileName());
        QFile::remove(MimeAppsListFileName());
        QFile::remove(CoreIni());
        Core::LoadSettings();
    }
    TScopedShellHook FShell{[](const TShellCall&) { return true; }};
};

TEST_F(Settings, EveryToggleIsSavedAtOnce) {
    TFrameAppSettings frame(nullptr);
    EXPECT_EQ(frame.checkUpdateCore->Caption(), QStringLiteral("Автоматически обновлять «Tarveno!»"));
    EXPECT_EQ(frame.checkCheckForGameUpdate->Caption(), QStringLiteral("Проверять наличие обновлений для игр"));
    EXPECT_EQ(frame.checkCheckForComponentUpdate->Caption(), QStringLiteral("Проверять наличие обновлений для компонентов"));
    EXPECT_EQ(frame.checkCheckBrowserIntegrationStatus->Caption(),
              QStringLiteral("Проверять состояние интеграции с браузером при запуске"));
    EXPECT_FALSE(QFile::exists(CoreIni()));

    struct TCase {
        TFrameBoolOption* Option;
        const char* Section;
        const char* Key;
        bool* Variable;
    } cases[] = {
        {frame.checkCheckForGameUpdate, "Updates", "Apps", &Core::UpdatesApps},
        {frame.checkUpdateCore, "Updates", "Core", &Core::UpdatesCore},
        {frame.checkCheckForComponentUpdate, "Updates", "Components", &Core::UpdatesComponents},
        {frame.checkCheckBrowserIntegrationStatus, "Settings", "CheckBrowserIntegration", &Core::CheckBrowserIntegration},
    };
    for (const TCase& c : cases) {
        EXPECT_TRUE(c.Option->Checked()) << c.Key;
        c.Option->switchValue->click();
        EXPECT_FALSE(*c.Variable) << c.Key;
        EXPECT_EQ(TIniFile(CoreIni()).ReadString(QLatin1String(c.Section), QLatin1String(c.Key), QStringLiteral("?")),
                  QStringLiteral("0"))
            << c.Key;
    }
}

TEST_F(Settings, TheBrowserRowFollowsTheRegistration) {
    TFrameAppSettings frame(nullptr);
    EXPECT_EQ(frame.txtBrowserIntegration->text(), QStringLiteral("Интеграция с браузером"));
    EXPECT_EQ(frame.bEnableUri->text(), QStringLiteral("Включить"));
    EXPECT_EQ(frame.bDisableUri->text(), QStringLiteral("Выключить"));
    EXPECT_TRUE(frame.panelBrowserIntegrationEnable->isVisibleTo(&frame));
    EXPECT_FALSE(frame.panelBrowserIntegrationDisable->isVisibleTo(&frame));

    frame.bEnableUri->click();
    EXPECT_FALSE(frame.bEnableUri->isEnabled()) << "both buttons wait for the command";
    EXPECT_FALSE(frame.bDisableUri->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return frame.panelBrowserIntegrationDisable->isVisibleTo(&frame); }));
    EXPECT_TRUE(IsUrlProtocolRegistered());
    EXPECT_FALSE(frame.panelBrowserIntegrationEnable->isVisibleTo(&frame));
    EXPECT_TRUE(frame.bDisableUri->isEnabled());

    frame.bDisableUri->click();
    ASSERT_TRUE(WaitFor([&] { return frame.panelBrowserIntegrationEnable->isVisibleTo(&frame); }));
    EXPECT_FALSE(IsUrlProtocolRegistered());
    EXPECT_TRUE(frame.bEnableUri->isEnabled());
}

TEST_F(Settings, OneSettingsWindowPerRunHiddenWhenClosed) {
    QWidget main;
    ShowSettingsWindow(&main);
    TSettingsForm* form = SettingsWindow();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Настройки"));
    EXPECT_EQ(form->parentWidget(), &main);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->bClose->text(), QStringLiteral("Закрыть"));
    EXPECT_TRUE(form->bClose->isDefault());
    EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "fixed border";
    form->bClose->click();
    EXPECT_FALSE(form->isVisible());
    ShowSettingsWindow(&main);
    EXPECT_EQ(SettingsWindow(), form);
    EXPECT_TRUE(form->isVisible());
}

// ---- folder manager -----------------------------------------------------------------------------------

namespace {

const QString InstallRunning = QStringLiteral(
    "В данный момент выполняются фоновые задачи установки игр или компонентов.\n\r\r"
    "Пожалуйста, дождитесь их завершения и попробуйте снова.");
const QString UpdateRunning = QStringLiteral(
    "В данный момент выполняются фоновые задачи обновления игр или компонентов.\n\r\r"
    "Пожалуйста, дождитесь их завершения и попробуйте снова.");
const QString ConfirmMove = QStringLiteral("Вы действительно желаете переместить все файлы игр?");
const QString IncompleteMove = QStringLiteral(
    "Возможно, перенос файлов выполнен не полностью.\n\r\r"
    "Оставить прежнюю папку для установки игр?\n\r"
    "(Потребуется вернуть перенесённые файлы в прежнюю папку вручную)");

class LibManager : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLibrary();
        FOldPath = Lib::GetPath();
        QFile::remove(LocalIni());
    }
    void TearDown() override {
        ClearInstallTasks();
        ClearUpdateTasks();
        QFile::remove(LocalIni());
    }
    QString FOldPath;
};

} // namespace

TEST_F(LibManager, RestoreDefaultIsOfferedForAnotherFolder) {
    Lib::SetPath(Lib::DefaultLibraryPath);
    TLibManagerForm form(nullptr);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Управление папками"));
    EXPECT_EQ(form.txtPath->text(), QStringLiteral("Папка для установки игр"));
    EXPECT_EQ(form.ePath->text(), Lib::DefaultLibraryPath);
    EXPECT_TRUE(form.bApply->isDefault());
    EXPECT_FALSE(form.bRestoreDefault->isEnabled());
    form.ePath->setText(QStringLiteral("/srv/games"));
    EXPECT_TRUE(form.bRestoreDefault->isEnabled());
    QString noSlash = Lib::DefaultLibraryPath;
    noSlash.chop(1);
    form.ePath->setText(noSlash);
    EXPECT_FALSE(form.bRestoreDefault->isEnabled()) << "the final slash does not matter";
    form.ePath->setText(Lib::DefaultLibraryPath.toUpper());
    EXPECT_TRUE(form.bRestoreDefault->isEnabled()) << "Linux names differ by letter case";
    form.bRestoreDefault->click();
    EXPECT_EQ(form.ePath->text(), Lib::DefaultLibraryPath);
    EXPECT_FALSE(form.bRestoreDefault->isEnabled());
    form.ePath->setText(QStringLiteral("relative/games"));
    EXPECT_FALSE(form.bApply->isEnabled()) << "a relative folder is not offered";
    Lib::SetPath(FOldPath);
}

TEST_F(LibManager, RefusesWhileTasksRunAndWhenNotConfirmed) {
    AddGame(QStringLiteral("stay"), lisInstalled);
    const QString target = MakeTempDir(QStringLiteral("moved"));
    std::atomic<bool> release{false};
    const auto blocker = [&release] {
        while (!release.load())
            QThread::msleep(2);
    };
    struct TCase {
        const char* Name;
        std::function<void()> Prepare;
        QStringList Messages;
    } cases[] = {
        {"install task",
         [&] {
             auto task = TInstallTask::Create(QStringLiteral("k"), QStringLiteral("n"), QString(), ttApp, blocker);
             AddToInstallTasks(task);
             task->Start();
         },
         {InstallRunning}},
        {"update task",
         [&] {
             auto task = TUpdateTask::Create(QStringLiteral("k"), QStringLiteral("n"), QString(), ttApp, blocker);
             AddToUpdateTasks(task);
             task->Start();
         },
         {UpdateRunning}},
        {"answered no", [] {}, {ConfirmMove}},
    };
    for (const TCase& c : cases) {
        release = false;
        c.Prepare();
        TMessages messages({false});
        TLibManagerForm form(nullptr);
        form.ePath->setText(target);
        form.bApply->click();
        EXPECT_EQ(messages.Texts(), c.Messages) << c.Name;
        if (!messages.Records.empty() && c.Messages.first() != ConfirmMove)
            EXPECT_EQ(messages.Records[0].Title, QStringLiteral("Информация")) << c.Name;
        EXPECT_EQ(Lib::GetPath(), FOldPath) << c.Name;
        EXPECT_TRUE(QDir(target).isEmpty()) << c.Name;
        EXPECT_TRUE(form.bApply->isEnabled()) << c.Name;
        release = true;
        ClearInstallTasks();
        ClearUpdateTasks();
    }
}

TEST_F(LibManager, AMoveRepointsEveryGameAndAsksForTheRestart) {
    TAppLibraryItem* present = AddGame(QStringLiteral("present"), lisInstalled);
    TAppLibraryItem* lost = AddGame(QStringLiteral("lost"), lisInstalled);
    TAppLibraryItem* waiting = AddGame(QStringLiteral("waiting"), lisQueued);
    WriteFile(present->Path + QStringLiteral("data.bin"), "game data");
    AppsLibrary().SaveToFile();
    QDir(lost->Path).removeRecursively(); // its folder is gone before the move
    const QString target = MakeTempDir(QStringLiteral("games2")) + QStringLiteral("inner");

    TMessages messages({true});
    TLibManagerForm form(nullptr);
    form.show();
    form.ePath->setText(target);
    form.bApply->click();
    EXPECT_EQ(messages.Texts(), QStringList{ConfirmMove});
    EXPECT_EQ(messages.Records[0].Title, QStringLiteral("Подтверждение"));
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(form.isVisible());

    const QString newPath = target + u'/';
    EXPECT_EQ(Lib::GetPath(), newPath);
    EXPECT_EQ(TIniFile(LocalIni()).ReadString(QStringLiteral("Library"), QStringLiteral("Item0"), QString()), newPath);
    EXPECT_EQ(ReadFile(newPath + QStringLiteral("present/data.bin")), "game data");
    EXPECT_FALSE(QFile::exists(FOldPath + QStringLiteral("present")));
    EXPECT_EQ(present->Path, newPath + QStringLiteral("present/"));
    EXPECT_EQ(present->State(), lisInstalled);
    EXPECT_EQ(lost->Path, newPath + QStringLiteral("lost/"));
    EXPECT_EQ(lost->State(), lisQueued) << "installed again after the restart";
    EXPECT_EQ(waiting->Path, newPath + QStringLiteral("waiting/"));
    EXPECT_EQ(AppsLibrary().FileName(), newPath + QStringLiteral("apps.json"));
    const QString saved = QString::fromUtf8(ReadFile(newPath + QStringLiteral("apps.json")));
    EXPECT_TRUE(saved.contains(newPath + QStringLiteral("lost/"))) << saved.toStdString();

    // Back to the default folder: the stored folder goes away.
    TMessages again({true});
    TLibManagerForm back(nullptr);
    back.bRestoreDefault->click();
    back.bApply->click();
    EXPECT_EQ(back.result(), QDialog::Accepted);
    EXPECT_EQ(Lib::GetPath(), Lib::DefaultLibraryPath);
    EXPECT_EQ(TIniFile(LocalIni()).ReadString(QStringLiteral("Library"), QStringLiteral("Item0"), QStringLiteral("none")),
              QStringLiteral("none"));
    EXPECT_EQ(ReadFile(Lib::DefaultLibraryPath + QStringLiteral("present/data.bin")), "game data");
}

TEST_F(LibManager, AnIncompleteMoveAsksWhetherToKeepTheOldFolder) {
    for (const bool keep : {true, false}) {
        SetUp();
        TAppLibraryItem* game = AddGame(QStringLiteral("clash"), lisInstalled);
        AppsLibrary().SaveToFile();
        const QString target = MakeTempDir(QStringLiteral("taken"));
        WriteFile(target + QStringLiteral("clash/clash.ini"), "[Launcher]\nCmd=other.sh\n");
        // Yes to the move, No to replacing, then the answer about the old folder.
        TMessages messages({true, false, keep});
        TLibManagerForm form(nullptr);
        form.ePath->setText(target);
        form.bApply->click();
        ASSERT_EQ(messages.Records.size(), 3u) << keep;
        EXPECT_TRUE(messages.Records[1].Text.contains(QStringLiteral("clash.ini"))) << messages.Records[1].Text.toStdString();
        EXPECT_EQ(messages.Records[2].Text, IncompleteMove);
        EXPECT_EQ(messages.Records[2].Kind, TMsgDlgType::mtWarning);
        EXPECT_EQ(ReadFile(target + QStringLiteral("clash/clash.ini")), "[Launcher]\nCmd=other.sh\n") << "not replaced";
        EXPECT_TRUE(QFile::exists(FOldPath + QStringLiteral("clash/clash.ini"))) << "the skipped file stays";
        if (keep) {
            EXPECT_EQ(Lib::GetPath(), FOldPath);
            EXPECT_NE(form.result(), QDialog::Accepted);
            EXPECT_EQ(game->Path, FOldPath + QStringLiteral("clash/"));
            EXPECT_TRUE(form.bApply->isEnabled()) << "unlocked again";
        } else {
            EXPECT_EQ(Lib::GetPath(), target);
            EXPECT_EQ(form.result(), QDialog::Accepted);
            EXPECT_EQ(game->Path, target + QStringLiteral("clash/"));
        }
        Lib::SetPath(FOldPath);
    }
}

TEST_F(LibManager, CannotBeClosedWhileTheMoveRuns) {
    TLibManagerForm form(nullptr);
    form.show();
    form.LockControls(true);
    for (QWidget* w : {static_cast<QWidget*>(form.ePath), static_cast<QWidget*>(form.bBrowse),
                       static_cast<QWidget*>(form.bCancel), static_cast<QWidget*>(form.bApply),
                       static_cast<QWidget*>(form.bRestoreDefault)})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    form.close();
    form.reject();
    EXPECT_TRUE(form.isVisible());
    form.LockControls(false);
    EXPECT_TRUE(form.bCancel->isEnabled());
    form.bCancel->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
}
