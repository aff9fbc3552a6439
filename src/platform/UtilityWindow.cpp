#include "platform/UtilityWindow.h"

#include "codecs/MessagePumpHook.h"
#include "platform/CriticalSection.h"

#include <memory>

extern "C" IMAGE_DOS_HEADER __ImageBase;

const char* const UtilityWindowClassName = "TPUtilWindow";

namespace {

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
  DestroyWindow(window);
  if (procedure != DefaultWindowProc()) delete handler;
}

// Passes are bounded so that handlers which keep posting cannot hold one for
// ever; whatever remains is taken by the next pass.
const int MaxMessagesPerPass = 100000;

void PumpMessages() {
  PumpMessagesUntil([] { return false; });
}

void PumpMessagesUntil(const std::function<bool()>& over) {
  MSG msg;
  for (int dispatched = 0; dispatched < MaxMessagesPerPass && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
       ++dispatched) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    if (over()) break;
  }
}

void IdleWait(DWORD milliseconds) {
  MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_ALLINPUT);
}

void DiscardMessages(HWND window, UINT first, UINT last) {
  if (!window) return;
  MSG msg;
  for (int removed = 0; removed < MaxMessagesPerPass && PeekMessageA(&msg, window, first, last, PM_REMOVE);
       ++removed) {
  }
}

bool IsWindowsNT() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// The portable decoders pump through a hook; this is the pump they get.
namespace {
const bool PumpHookInstalled = (SetMessagePumpHook(&PumpMessages), true);
}
