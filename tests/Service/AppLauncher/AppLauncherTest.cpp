#include "Service/AppLauncher.h"

#include "App/Exceptions.h"
#include "App/HttpExceptions.h"
#include "Platform/IniFile.h"
#include "Platform/X11Window.h"
#include "Service/AppLauncher/LaunchOptionsPrompt.h"
#include "Service/AppsLibrary.h"
#include "Service/AppsLibrary/AppConfig.h"
#include "Service/DirWatcher.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <atomic>
#include <unistd.h>

namespace {

// Answers the options dialog as a user would: picks one option or cancels, and remembers what it saw.
class TFakePrompt : public ILaunchOptionsPrompt {
public:
    bool SelectCommand(const QStringList& Options, QString& Command) override {
        Seen.append(Options);
        ++Calls;
        if (Pick < 0 || Pick >= Options.size())
            return false;
        Command = SplitLaunchOption(Options.at(Pick)).Command;
        return true;
    }
    int Pick = 0;
    int Calls = 0;
    QStringList Seen;
};

void WriteExecutable(const QString& path, const QByteArray& text = "#!/bin/sh\nexit 0\n") {
    WriteFile(path, text);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Fresh libraries, watchers and launcher lists for every test; every program start is recorded instead
// of run, and a start of a file named in Refuse fails like a missing program.
class AppLauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitLibraries();
        InitWatchers();
        InitLaunchers();
        auto prompt = std::make_unique<TFakePrompt>();
        FPrompt = prompt.get();
        RegisterLaunchOptionsPrompt(std::move(prompt));
        FHook = std::make_unique<TScopedShellHook>([this](const TShellCall& call) {
            QMutexLocker lock(&FLock);
            FCalls.push_back(call);
            return !Refuse.contains(call.File);
        });
    }
    void TearDown() override {
        FHook.reset();
        RegisterLaunchOptionsPrompt(nullptr);
        DoneLaunchers();
        DoneWatchers();
        DoneLibraries();
    }

    // An installed game whose configuration file has Ini as its text.
    TAppLibraryItem* Game(const QString& Key, const QByteArray& Ini) {
        auto item = std::make_unique<TAppLibraryItem>();
        item->PublicKey = Key;
        item->Path = MakeTempDir(QStringLiteral("game ") + Key);
        WriteFile(item->Path + Key + QStringLiteral(".ini"), Ini);
        item->SetState(lisInstalled);
        TAppLibraryItem* result = item.get();
        AppsLibrary().Add(std::move(item));
        return result;
    }
    TComponentLibraryItem* Component(const QString& Key, const QByteArray& MetaIni) {
        auto item = std::make_unique<TComponentLibraryItem>();
        item->SetKey(Key);
        QDir().mkpath(item->Path);
        WriteFile(item->Path + QStringLiteral("meta.ini"), MetaIni);
        item->SetState(lisInstalled);
        TComponentLibraryItem* result = item.get();
        ComponentsLibrary().Add(std::move(item));
        return result;
    }
    std::vector<TShellCall> Calls() {
        QMutexLocker lock(&FLock);
        return FCalls;
    }
    static bool IsStarted(const QString& Key) {
        for (const auto& l : StartedLaunchers())
            if (l->PublicKey == Key)
                return true;
        return false;
    }
    static bool IsPending(const QString& Key) {
        for (const auto& l : PendingLaunchers())
            if (l->PublicKey == Key)
                return true;
        return false;
    }

    TFakePrompt* FPrompt = nullptr;
    QStringList Refuse;

private:
    QMutex FLock;
    std::vector<TShellCall> FCalls;
    std::unique_ptr<TScopedShellHook> FHook;
};

} // namespace

TEST_F(AppLauncherTest, ComponentGameRunsTheComponentWithTheExpandedTemplate) {
    TComponentLibraryItem* emu = Component(QStringLiteral("emu"),
                                           "[Launcher]\nCmd=bin/emu\nParams=-conf \"{App.ConfigFile}\" {App.Dir}{App.Exe}\nHide=1\n");
    TAppLibraryItem* game = Game(QStringLiteral("cgame"), "[Launcher]\nKey=emu\nCmd=game.conf\n");
    ASSERT_TRUE(game->AppConfig()->isFirstRun());

    LaunchApp(game);

    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Kind, TShellCall::TKind::Start);
    EXPECT_EQ(calls[0].File, emu->Path + QStringLiteral("bin/emu"));
    EXPECT_EQ(calls[0].Parameters,
              QStringLiteral("-conf \"%1dosbox.conf\" %1game.conf").arg(game->Path));
    EXPECT_EQ(calls[0].WorkingFolder, game->Path);
    EXPECT_EQ(calls[0].Show, TShowMode::Hidden);
    EXPECT_FALSE(game->AppConfig()->isFirstRun());
    EXPECT_NE(Watchers().FindByKey(QStringLiteral("cgame")), nullptr);
    EXPECT_TRUE(IsStarted(QStringLiteral("cgame")));
    EXPECT_FALSE(IsPending(QStringLiteral("cgame")));
    EXPECT_EQ(FPrompt->Calls, 0);

    // A second launch keeps the one watcher.
    LaunchApp(game);
    EXPECT_EQ(Watchers().Count(), 1);
    EXPECT_EQ(StartedLaunchers().size(), 2u);
}

