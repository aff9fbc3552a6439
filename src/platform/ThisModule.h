// This module, for work handed to the system's thread pool: a callback that
// runs code of the module holds a reference to it and hands it back as it
// returns (FreeLibraryWhenCallbackReturns), so that the module cannot be
// unloaded under it, even when its caller no longer waits for it.
#pragma once

#include <windows.h>

// The module holding this code, looked up once, without a reference of its own.
HMODULE ThisModule();

// One more reference to this module, for a callback to hand back; false when
// none could be taken (the work must then not be handed out).
bool AddModuleReference();
