#include "Service/AppLauncher/LaunchOptionsPrompt.h"

namespace {
std::unique_ptr<ILaunchOptionsPrompt> GPrompt;
}

TLaunchOption SplitLaunchOption(const QString& Option) {
    const qsizetype hash = Option.indexOf(QLatin1Char('#'));
    TLaunchOption result;
    result.Caption = hash >= 0 ? Option.mid(hash + 1) : QString();
    if (result.Caption.isEmpty())
        result.Caption = Option;
    result.Command = hash >= 0 ? Option.left(hash) : QString();
    if (result.Command.isEmpty())
        result.Command = result.Caption;
    return result;
}

void RegisterLaunchOptionsPrompt(std::unique_ptr<ILaunchOptionsPrompt> Prompt) { GPrompt = std::move(Prompt); }

ILaunchOptionsPrompt* LaunchOptionsPrompt() { return GPrompt.get(); }