TEST_F(AppLauncherTest, GameWithoutComponentRunsItsOwnProgram) {
    // The parameter line is passed as written, without template expansion.
    TAppLibraryItem* own = Game(QStringLiteral("own"), "[Launcher]\nCmd=play.sh\nParams=-a \"b c\" {App.Dir}\n");
    LaunchApp(own);
    // Without a command the game runs its script hidden; a Linux script keeps its Windows name.
    TAppLibraryItem* scripted = Game(QStringLiteral("scripted"), "[Launcher]\n");
    WriteExecutable(scripted->Path + QStringLiteral("run.cmd"));
    LaunchApp(scripted);

    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].File, QStringLiteral("play.sh"));
    EXPECT_EQ(calls[0].Parameters, QStringLiteral("-a \"b c\" {App.Dir}"));
    EXPECT_EQ(calls[0].WorkingFolder, own->Path);
    EXPECT_EQ(calls[0].Show, TShowMode::Normal);
    EXPECT_EQ(calls[1].File, QStringLiteral("run.cmd"));
    EXPECT_EQ(calls[1].Parameters, QString());
    EXPECT_EQ(calls[1].Show, TShowMode::Hidden);
}

TEST_F(AppLauncherTest, RunOptionsAskTheUserWhenThereAreSeveral) {
    TAppLibraryItem* game = Game(QStringLiteral("options"),
                                 "[Launcher]\nCmd=play.sh\nParams=--sound\nRunOption1=play.sh -w#Windowed\n"
                                 "runoption3=ignored\nMyRunOption=play.sh -f#Full screen\n");
    FPrompt->Pick = 1;
    LaunchApp(game);
    EXPECT_EQ(FPrompt->Seen, (QStringList{QStringLiteral("play.sh -w#Windowed"), QStringLiteral("play.sh -f#Full screen")}));
    // The option's own arguments come before the configured ones.
    auto calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].File, QStringLiteral("play.sh"));
    EXPECT_EQ(calls[0].Parameters, QStringLiteral("-f --sound"));

    // Cancelled: nothing starts, no message, the launch still counts as played and stays pending.
    TAppLibraryItem* cancelled = Game(QStringLiteral("cancelled"), "[Launcher]\nRunOption1=a#A\nRunOption2=b#B\n");
    FPrompt->Pick = -1;
    EXPECT_THROW(LaunchApp(cancelled), EAbort);
    EXPECT_EQ(Calls().size(), 1u);
    EXPECT_FALSE(cancelled->AppConfig()->isFirstRun());
    EXPECT_TRUE(IsPending(QStringLiteral("cancelled")));
    EXPECT_EQ(Watchers().FindByKey(QStringLiteral("cancelled")), nullptr);

    // A single option is taken without asking and starts visible, though the game runs hidden otherwise.
    TAppLibraryItem* single = Game(QStringLiteral("single"), "[Launcher]\nRunOption1=setup.sh#Setup\n");
    ASSERT_TRUE(single->AppConfig()->RunHidden);
    const int asked = FPrompt->Calls;
    LaunchApp(single);
    EXPECT_EQ(FPrompt->Calls, asked);
    calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].File, QStringLiteral("setup.sh"));
    EXPECT_EQ(calls[1].Show, TShowMode::Normal);
}

TEST_F(AppLauncherTest, ChosenOptionStandsForAppExeOnlyDuringTheLaunch) {
    Component(QStringLiteral("emu"), "[Launcher]\nCmd=emu\nParams={App.Exe} -x\n");
    TAppLibraryItem* game = Game(QStringLiteral("emugame"),
                                 "[Launcher]\nKey=emu\nCmd=main.conf\nRunOption1=a.conf#A\nRunOption2=b=c.conf#B\n");
    FPrompt->Pick = 1;
    LaunchApp(game);
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Parameters, QStringLiteral("b=c.conf -x"));
    EXPECT_EQ(game->AppConfig()->RunCmd, QStringLiteral("main.conf"));

    // Restored also when the user cancels.
    FPrompt->Pick = -1;
    EXPECT_THROW(LaunchApp(game), EAbort);
    EXPECT_EQ(game->AppConfig()->RunCmd, QStringLiteral("main.conf"));
}

