// A process-wide lock for the little state that threads of a host share: the
// window class and the socket library's load state. Objects of this class
// live as statics, set up while the module loads (before any host thread can
// call in) and torn down when it unloads.
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
