#include "App/Exceptions.h"
#include "App/Paths.h"
#include "App/Settings.h"
#include "Forms/MsgBoxes.h"
#include "Forms/uAppInstall.h"
#include "Forms/uFrameInstallTask.h"
#include "Service/AppsLibrary.h"
#include "Service/Install/Tasks.h"
#include "Service/Meta/Providers.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include <atomic>

namespace {

// Work that ends when the test lets it.
struct TGate {
    std::shared_ptr<std::atomic<bool>> Open = std::make_shared<std::atomic<bool>>(false);
    TInstallTask::TProc Proc() const {
        return [open = Open] {
            while (!open->load())
                std::this_thread::yield();
        };
    }
};

class InstallDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        FOldPath = Lib::GetPath();
        FGames = MakeTempDir(QStringLiteral("games"));
        Lib::SetPath(FGames);
        QFile::remove(ComponentsPath() + QStringLiteral("components.json"));
        InitLibraries();
        auto app = std::make_unique<TAppLibraryItem>();
        app->PublicKey = QStringLiteral("g");
        app->Name = QStringLiteral("Game");
        app->Path = FGames + QStringLiteral("g/");
        app->SetState(lisQueued);
        App = app.get();
        AppsLibrary().Add(std::move(app));
        auto component = std::make_unique<TComponentLibraryItem>();
        component->SetKey(QStringLiteral("dosbox"));
        Component = component.get();
        ComponentsLibrary().Add(std::move(component));
        WriteFile(TAppMetaProvider().GetLocalFileName(QStringLiteral("g")), R"({"name":"Game","version":"1.2"})");
        WriteFile(TComponentMetaProvider().GetLocalFileName(QStringLiteral("dosbox")),
                  R"({"name":"DOSBox","version":"0.74"})");
    }
    void TearDown() override {
        delete Dialog.data();
        delete Updates.data();
        ClearInstallTasks();
        ClearUpdateTasks();
        DoneLibraries();
        Lib::SetPath(FOldPath);
    }
    std::shared_ptr<TInstallTask> AddTask(TInstallTaskType Type, TInstallTask::TProc Proc,
                                          const QString& Name = QStringLiteral("task")) {
        auto task = TInstallTask::Create(Type == ttApp ? QStringLiteral("g") : QStringLiteral("dosbox"), Name,
                                         QStringLiteral("about ") + Name, Type, std::move(Proc));
        AddToInstallTasks(task);
        return task;
    }
    TfAppInstall* Open() {
        Dialog = new TfAppInstall(nullptr, App, Component);
        Dialog->show();
        return Dialog;
    }
    bool Done() const { return Dialog && !Dialog->Bar.panelClose->isHidden(); }
    QByteArray SavedApps() const { return ReadFile(FGames + QStringLiteral("apps.json")); }

    QString FOldPath, FGames;
    TAppLibraryItem* App = nullptr;
    TComponentLibraryItem* Component = nullptr;
    QPointer<TfAppInstall> Dialog;
    QPointer<TfUpdates> Updates;
};

TEST_F(InstallDialogs, AllTasksSucceedRecordGameAndComponent) {
    AddTask(ttDep, [] {}, QStringLiteral("runtime"));
    AddTask(ttComponent, [] {}, QStringLiteral("DOSBox"));
    AddTask(ttApp, [] {}, QStringLiteral("Game"));
    Open();
    // Only the dependency can be switched off.
    ASSERT_EQ(Dialog->Rows.size(), 3);
    EXPECT_FALSE(Dialog->Rows[0]->panelControls->isHidden());
    EXPECT_TRUE(Dialog->Rows[1]->panelControls->isHidden());
    EXPECT_TRUE(Dialog->Rows[2]->panelControls->isHidden());
    EXPECT_EQ(Dialog->Rows[2]->panelName->text(), QStringLiteral("Game"));

    Dialog->Bar.bInstall->click();
    ASSERT_TRUE(WaitFor([this] { return Done(); }));
    EXPECT_EQ(App->State(), lisInstalled);
    EXPECT_EQ(App->Version, QStringLiteral("1.2"));
    EXPECT_EQ(Component->State(), lisInstalled);
    EXPECT_EQ(Component->Version, QStringLiteral("0.74"));
    EXPECT_TRUE(SavedApps().contains(R"("_version":"1.2")"));
    EXPECT_TRUE(Dialog->Rows[2]->panelName->font().strikeOut());
    EXPECT_TRUE(Dialog->Rows[2]->ActivityIndicator->isHidden()); // stopped, not an empty bar

    Dialog->Bar.bClose->click();
    EXPECT_EQ(InstallTaskCount(), 0);
    EXPECT_EQ(App->State(), lisInstalled);
}

