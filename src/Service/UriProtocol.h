#pragma once

#include <QString>
#include <memory>

class QObject;
class QTimer;

// The "tarvenox" URL scheme: links tarvenox://... on the service's pages start this executable with the
// link as its only argument.
//
// Linux form: a desktop entry "tarvenox-url-handler.desktop" in $XDG_DATA_HOME/applications that handles
// x-scheme-handler/tarvenox, made the default handler in $XDG_CONFIG_HOME/mimeapps.list. Both are per
// user, so nothing here needs administrator rights.

inline constexpr const char* UrlHandlerDesktopId = "tarvenox-url-handler.desktop";
inline constexpr const char* UrlSchemeMimeType = "x-scheme-handler/tarvenox";
inline constexpr const char* RegisterUrlProtocolWord = "register-url-protocol";
inline constexpr const char* UnregisterUrlProtocolWord = "unregister-url-protocol";

// The desktop entry's command for an executable: its path in double quotes, then the link (%u), with the
// path escaped for the Exec rules and the key file. Empty when a path cannot be written into an entry.
QString UrlProtocolCommandText(const QString& Executable);

// Where the two files live for the current environment (read on every call).
QString UrlHandlerDesktopFileName();
QString MimeAppsListFileName();

// Writes what is missing of the registration, points the command at this executable when it points
// elsewhere, then opens the integration on page. Silent: any failure ends it before the page opens.
void RegisterUrlProtocol();
// Removes the registration, then opens the integration off page once none is left. Silent.
void UnregisterUrlProtocol();
// True when the handler entry exists, handles the scheme, has a command and is the default handler.
// The command is not compared with this executable: another copy of the launcher counts. Never raises.
bool IsUrlProtocolRegistered();

// Runs FileName with Parameters with administrator rights and waits until it has ended. Raises EOSError
// when it cannot be started (for example the user declined the prompt).
void RunElevatedAndWait(const QString& FileName, const QString& Parameters);

// The work behind the command-line words "register-url-protocol" and "unregister-url-protocol" (letter
// case ignored; other texts do nothing). Where the registration is per user, as here, the windows call
// this directly instead of starting an elevated copy of the program with the word.
void RunUrlProtocolCommand(const QString& Cmd);

// Offers the user to switch the integration on. The windows register the implementation at start-up, so
// this unit never touches widgets.
class IBrowserIntegrationPrompt {
public:
    virtual ~IBrowserIntegrationPrompt() = default;
    // Shows the offer modally over Owner (a window, or nullptr) and returns when it has been closed.
    virtual void ShowModal(QObject* Owner) = 0;
};

// Takes ownership; replaces the one registered before. Main thread only.
void RegisterBrowserIntegrationPrompt(std::unique_ptr<IBrowserIntegrationPrompt> Prompt);
// The registered prompt, or nullptr when none is.
IBrowserIntegrationPrompt* BrowserIntegrationPrompt();

// The start check, run once from a one-shot timer of the main window: frees the timer, and when the
// check is switched on (Core::CheckBrowserIntegration) and the scheme is not registered, shows the prompt
// with the timer's parent as owner. Main thread.
void CheckBrowserIntegrationOnStart(QTimer* Timer);
