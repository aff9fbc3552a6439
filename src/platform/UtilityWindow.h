// Hidden utility windows that route their messages to an owner's handler, the
// non-blocking message pump every wait loop runs, and the platform family query.
#pragma once

#include <windows.h>

#include <functional>

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
// Destroys the window and releases its routing. Null is ignored.
void DestroyUtilityWindow(HWND window);

// One pass over the calling thread's queue: dispatches every waiting message
// and returns; never waits.
void PumpMessages();

// The pass of a wait: dispatches waiting messages until none remain or, after
// one, the wait is over. Every pass over an empty queue is a round trip to
// the system; once the awaited notice is in, the rest waits for the next pass.
void PumpMessagesUntil(const std::function<bool()>& over);

// The idle step of every wait: sleeps up to the given milliseconds, and
// returns as soon as a message arrives in the thread's queue, so that a
// notice is pumped without waiting out the sleep.
void IdleWait(DWORD milliseconds);

// Removes, without dispatching, the queued messages of one window in the
// range first..last (notices that belong to a socket already closed).
void DiscardMessages(HWND window, UINT first, UINT last);

// True when the operating system is of the NT family.
bool IsWindowsNT();