TEST_F(InstallDialogs, SwitchedOffDependencyRecordsNothingAndClosingUnqueues) {
    std::atomic<bool> depRan{false};
    AddTask(ttDep, [&] { depRan = true; });
    AddTask(ttApp, [] {});
    Open();
    Dialog->Rows[0]->checkEnabled->setChecked(false);
    Dialog->Bar.bInstall->click();
    ASSERT_TRUE(WaitFor([this] { return Done(); }));
    EXPECT_FALSE(depRan);
    EXPECT_EQ(App->State(), lisQueued);
    EXPECT_EQ(App->Version, QStringLiteral("0.0.0.0"));

    Dialog->close();
    EXPECT_TRUE(Dialog.isNull() || !Dialog->isVisible());
    EXPECT_EQ(App->State(), lisNone);
    EXPECT_EQ(InstallTaskCount(), 0);
    EXPECT_FALSE(SavedApps().contains("queued"));
}

TEST_F(InstallDialogs, FailedTaskShowsItsMessageAndOthersGoOn) {
    AddTask(ttComponent, [] {});
    AddTask(ttApp, [] { throw Exception(QStringLiteral("Disk full")); });
    Open();
    Dialog->Bar.bInstall->click();
    ASSERT_TRUE(WaitFor([this] { return Done(); }));
    TFrameInstallTask* failed = Dialog->Rows[1];
    EXPECT_EQ(failed->txtDesc->text(), QStringLiteral("Disk full"));
    EXPECT_FALSE(failed->txtDesc->isHidden());
    EXPECT_TRUE(failed->Progress->isHidden());
    EXPECT_TRUE(failed->ActivityIndicator->isHidden());
    EXPECT_TRUE(Dialog->Rows[0]->panelName->font().strikeOut());
    EXPECT_EQ(App->State(), lisQueued);
}

TEST_F(InstallDialogs, CancelIsAskedAndCanBeRefused) {
    TGate gate;
    auto task = AddTask(ttApp, gate.Proc());
    Open();
    Dialog->Bar.bInstall->click();
    EXPECT_FALSE(Dialog->Bar.panelCancel->isHidden());
    EXPECT_TRUE(Dialog->Bar.panelInstall->isHidden());
    ASSERT_TRUE(WaitFor([this] { return !Dialog->Rows[0]->panelProgress->isHidden(); }));
    EXPECT_FALSE(Dialog->Rows[0]->ActivityIndicator->isHidden());

    QStringList asked;
    {
        TScopedMessageBoxHook no([&](const TMessageRecord& m) {
            asked << m.Title + QStringLiteral(": ") + m.Text;
            return false;
        });
        Dialog->Bar.bCancel->click();
    }
    EXPECT_EQ(asked, QStringList{QStringLiteral("Подтверждение: Отменить установку?")});
    ASSERT_FALSE(Dialog.isNull());
    EXPECT_TRUE(Dialog->isVisible());
    EXPECT_EQ(task->Status(), tsRunning);

    {
        TScopedMessageBoxHook yes([](const TMessageRecord&) { return true; });
        Dialog->Bar.bCancel->click();
    }
    EXPECT_TRUE(Dialog.isNull() || !Dialog->isVisible());
    EXPECT_EQ(InstallTaskCount(), 0);
    EXPECT_EQ(App->State(), lisQueued); // the queue tries again later
    gate.Open->store(true);
}

TEST_F(InstallDialogs, UpdatesRecordEachSuccessAndIgnoreSwitchedOffRows) {
    App->SetState(lisNone);
    App->Version = QStringLiteral("1.0");
    Component->Version = QStringLiteral("0.70");
    AddToUpdateTasks(TUpdateTask::Create(QStringLiteral("g"), QStringLiteral("Game"), QString(), ttApp, [] {}));
    AddToUpdateTasks(TUpdateTask::Create(QStringLiteral("dosbox"), QStringLiteral("DOSBox"), QString(),
                                         ttComponent, [] { throw Exception(QStringLiteral("gone")); }));
    Updates = new TfUpdates(nullptr);
    Updates->show();
    ASSERT_EQ(Updates->Rows.size(), 2);
    for (auto* row : Updates->Rows) {
        EXPECT_FALSE(row->panelControls->isHidden());
        row->checkEnabled->setChecked(false);
    }
    // Every update switched off: nothing changes.
    Updates->Bar.bInstall->click();
    EXPECT_TRUE(Updates->Bar.bInstall->isEnabled());
    EXPECT_FALSE(Updates->Bar.panelInstall->isHidden());
    EXPECT_EQ(Updates->ActiveTasks, 0);

    for (auto* row : Updates->Rows)
        row->checkEnabled->setChecked(true);
    Updates->Bar.bInstall->click();
    ASSERT_TRUE(WaitFor([this] { return !Updates->Bar.panelClose->isHidden(); }));
    EXPECT_EQ(App->Version, QStringLiteral("1.2"));
    EXPECT_EQ(Component->Version, QStringLiteral("0.70"));
    EXPECT_EQ(Updates->Rows[1]->txtDesc->text(), QStringLiteral("gone"));
    Updates->Bar.bClose->click();
    EXPECT_EQ(UpdateTaskCount(), 0);
}

} // namespace
