// Test helper: pumps the thread's messages until a condition holds, for at
// most boundMs milliseconds. The bound only guards against a hang; no test
// depends on how fast the condition comes.
#pragma once

#include "platform/UtilityWindow.h"

#include <functional>

inline bool PumpUntil(const std::function<bool()>& condition, DWORD boundMs = 10000) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < boundMs) {
    PumpMessages();
    if (condition()) return true;
    Sleep(5);
  }
  return condition();
}
