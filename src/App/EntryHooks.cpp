#include "App/EntryHooks.h"

// Defaults for units that are not part of the program yet; see EntryHooks.h.
#define TARVENOX_HOOK __attribute__((weak))

TARVENOX_HOOK void StopMainWindowModule() {
}
