#include "Service/AppLauncher.h"

#include "App/Exceptions.h"
#include "App/HttpExceptions.h"
#include "Platform/X11Window.h"
#include "Service/AppLauncher/LaunchOptionsPrompt.h"
#include "Service/AppLauncher/StringExpander.h"
#include "Service/AppsLibrary.h"
#include "Service/AppsLibrary/AppConfig.h"
#include "Service/AppsLibrary/ComponentConfig.h"
#include "Service/DirWatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThreadPool>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

// Stop request of one window-hiding task; the task and its launcher share it.
struct THideWndTask {
    std::mutex Lock;
    std::condition_variable Wake;
    std::atomic<bool> Stop{false};

    void RequestStop() {
        {
            std::lock_guard<std::mutex> lock(Lock);
            Stop = true;
        }
        Wake.notify_all();
    }
    // Sleeps up to Ms; true when asked to stop.
    bool WaitForStop(int Ms) {
        std::unique_lock<std::mutex> lock(Lock);
        return Wake.wait_for(lock, std::chrono::milliseconds(Ms), [this] { return Stop.load(); });
    }
};

namespace {

const QString UnitName = QStringLiteral("Service\\Service.AppLauncher");
const QString DosboxKey = QStringLiteral("dosbox");
const QString DebuggerCaption = QStringLiteral("DOSBox Debugger");
constexpr int HideWndPollMs = 1000;

std::atomic<bool> GTerminating{false};

// Running window-hiding tasks, so that shut-down can wait for them.
std::mutex GHideLock;
std::condition_variable GHideDone;
int GHideRunning = 0;

// One argument for SplitParameters, whatever it contains.
QString QuoteArgument(QString Text) {
    Text.replace(QLatin1Char('"'), QStringLiteral("\"\"\""));
    return QLatin1Char('"') + Text + QLatin1Char('"');
}

QString JoinParams(const QString& First, const QString& Rest) {
    if (First.isEmpty())
        return Rest;
    return Rest.isEmpty() ? First : First + QLatin1Char(' ') + Rest;
}

// A run option of a game may carry its own arguments ("game -w"). When no file has the whole text as its
// name, the first word is the program and the other words go before the configured parameters.
void SplitRunCommand(QString& File, QString& Params, const QString& Dir) {
    if (!File.contains(QLatin1Char(' ')) || QFileInfo::exists(QDir(Dir).filePath(File)))
        return;
    QStringList words = SplitParameters(File);
    if (words.isEmpty())
        return;
    File = words.takeFirst();
    QStringList quoted;
    for (const QString& word : words)
        quoted.append(word.contains(QLatin1Char(' ')) || word.contains(QLatin1Char('"')) || word.isEmpty()
                          ? QuoteArgument(word)
                          : word);
    Params = JoinParams(quoted.join(QLatin1Char(' ')), Params);
}

// The debugger build of DOSBox lies beside the normal one: "dosbox.exe" or, for a Linux build, "dosbox".
QString ZebProgram(QString File) {
    const qsizetype exe = File.indexOf(QStringLiteral("dosbox.exe"), 0, Qt::CaseInsensitive);
    if (exe >= 0)
        return File.replace(exe, 10, QStringLiteral("dosbox-zeb.exe"));
    const qsizetype name = File.lastIndexOf(QLatin1Char('/')) + 1;
    if (File.mid(name).compare(DosboxKey, Qt::CaseInsensitive) == 0)
        File = File.left(name) + QStringLiteral("dosbox-zeb");
    return File;
}

// The debugger build needs its console; only the first "-noconsole " goes.
QString ZebParams(QString Params) {
    const QString option = QStringLiteral("-noconsole ");
    const qsizetype at = Params.indexOf(option, 0, Qt::CaseInsensitive);
    if (at >= 0)
        Params.replace(at, option.size(), QStringLiteral(" "));
    return Params;
}

// A Linux build may keep its Windows name (a component's "dosbox.exe", a game's "run.cmd").
bool IsNativeProgram(const QString& FileName) {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(4);
    return head == QByteArray("\x7f" "ELF") || head.startsWith("#!");
}

} // namespace

void OpenWithShell(const QString& Target) {
    PlatformShellOpen(Target);
}

TProgramCall ResolveProgramCall(const QString& FileName, const QString& Params, const QString& Dir) {
    const bool exe = FileName.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive);
    const bool script = FileName.endsWith(QStringLiteral(".cmd"), Qt::CaseInsensitive) ||
                        FileName.endsWith(QStringLiteral(".bat"), Qt::CaseInsensitive);
    if ((!exe && !script) || IsNativeProgram(QDir(Dir).filePath(FileName)))
        return {FileName, Params};
    const QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
    if (wine.isEmpty())
        throw EOSError(QStringLiteral("Cannot start \"%1\": it is a Windows program and Wine is not installed "
                                      "(no \"wine\" command was found on PATH).")
                           .arg(FileName),
                       ENOENT);
    const QString program = QuoteArgument(FileName);
    return {wine, JoinParams(script ? QStringLiteral("cmd /c ") + program : program, Params)};
}

// ---- TAppLauncher -------------------------------------------------------------------------------------

TAppLauncher::TAppLauncher(TAppLibraryItem* App) : PublicKey(App ? App->PublicKey : QString()), FApp(App) {
    Assert(FApp != nullptr, QStringLiteral("Launcher without game"), UnitName);
}

TAppLauncher::~TAppLauncher() {
    for (const auto& task : FHideTasks)
        task->RequestStop();
}

