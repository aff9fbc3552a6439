#include "platform/UtilityWindow.h"

#include "platform/CriticalSection.h"
#include "platform/ThisModule.h"

#include <memory>

extern "C" IMAGE_DOS_HEADER __ImageBase;

const char* const UtilityWindowClassName = "TPUtilWindow";

namespace {

volatile LONG liveWindows = 0;

// The module's own instance: the DLL's, not the host program's.
HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

WNDPROC DefaultWindowProc() { return reinterpret_cast<WNDPROC>(reinterpret_cast<void*>(&DefWindowProcA)); }

// Routing glue: the window's user data holds the handler it was created with.
LRESULT CALLBACK UtilityWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* handler = reinterpret_cast<TWindowHandler*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!handler || !*handler) return DefWindowProcA(window, msg, wParam, lParam);
  TMessageRecord message{msg, wParam, lParam, 0};
  // An exception must not unwind through the system's dispatching frames.
  try {
    (*handler)(message);
  } catch (...) {
    return 0;
  }
  return message.Result;
}

// The window class is process-wide while objects are made on any thread of
// the host: checking, replacing and adding the class, and creating a window of
// it, happen under one lock, so that no thread removes the class another has
// just found or added before that one's window exists.
TCriticalSection& WindowClassLock() {
  static TCriticalSection lock;  // constructed once, even on first use from two threads at once
  return lock;
}

void EnsureWindowClass() {
  WNDCLASSA known{};
  BOOL registered = GetClassInfoA(ModuleInstance(), UtilityWindowClassName, &known);
  if (registered && known.lpfnWndProc == DefaultWindowProc()) return;
  // Someone else's class of that name routes elsewhere: replace it.
  if (registered) UnregisterClassA(UtilityWindowClassName, ModuleInstance());
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefaultWindowProc();
  windowClass.hInstance = ModuleInstance();
  windowClass.lpszClassName = UtilityWindowClassName;
  RegisterClassA(&windowClass);  // a failure shows as a window that cannot be created
}

}  // namespace

HWND CreateUtilityWindow(TWindowHandler handler) {
  HWND window;
  {
    // Creation calls only the default procedure, never back into this module.
    TLockGuard guard(WindowClassLock());
    EnsureWindowClass();
    window = CreateWindowExA(WS_EX_TOOLWINDOW, UtilityWindowClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                             nullptr, ModuleInstance(), nullptr);
  }
  if (window) {
    InterlockedIncrement(&liveWindows);
    CountModuleUse(true);
  }
  if (window && handler) {
    auto glue = std::make_unique<TWindowHandler>(std::move(handler));
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(glue.release()));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&UtilityWindowProc));
  }
  return window;
}

void DestroyUtilityWindow(HWND window) {
  if (!window) return;
  auto procedure = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
  auto* handler = reinterpret_cast<TWindowHandler*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  // The owner is being destroyed: the last messages of the window (destroy,
  // non-client destroy) go to the default procedure, not to the owner.
  SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(window);
  } else if (IsWindow(window)) {
    // Another thread's window: it keeps only the default procedure, which
    // closes it on WM_CLOSE, and so no longer calls this module.
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefaultWindowProc()));
    PostMessageA(window, WM_CLOSE, 0, 0);
  }  // else its thread has ended, and the system has destroyed it
  if (procedure != DefaultWindowProc()) delete handler;
  InterlockedDecrement(&liveWindows);
  CountModuleUse(false);
}

LONG UtilityWindowCount() { return InterlockedCompareExchange(&liveWindows, 0, 0); }

bool IsWindowsNT() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
