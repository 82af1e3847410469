#pragma once

#include <QString>

#include <functional>

// Hiding another program's top-level window by its title. libX11 is loaded at run time, so the launcher
// runs (and builds) without it; without libX11 or a display there is simply no window to hide.

enum class THideWindowResult {
    Hidden,    // a window with the title was found and withdrawn
    NotFound,  // the display has no such window (yet)
    NoDisplay, // no libX11 or no display: nothing can ever be found
};

// Looks through every top-level window of the display named by $DISPLAY (also those a window manager has
// reparented) for one whose title (_NET_WM_NAME, else WM_NAME) is exactly Title, and withdraws the
// first one found. Safe to call from any thread: each call uses its own display connection.
THideWindowResult PlatformHideWindowByTitle(const QString& Title);

// While a hook is set, PlatformHideWindowByTitle asks it instead of the display; tests use it to follow
// the hiding task. An empty hook restores the display. Returns the hook set before. Any thread.
using THideWindowHook = std::function<THideWindowResult(const QString& Title)>;
THideWindowHook SetHideWindowHook(THideWindowHook Hook);