TEST_F(AppLauncherTest, LogBasedDosboxGamesRunTheDebuggerBuild) {
    std::atomic<int> searches{0};
    SetHideWindowHook([&](const QString& title) {
        EXPECT_EQ(title, QStringLiteral("DOSBox Debugger"));
        ++searches;
        return THideWindowResult::Hidden;
    });
    struct TCase {
        const char* ComponentKey;
        const char* Exe;
        bool Zeb;
        const char* ExpectedExe;
        const char* ExpectedParams;
    } cases[] = {
        {"dosbox", "DOSBox.EXE", true, "dosbox-zeb.exe", " -conf x -noconsole"},
        {"dosbox", "bin/dosbox", true, "bin/dosbox-zeb", " -conf x -noconsole"},
        {"dosbox", "DOSBox.EXE", false, "DOSBox.EXE", "-noconsole -conf x -noconsole"},
        {"DOSBox", "DOSBox.EXE", true, "DOSBox.EXE", "-noconsole -conf x -noconsole"},
    };
    int expectedSearches = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.ExpectedExe);
        const QString key = QString::fromUtf8(c.ComponentKey);
        TComponentLibraryItem* component =
            Component(key, QByteArray("[Launcher]\nCmd=") + c.Exe + "\nParams=-noconsole -conf x -noconsole\n");
        // Linux builds under their Windows names, so that Wine plays no part.
        for (const char* exe : {"DOSBox.EXE", "dosbox-zeb.exe", "bin/dosbox", "bin/dosbox-zeb"})
            WriteExecutable(component->Path + QString::fromUtf8(exe));
        TAppLibraryItem* game = Game(QStringLiteral("zeb-") + key + (c.Zeb ? "1" : "0"),
                                     QByteArray("[Launcher]\nKey=") + c.ComponentKey + "\nZEB=" + (c.Zeb ? "1" : "0") + "\n");
        const size_t before = Calls().size();
        LaunchApp(game);
        const auto calls = Calls();
        ASSERT_EQ(calls.size(), before + 1);
        EXPECT_EQ(calls.back().File, component->Path + QString::fromUtf8(c.ExpectedExe));
        EXPECT_EQ(calls.back().Parameters, QString::fromUtf8(c.ExpectedParams));
        if (QString::fromUtf8(c.ExpectedExe).contains(QStringLiteral("zeb")))
            ++expectedSearches;
        ASSERT_TRUE(WaitFor([&] { return searches == expectedSearches && RunningHideWndTasks() == 0; }));
        TearDown();
        SetUp();
    }
    SetHideWindowHook(nullptr);
}

TEST_F(AppLauncherTest, MissingComponentStopsBeforeAnything) {
    TAppLibraryItem* game = Game(QStringLiteral("orphan"), "[Launcher]\nKey=gone\nCmd=x\n");
    try {
        LaunchApp(game);
        FAIL() << "no error";
    } catch (const ENoComponentFoundException& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Component \"gone\" is not available"));
    }
    EXPECT_TRUE(Calls().empty());
    EXPECT_TRUE(game->AppConfig()->isFirstRun());
    EXPECT_EQ(Watchers().FindByKey(QStringLiteral("orphan")), nullptr);
    EXPECT_TRUE(IsPending(QStringLiteral("orphan")));
}

TEST_F(AppLauncherTest, ScriptRunsHiddenFirstAndFailuresStopTheLaunch) {
    TAppLibraryItem* game = Game(QStringLiteral("scripted-game"), "[Launcher]\nCmd=play.sh\nOnRun=prepare.sh\n");
    LaunchApp(game);
    auto calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].File, QStringLiteral("prepare.sh"));
    EXPECT_EQ(calls[0].Parameters, QString());
    EXPECT_EQ(calls[0].WorkingFolder, game->Path);
    EXPECT_EQ(calls[0].Show, TShowMode::Hidden);
    EXPECT_EQ(calls[1].File, QStringLiteral("play.sh"));

    // A script that cannot start: the game is not started and not watched.
    TAppLibraryItem* broken = Game(QStringLiteral("broken-script"), "[Launcher]\nCmd=game.sh\nOnRun=missing.sh\n");
    Refuse = QStringList{QStringLiteral("missing.sh")};
    EXPECT_THROW(LaunchApp(broken), EOSError);
    calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].File, QStringLiteral("missing.sh"));
    EXPECT_EQ(Watchers().FindByKey(QStringLiteral("broken-script")), nullptr);

    // A game that cannot start: its watcher stays, its launcher stays pending.
    TAppLibraryItem* refused = Game(QStringLiteral("refused"), "[Launcher]\nCmd=refused.sh\n");
    Refuse = QStringList{QStringLiteral("refused.sh")};
    EXPECT_THROW(LaunchApp(refused), EOSError);
    EXPECT_NE(Watchers().FindByKey(QStringLiteral("refused")), nullptr);
    EXPECT_TRUE(IsPending(QStringLiteral("refused")));
    EXPECT_FALSE(IsStarted(QStringLiteral("refused")));
}

