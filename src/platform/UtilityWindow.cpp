#include "platform/UtilityWindow.h"

#include "platform/CriticalSection.h"
#include "platform/ThisModule.h"

#include <algorithm>
#include <memory>
#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;

const char* const UtilityWindowClassName = "TPUtilWindow";

namespace {

// The module's own instance: the DLL's, not the host program's.
HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

WNDPROC DefaultWindowProc() { return reinterpret_cast<WNDPROC>(reinterpret_cast<void*>(&DefWindowProcA)); }

// Routing glue: the window's user data holds it. Its lock keeps another
// thread from cutting the routing while the window's own thread is in the
// handler.
struct TWindowGlue {
  TCriticalSection Lock;
  TWindowHandler Handler;
  HWND Window = nullptr;
};

// Every glue alive, each for a window that can still call this module's
// code. A glue outlives its owner when the owner lets go of the window from
// another thread: the window's thread destroys it when it next pumps
// (WM_CLOSE), or the system does when that thread ends.
TCriticalSection& GluesLock() {
  static TCriticalSection lock;  // constructed once, even on first use from two threads at once
  return lock;
}
std::vector<TWindowGlue*>& Glues() {
  static std::vector<TWindowGlue*> glues;
  return glues;
}

// Removes the glue of window from the registry (call under GluesLock); null
// when there is none.
TWindowGlue* TakeGlue(HWND window) {
  std::vector<TWindowGlue*>& glues = Glues();
  auto found = std::find_if(glues.begin(), glues.end(), [&](TWindowGlue* glue) { return glue->Window == window; });
  if (found == glues.end()) return nullptr;
  TWindowGlue* glue = *found;
  glues.erase(found);
  return glue;
}

void FreeGlue(TWindowGlue* glue) {
  if (!glue) return;
  delete glue;
  CountModuleUse(false);
}

LRESULT CALLBACK UtilityWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* glue = reinterpret_cast<TWindowGlue*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!glue) return DefWindowProcA(window, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    // A window whose owner let go of it from another thread, closing.
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    const LRESULT result = DefWindowProcA(window, msg, wParam, lParam);
    TLockGuard guard(GluesLock());
    FreeGlue(TakeGlue(window));
    return result;
  }
  {
    TLockGuard guard(glue->Lock);
    if (glue->Handler) {
      TMessageRecord message{msg, wParam, lParam, 0};
      // An exception must not unwind through the system's dispatching frames.
      try {
        glue->Handler(message);
      } catch (...) {
        return 0;
      }
      return message.Result;
    }
  }
  // Cut off: the default procedure, outside the lock (WM_CLOSE destroys the
  // window, and its glue with it).
  return DefWindowProcA(window, msg, wParam, lParam);
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
    auto glue = std::make_unique<TWindowGlue>();
    glue->Handler = std::move(handler);
    glue->Window = window;
    {
      TLockGuard guard(GluesLock());
      Glues().push_back(glue.get());
    }
    CountModuleUse(true);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(glue.release()));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&UtilityWindowProc));
  }
  return window;
}

void DestroyUtilityWindow(HWND window) {
  if (!window) return;
  if (!OfAnotherThread(window)) {
    TWindowGlue* glue;
    {
      TLockGuard guard(GluesLock());
      glue = TakeGlue(window);
    }
    // The owner is being destroyed: the last messages of the window (destroy,
    // non-client destroy) go to the default procedure, not to the owner.
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
    FreeGlue(glue);
    return;
  }
  // Another thread's window: its messages no longer reach the owner, and its
  // thread closes it when it next pumps.
  TLockGuard guard(GluesLock());
  TWindowGlue* glue = nullptr;
  for (TWindowGlue* known : Glues())
    if (known->Window == window) glue = known;
  if (glue) {
    TLockGuard cut(glue->Lock);
    glue->Handler = nullptr;
  }
  if (!IsWindow(window))
    FreeGlue(TakeGlue(window));  // its thread has ended, and the system has destroyed it
  else
    PostMessageA(window, WM_CLOSE, 0, 0);
}

bool OfAnotherThread(HWND window) {
  return window && GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId();
}

LONG UtilityWindowCount() {
  TLockGuard guard(GluesLock());
  std::vector<TWindowGlue*>& glues = Glues();
  // Windows that went with their thread, without a word, are counted out.
  for (size_t i = glues.size(); i-- > 0;) {
    if (IsWindow(glues[i]->Window)) continue;
    FreeGlue(glues[i]);
    glues.erase(glues.begin() + static_cast<std::ptrdiff_t>(i));
  }
  return static_cast<LONG>(glues.size());
}

bool IsWindowsNT() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
