#include "CallGuard.h"

#include <algorithm>

#include "Conn.h"

const char* const CallBusyText = "The object is busy with a call on another thread";

namespace {
const DWORD DefaultWaitLimitMs = 60000;  // a new object's TimeOut
const DWORD LongestWaitLimitMs = 0x7FFFFFFF;
}  // namespace

TCallTurn::TCallTurn() : waitLimitMs_(DefaultWaitLimitMs) {}

TCallTurn::~TCallTurn()
{
  if (freed_) CloseHandle(freed_);
}

bool TCallTurn::Enter()
{
  const DWORD self = GetCurrentThreadId();
  const DWORD start = GetTickCount();
  const DWORD limit = static_cast<DWORD>(InterlockedCompareExchange(&waitLimitMs_, 0, 0));
  // Bounded by the wait limit: each round waits out at most what is left of it.
  for (;;) {
    HANDLE freed;
    {
      TLockGuard lock(state_);
      if (owner_ == 0 || owner_ == self) {
        owner_ = self;
        ++depth_;
        return true;
      }
      if (!freed_) freed_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
      freed = freed_;
      ++waiters_;
    }
    const DWORD waited = GetTickCount() - start;
    // Without an event (no resources left) the round is a short sleep.
    if (waited < limit) {
      if (freed)
        WaitForSingleObject(freed, limit - waited);
      else
        Sleep(std::min<DWORD>(limit - waited, 10));
    }
    {
      TLockGuard lock(state_);
      --waiters_;
    }
    if (waited >= limit) return false;
  }
}

void TCallTurn::Leave()
{
  TLockGuard lock(state_);
  if (--depth_ == 0) {
    owner_ = 0;
    if (waiters_ > 0 && freed_) SetEvent(freed_);
  }
}

TCallGuard::TCallGuard(IUnknown* controller, TCallTurn& turn, TConn& conn, const TErrorOrigin& origin)
    : controller_(controller), turn_(turn), conn_(conn), origin_(origin)
{
  controller_->AddRef();
  entered_ = turn_.Enter();
  // Nothing of an earlier call on another thread may go on working for this one.
  if (entered_ && turn_.Depth() == 1) {
    try {
      conn_.FollowCallingThread();
    } catch (...) {  // the socket library unloaded: the call reports that itself
    }
  }
}

TCallGuard::~TCallGuard()
{
  if (entered_) {
    if (turn_.Depth() == 1) {
      const DWORD seconds = static_cast<DWORD>(std::max(conn_.TimeOut(), 1));
      turn_.SetWaitLimit(std::min<DWORD>(seconds, LongestWaitLimitMs / 1000) * 1000);
    }
    turn_.Leave();
  }
  // The last reference may go here: the object is destroyed after its call.
  controller_->Release();
}

HRESULT TCallGuard::Refusal() const
{
  return ReportComError(origin_, CallBusyText, HRESULT_FROM_WIN32(ERROR_BUSY));
}
