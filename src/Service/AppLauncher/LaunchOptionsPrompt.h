#pragma once

#include <QString>
#include <QStringList>
#include <memory>

// One run option of a game: "command#caption", split at the first "#".
struct TLaunchOption {
    QString Command;
    QString Caption;
};

// The caption is the text after the first "#", or the whole text when that is empty; the command is the
// text before it, or the caption when that is empty.
TLaunchOption SplitLaunchOption(const QString& Option);

// Asks the user which run option to start. The windows register the implementation at start-up, so the
// launcher itself never touches widgets.
class ILaunchOptionsPrompt {
public:
    virtual ~ILaunchOptionsPrompt() = default;
    // Shows the options modally; true with the chosen option's command when the user pressed launch.
    virtual bool SelectCommand(const QStringList& Options, QString& Command) = 0;
};

// Takes ownership; replaces the one registered before. Main thread only.
void RegisterLaunchOptionsPrompt(std::unique_ptr<ILaunchOptionsPrompt> Prompt);
// The registered prompt, or nullptr when none is.
ILaunchOptionsPrompt* LaunchOptionsPrompt();
