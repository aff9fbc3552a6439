// Loading a system library by name at run time, as the socket library and
// the security package are bound.
#pragma once

#include <windows.h>

// The library's handle, or null when it cannot be loaded. No "cannot find the
// file" box may appear on a server's desktop meanwhile.
inline HMODULE LoadSystemLibrary(const char* name) {
  UINT previousMode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
  HMODULE handle = LoadLibraryA(name);
  SetErrorMode(previousMode);
  return handle;
}