void TAppLauncher::Launch() {
    TAppConfig* config = FApp->AppConfig();
    Assert(config != nullptr, QStringLiteral("Game \"%1\" has no configuration").arg(PublicKey), UnitName);

    TComponentLibraryItem* component = nullptr;
    if (!config->ComponentKey.isEmpty()) {
        component = ComponentsLibrary().FindItemByKey(config->ComponentKey);
        if (!component)
            throw ENoComponentFoundException(config->ComponentKey);
    }
    const QString dir = FApp->Path;
    TShowMode show = TShowMode::Normal;
    // Before any dialog: a launch cancelled there still counts as played.
    config->SaveLastPlayedTime();

    QString file;
    QString params;
    if (component) {
        TComponentConfig& componentConfig = component->ComponentConfig();
        // {App.Exe} stands for the chosen command only while the template is expanded.
        const QString runCmd = config->RunCmd;
        try {
            config->RunCmd = SelectRunCommand();
            params = ExpandCommandTemplate(componentConfig.Params, FApp->Path, config, &componentConfig);
            config->PreLaunchComponent();
        } catch (...) {
            config->RunCmd = runCmd;
            throw;
        }
        config->RunCmd = runCmd;

        file = component->Path + componentConfig.Exe;
        if (componentConfig.RunHidden)
            show = TShowMode::Hidden;
        if (config->LogBasedAchievements && component->PublicKey == DosboxKey) {
            file = ZebProgram(file);
            params = ZebParams(params);
            HideWnd(DebuggerCaption);
        }
    } else {
        params = config->RunParams;
        file = SelectRunCommand();
        SplitRunCommand(file, params, dir);
        if (config->RunHidden)
            show = TShowMode::Hidden;
    }

    if (!config->OnRunScript.isEmpty())
        RunScript(config->OnRunScript);
    WatchApp(FApp);
    RunProcess(file, params, show, dir);
}

QString TAppLauncher::SelectRunCommand() {
    TAppConfig* config = FApp->AppConfig();
    QStringList options;
    for (const QString& line : config->LauncherIniSection()) {
        const QStringList pieces = line.split(QLatin1Char('='));
        if (pieces.size() < 2 || !pieces.first().trimmed().contains(QStringLiteral("RunOption")))
            continue;
        options.append(pieces.mid(1).join(QLatin1Char('=')));
    }
    if (options.isEmpty())
        return config->RunCmd;
    if (options.size() == 1) {
        // A single option is a plain command: it starts visible (the file keeps its setting).
        config->RunHidden = false;
        return SplitLaunchOption(options.first()).Command;
    }
    ILaunchOptionsPrompt* prompt = LaunchOptionsPrompt();
    if (!prompt)
        return SplitLaunchOption(options.first()).Command;
    QString command;
    if (!prompt->SelectCommand(options, command))
        throw EAbort(QStringLiteral("Launch cancelled"));
    return command;
}

void TAppLauncher::RunScript(const QString& FileName) {
    const TProgramCall call = ResolveProgramCall(FileName, QString(), FApp->Path);
    PlatformShellStart(call.File, call.Params, FApp->Path, TShowMode::Hidden);
}

void TAppLauncher::RunProcess(const QString& FileName, const QString& Params, TShowMode Show, const QString& Dir) {
    const TProgramCall call = ResolveProgramCall(FileName, Params, Dir);
    PlatformShellStart(call.File, call.Params, Dir, Show);
    MarkLaunched();
}

void TAppLauncher::MarkLaunched() {
    TAppLaunchers& pending = PendingLaunchers();
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (it->get() == this) {
            StartedLaunchers().push_back(std::move(*it));
            pending.erase(it);
            return;
        }
    }
}

void TAppLauncher::HideWnd(const QString& Caption) {
    auto task = std::make_shared<THideWndTask>();
    FHideTasks.push_back(task);
    {
        std::lock_guard<std::mutex> lock(GHideLock);
        ++GHideRunning;
    }
    QThreadPool::globalInstance()->start([task, Caption] {
        // The task mostly sleeps; it must not keep one of the few shared workers from the reports.
        QThreadPool::globalInstance()->releaseThread();
        while (!GTerminating && !task->Stop) {
            if (PlatformHideWindowByTitle(Caption) != THideWindowResult::NotFound)
                break;
            if (task->WaitForStop(HideWndPollMs))
                break;
        }
        QThreadPool::globalInstance()->reserveThread();
        {
            std::lock_guard<std::mutex> lock(GHideLock);
            --GHideRunning;
        }
        GHideDone.notify_all();
    });
}

// ---- lists --------------------------------------------------------------------------------------------

TAppLaunchers& PendingLaunchers() {
    static TAppLaunchers list;
    return list;
}

TAppLaunchers& StartedLaunchers() {
    static TAppLaunchers list;
    return list;
}

void LaunchApp(TAppLibraryItem* App) {
    auto launcher = std::make_unique<TAppLauncher>(App);
    TAppLauncher* started = launcher.get();
    PendingLaunchers().push_back(std::move(launcher));
    started->Launch();
}

int RunningHideWndTasks() {
    std::lock_guard<std::mutex> lock(GHideLock);
    return GHideRunning;
}

void InitLaunchers() {
    GTerminating = false;
}

void DoneLaunchers() {
    GTerminating = true;
    // Freeing a launcher stops its hiding tasks.
    PendingLaunchers().clear();
    StartedLaunchers().clear();
    std::unique_lock<std::mutex> lock(GHideLock);
    GHideDone.wait(lock, [] { return GHideRunning == 0; });
}
