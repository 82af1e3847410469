#pragma once

#include "Platform/Shell.h"

#include <QString>

#include <memory>
#include <vector>

class TAppLibraryItem;
struct THideWndTask;

// Opens a file, folder or web address with the user's default program, in a normal window. Whether the
// program could be started is not reported: there is nothing the caller would do about it.
void OpenWithShell(const QString& Target);

// Starts one installed game: picks the program (the game's own or its component's), the parameter line
// and the window mode, runs the pre-launch script, makes sure the game's folder is watched and hands the
// program to the shell. Nothing waits for the game. Main thread only.
class TAppLauncher {
public:
    explicit TAppLauncher(TAppLibraryItem* App);
    ~TAppLauncher();
    TAppLauncher(const TAppLauncher&) = delete;
    TAppLauncher& operator=(const TAppLauncher&) = delete;

    // Raises ENoComponentFoundException for a missing component, EAbort when the user cancels the
    // options dialog, EOSError when the script or the game cannot be started.
    void Launch();
    // The game's RunCmd, or the command of its single run option, or the one the user picks.
    QString SelectRunCommand();
    void RunScript(const QString& FileName);
    void RunProcess(const QString& FileName, const QString& Params, TShowMode Show, const QString& Dir);
    // Moves this launcher from the pending list to the started one.
    void MarkLaunched();
    // Hides the window with this title once it appears, from a background task that ends when the
    // window was hidden, when there is no display, or when this launcher goes.
    void HideWnd(const QString& Caption);

    TAppLibraryItem* App() const { return FApp; }
    const QString PublicKey;

private:
    TAppLibraryItem* FApp;
    std::vector<std::shared_ptr<THideWndTask>> FHideTasks;
};

using TAppLaunchers = std::vector<std::unique_ptr<TAppLauncher>>;

// Every launcher ever made, until the program ends: those whose process has not been started (also the
// failed and cancelled ones) and those the shell accepted.
TAppLaunchers& PendingLaunchers();
TAppLaunchers& StartedLaunchers();

// Makes a launcher, keeps it pending and runs it; its errors reach the caller unchanged.
void LaunchApp(TAppLibraryItem* App);

// Windows programs have no meaning of their own on Linux: ".exe", ".cmd" and ".bat" are run through Wine,
// unless the file (looked up from Dir when relative) is a native program after all (ELF or "#!" script).
// Gives the program and parameter line to start; raises EOSError naming Wine when it is not installed.
struct TProgramCall {
    QString File;
    QString Params;
};
TProgramCall ResolveProgramCall(const QString& FileName, const QString& Params, const QString& Dir);

// The window-hiding tasks still running; they end when their launcher goes or at shut-down.
int RunningHideWndTasks();

// Start-up and shut-down of the launcher lists. DoneLaunchers stops every window-hiding task and waits
// for them, then frees the launchers.
void InitLaunchers();
void DoneLaunchers();
