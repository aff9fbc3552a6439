// Hidden utility windows that route their messages to an owner's handler,
// and the platform family query. A window belongs to the thread that made it:
// only that thread gets its messages and can destroy it.
#pragma once

#include <windows.h>

#include <functional>

#include "platform/MessagePump.h"

// The record a window handler receives; the handler fills Result.
struct TMessageRecord {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

using TWindowHandler = std::function<void(TMessageRecord& Message)>;

extern const char* const UtilityWindowClassName;  // "TPUtilWindow"

// Creates a hidden window of class "TPUtilWindow" whose messages go to the
// handler (to the default window procedure when the handler is empty).
// Returns null when the window cannot be created.
HWND CreateUtilityWindow(TWindowHandler handler);
// Destroys the window and releases its routing. Null is ignored. Called on
// another thread than the window's, it cuts the routing to the handler at
// once, and the window's thread closes the window when it next pumps (the
// system destroys it should that thread end first).
void DestroyUtilityWindow(HWND window);

// A window (not null) that the calling thread did not make, or that is gone:
// it can neither carry this thread's notices nor be destroyed from here.
bool OfAnotherThread(HWND window);

// Windows made by CreateUtilityWindow with a handler and not destroyed yet:
// their messages call this module's code, so it must stay loaded.
LONG UtilityWindowCount();

// True when the operating system is of the NT family.
bool IsWindowsNT();
