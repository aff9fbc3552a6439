// The guard every call into a Conn object runs under. The class is
// registered for any apartment, so a host may call one object from several
// threads: one call runs at a time, and whatever the call needs of a thread
// (the windows that socket notices and timer ticks come to) belongs to the
// thread of the running call: a call from another thread than the last one's
// gives up the last one's and makes its own.
// The object and the module stay alive for the whole call, however many
// references a message dispatched by its pump gives back meanwhile.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "ComError.h"
#include "platform/CriticalSection.h"
#include "platform/MessagePump.h"
#include "platform/ThisModule.h"

class TConn;

// One object's turn: the thread that holds it may enter again (a call
// dispatched by its own pump); another waits for it, for a bounded time.
class TCallTurn {
public:
  TCallTurn();
  ~TCallTurn();
  TCallTurn(const TCallTurn&) = delete;
  TCallTurn& operator=(const TCallTurn&) = delete;

  // Enters for the calling thread; false when another thread kept the turn
  // for longer than the wait limit. Depth() then tells the entry's nesting.
  bool Enter();
  // Leaves one entry; the last one of the thread hands the turn on.
  void Leave();
  // Entries the holding thread has made; call only while holding the turn.
  int Depth() const { return depth_; }
  // How long Enter waits for another thread's call to end.
  void SetWaitLimit(DWORD milliseconds) { InterlockedExchange(&waitLimitMs_, static_cast<LONG>(milliseconds)); }

private:
  TCriticalSection state_;
  HANDLE freed_ = nullptr;  // auto-reset, set when a waited-for turn is handed on; made at the first wait
  DWORD owner_ = 0;
  int depth_ = 0;
  int waiters_ = 0;
  volatile LONG waitLimitMs_;
};

class TCallGuard {
public:
  // Takes a reference to the object (through its controlling IUnknown) and
  // the object's turn.
  TCallGuard(IUnknown* controller, TCallTurn& turn, TConn& conn, const TErrorOrigin& origin);
  ~TCallGuard();
  TCallGuard(const TCallGuard&) = delete;
  TCallGuard& operator=(const TCallGuard&) = delete;

  // Whether the call got its turn and may run.
  explicit operator bool() const { return entered_; }
  // The failure of a call that did not get its turn, its error information set.
  HRESULT Refusal() const;

private:
  TModuleUse moduleUse_;
  TPumpScope pumpScope_;
  IUnknown* controller_;
  TCallTurn& turn_;
  TConn& conn_;
  const TErrorOrigin& origin_;
  bool entered_ = false;
};

// What a call that waited its turn in vain reports.
extern const char* const CallBusyText;
