#include "Platform/Shell.h"

#include "App/Exceptions.h"
#include "Platform/ShellSystem.h"

#include <QMutex>
#include <QProcess>

#include <cerrno>

namespace {

QMutex GHookLock;
TShellHook GHook;

TShellHook CurrentHook() {
    QMutexLocker lock(&GHookLock);
    return GHook;
}

// The hook answers for the system: a refused start looks like a missing program.
void RunHooked(const TShellHook& hook, const TShellCall& call) {
    if (!hook(call))
        throw OSError(ENOENT);
}

} // namespace

QStringList SplitParameters(const QString& Parameters) {
    return QProcess::splitCommand(Parameters);
}

bool PlatformShellOpen(const QString& Target) {
    if (const TShellHook hook = CurrentHook())
        return hook({TShellCall::TKind::Open, Target, {}, {}, TShowMode::Normal});
    return SystemShellOpen(Target);
}

void PlatformShellStart(const QString& File, const QString& Parameters, const QString& WorkingFolder,
                        TShowMode Show) {
    if (const TShellHook hook = CurrentHook())
        return RunHooked(hook, {TShellCall::TKind::Start, File, Parameters, WorkingFolder, Show});
    SystemShellStart(File, SplitParameters(Parameters), WorkingFolder, Show);
}

void PlatformRunElevatedAndWait(const QString& File, const QString& Parameters) {
    if (const TShellHook hook = CurrentHook())
        return RunHooked(hook, {TShellCall::TKind::ElevatedWait, File, Parameters, {}, TShowMode::Normal});
    SystemRunElevatedAndWait(File, SplitParameters(Parameters));
}

TShellHook SetShellHook(TShellHook Hook) {
    QMutexLocker lock(&GHookLock);
    std::swap(GHook, Hook);
    return Hook;
}

TScopedShellHook::TScopedShellHook(TShellHook Hook) : FPrevious(SetShellHook(std::move(Hook))) {}

TScopedShellHook::~TScopedShellHook() {
    SetShellHook(std::move(FPrevious));
}
