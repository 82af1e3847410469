#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Starting programs and opening documents the way the desktop shell does.
//
// Parameter texts are one command-line text, as the games' configuration files carry them; on Linux it
// is split into arguments by SplitParameters.

enum class TShowMode { Normal, Hidden };

struct TShellCall {
    enum class TKind {
        Open,          // PlatformShellOpen
        Start,         // PlatformShellStart
        ElevatedWait,  // PlatformRunElevatedAndWait
    };
    TKind Kind = TKind::Open;
    QString File;          // the program, or the document or address to open
    QString Parameters;
    QString WorkingFolder;
    TShowMode Show = TShowMode::Normal;
};

// Opens a file, folder or web address with the user's default program (Linux: xdg-open), detached.
// False when the opener cannot be started.
bool PlatformShellOpen(const QString& Target);

// Starts a program detached from the launcher, in WorkingFolder (empty: the launcher's own). A bare
// file name is looked up in WorkingFolder first, then on PATH. Hidden has no effect on Linux: a program's
// windows are its own. Raises EOSError with the system's code when the program cannot be started.
void PlatformShellStart(const QString& File, const QString& Parameters, const QString& WorkingFolder,
                        TShowMode Show = TShowMode::Normal);

// Runs a program with administrator rights and returns when it has ended; its exit code is not looked
// at. Linux: directly when already root, otherwise through pkexec. Raises EOSError when the program
// (or pkexec) cannot be started.
void PlatformRunElevatedAndWait(const QString& File, const QString& Parameters);

// Splits a parameter text into arguments at blanks; double quotes group, three double quotes in a row
// stand for one literal quote (QProcess::splitCommand).
QStringList SplitParameters(const QString& Parameters);

// While a hook is set, every call above is handed to it instead of the system; a false result counts as
// a program that could not be started (EOSError with ENOENT). Tests use it to record what would run.
// An empty hook restores the real calls. Safe to use from any thread.
using TShellHook = std::function<bool(const TShellCall&)>;
// Returns the hook set before.
TShellHook SetShellHook(TShellHook Hook);

// Sets a hook for the life of the object and restores the previous one afterwards.
class TScopedShellHook {
public:
    explicit TScopedShellHook(TShellHook Hook);
    ~TScopedShellHook();
    TScopedShellHook(const TScopedShellHook&) = delete;
    TScopedShellHook& operator=(const TScopedShellHook&) = delete;

private:
    TShellHook FPrevious;
};
