// The non-blocking message pump every wait loop runs. It pumps the host's
// thread on the host's behalf, so it behaves as the host's own loop would:
// each window gets its text in its own character width, keys go to the
// active dialog first, and a WM_QUIT it takes out goes back into the queue,
// with its exit code, before the host has its thread again.
#pragma once

#include <windows.h>

#include <functional>

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

// While one of these lives on a thread, a WM_QUIT the pump takes out is kept
// and posted again as the outermost one ends; scopes nest. Without one, the
// pump posts it again at the end of its pass. A wait holds one, so that the
// host's quit neither ends the wait nor spins it.
class TPumpScope {
public:
  TPumpScope();
  ~TPumpScope();
  TPumpScope(const TPumpScope&) = delete;
  TPumpScope& operator=(const TPumpScope&) = delete;

  // The quit kept for the thread. Scopes nest on their thread, so the
  // outermost one outlives the rest and holds it: nothing is allocated
  // for the calls that open a scope.
  struct TQuit {
    bool Kept = false;
    WPARAM Code = 0;
  };

private:
  TQuit FQuit;
  bool FOutermost = false;
};