TEST_F(AppLauncherTest, WindowsProgramsRunThroughWineOrSayWhatIsMissing) {
    struct TPathGuard {
        QByteArray Saved = qgetenv("PATH");
        ~TPathGuard() { qputenv("PATH", Saved); }
    } guard;
    const QString bin = MakeTempDir(QStringLiteral("bin"));
    WriteExecutable(bin + QStringLiteral("wine"));
    qputenv("PATH", bin.toUtf8());
    TAppLibraryItem* exe = Game(QStringLiteral("win-exe"), "[Launcher]\nCmd=Game.EXE\nParams=-x \"y z\"\n");
    TAppLibraryItem* bat = Game(QStringLiteral("win-bat"), "[Launcher]\nCmd=start.bat\n");
    LaunchApp(exe);
    LaunchApp(bat);
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].File, bin + QStringLiteral("wine"));
    EXPECT_EQ(SplitParameters(calls[0].Parameters), (QStringList{"Game.EXE", "-x", "y z"}));
    EXPECT_EQ(calls[0].WorkingFolder, exe->Path);
    EXPECT_EQ(SplitParameters(calls[1].Parameters), (QStringList{"cmd", "/c", "start.bat"}));

    // Without Wine the user learns what is missing; nothing is started.
    qputenv("PATH", MakeTempDir(QStringLiteral("empty bin")).toUtf8());
    TAppLibraryItem* nowine = Game(QStringLiteral("no-wine"), "[Launcher]\nCmd=setup.cmd\n");
    try {
        LaunchApp(nowine);
        ADD_FAILURE() << "no error";
    } catch (const EOSError& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("setup.cmd"))) << e.Message().toStdString();
        EXPECT_TRUE(e.Message().contains(QStringLiteral("Wine is not installed"))) << e.Message().toStdString();
    }
    EXPECT_EQ(Calls().size(), 2u);
    EXPECT_TRUE(IsPending(QStringLiteral("no-wine")));
}

TEST_F(AppLauncherTest, WindowHidingStopsWhenItsLauncherEnds) {
    std::atomic<int> searches{0};
    std::atomic<bool> found{false};
    SetHideWindowHook([&](const QString&) {
        ++searches;
        return found ? THideWindowResult::Hidden : THideWindowResult::NotFound;
    });
    TAppLibraryItem* game = Game(QStringLiteral("hiding"), "[Launcher]\n");
    {
        TAppLauncher launcher(game);
        launcher.HideWnd(QStringLiteral("DOSBox Debugger"));
        ASSERT_TRUE(WaitFor([&] { return searches >= 1; }));
        EXPECT_EQ(RunningHideWndTasks(), 1);
    }
    // The task sleeps between searches; the launcher's end wakes it.
    ASSERT_TRUE(WaitFor([] { return RunningHideWndTasks() == 0; }, 500));

    // Found: the task ends by itself.
    searches = 0;
    found = true;
    TAppLauncher launcher(game);
    launcher.HideWnd(QStringLiteral("DOSBox Debugger"));
    ASSERT_TRUE(WaitFor([] { return RunningHideWndTasks() == 0; }));
    EXPECT_EQ(searches, 1);
    SetHideWindowHook(nullptr);
}

TEST_F(AppLauncherTest, RealStartIsDetachedInTheGameFolderWithShellSplitParameters) {
    TScopedShellHook system(nullptr);
    TAppLibraryItem* game = Game(QStringLiteral("real"), "[Launcher]\nCmd=report.sh\nParams=one \"two words\"  three\n");
    // Writes its folder, its parent process and its arguments; the rename makes the file appear whole.
    WriteExecutable(game->Path + QStringLiteral("report.sh"),
                    "#!/bin/sh\n{ pwd; echo \"$PPID\"; for a in \"$@\"; do echo \"$a\"; done; } > out.tmp\nmv out.tmp out\n");
    LaunchApp(game);
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(game->Path + QStringLiteral("out")); }));
    const QStringList lines = QString::fromUtf8(ReadFile(game->Path + QStringLiteral("out"))).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], QFileInfo(game->Path).canonicalFilePath());
    EXPECT_NE(lines[1].toLongLong(), qint64(::getpid()));
    EXPECT_EQ(lines.mid(2, 3), (QStringList{"one", "two words", "three"}));
    EXPECT_TRUE(IsStarted(QStringLiteral("real")));
}
