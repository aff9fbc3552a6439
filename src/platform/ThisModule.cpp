#include "platform/ThisModule.h"

#include "platform/UtilityWindow.h"

HMODULE ThisModule()
{
  static const HMODULE module = [] {
    HMODULE handle = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &handle);
    return handle;
  }();
  return module;
}

bool AddModuleReference()
{
  HMODULE handle = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ThisModule),
                            &handle) != 0;
}

namespace {
volatile LONG moduleUses = 0;
}

void CountModuleUse(bool add)
{
  if (add)
    InterlockedIncrement(&moduleUses);
  else
    InterlockedDecrement(&moduleUses);
}

LONG ModuleUseCount() { return InterlockedCompareExchange(&moduleUses, 0, 0); }

bool ModuleInUse()
{
  UtilityWindowCount();
  return ModuleUseCount() > 0;
}
