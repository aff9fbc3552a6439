// This module, for work handed to the system's thread pool: a callback that
// runs code of the module holds a reference to it and hands it back as it
// returns (FreeLibraryWhenCallbackReturns), so that the module cannot be
// unloaded under it, even when its caller no longer waits for it.
//
// It also counts what can still call into the module without a caller of it
// on the stack (windows routed to its code, pool work): the module must not
// say it can be unloaded while any of them lives.
#pragma once

#include <windows.h>

// The module holding this code, looked up once, without a reference of its own.
HMODULE ThisModule();

// One more reference to this module, for a callback to hand back; false when
// none could be taken (the work must then not be handed out).
bool AddModuleReference();

// Windows and pool work of this module alive now.
void CountModuleUse(bool add);
LONG ModuleUseCount();
// Whether any of them is alive; windows that went with their thread are
// counted out first.
bool ModuleInUse();

// Counts one use for its own life.
class TModuleUse {
public:
  TModuleUse() { CountModuleUse(true); }
  ~TModuleUse() { CountModuleUse(false); }
  TModuleUse(const TModuleUse&) = delete;
  TModuleUse& operator=(const TModuleUse&) = delete;
};
