#pragma once

class QWidget;

// Start-up and shut-down steps of units that are not in the program yet. src/main.cpp calls them; a
// default that does nothing is linked in as a weak symbol, so a normal definition with the same name and
// signature at global scope replaces it. With static libraries the linker takes an archive member only
// for a symbol still missing, so once a unit exists, main.cpp should call it directly (as it does for
// the libraries, the pipe and the URL protocol) and the hook here should go.

// Module shut-down, in the order main() calls them.
void StopMainWindowModule();     // forgets the saved caption of the user button
