#pragma once

class QWidget;

// Start-up and shut-down steps of units that are not in the program yet. src/main.cpp calls them; a
// default that does nothing is linked in as a weak symbol, so a normal definition with the same name and
// signature at global scope replaces it. With static libraries the linker takes an archive member only
// for a symbol still missing, so once a unit exists, main.cpp should call it directly (as it does for
// the libraries, the pipe and the URL protocol) and the hook here should go.

// Module start-up, in the order main() calls them after the libraries.
void StartErrorReportModule();    // handler of unhandled errors, unless one is set
void StartImageProviderModule();  // the single image provider
void StartPlayMonitoringModule(); // watcher worker pool (at most 1000 threads) and watcher list
void StartLauncherModule();       // the launcher lists

// Module shut-down, in the order main() calls them.
void StopMainWindowModule();     // forgets the saved caption of the user button
void StopLauncherModule();       // marks the launcher as terminating and frees its lists
void StopPlayMonitoringModule(); // watcher list and its pool
void StopImageProviderModule();
void StopInstallTasksModule(); // clears install and update task lists

// The windows made after the main window, hidden and reused (game information, catalog page).
void CreateReusableWindows(QWidget* mainWindow);
