// A lock for the little state that threads of a host share: the window
// class and the socket library's load state (statics, set up while the
// module loads and torn down when it unloads), and an object's turn.
#pragma once

#include <windows.h>

class TCriticalSection {
public:
  TCriticalSection() { InitializeCriticalSection(&FSection); }
  ~TCriticalSection() { DeleteCriticalSection(&FSection); }
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  void Enter() { EnterCriticalSection(&FSection); }
  void Leave() { LeaveCriticalSection(&FSection); }

private:
  CRITICAL_SECTION FSection;
};

// Holds the lock for the length of a scope.
class TLockGuard {
public:
  explicit TLockGuard(TCriticalSection& section) : FSection(section) { FSection.Enter(); }
  ~TLockGuard() { FSection.Leave(); }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

private:
  TCriticalSection& FSection;
};
