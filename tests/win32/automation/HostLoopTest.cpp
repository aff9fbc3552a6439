// GetURL pumps the host's thread while it waits, on the host's behalf: the
// host's own messages reach its windows as its own loop would deliver them
// (in the window's character width, keys through the active dialog), its
// WM_QUIT is still there when the call returns, and a release of the object
// by a message dispatched meanwhile takes effect once the call has returned.
// Each case runs on a thread of its own, whose queue it alone fills.
#include <gtest/gtest.h>
#include <objbase.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ScriptConn.h"

namespace {

using THandler = std::function<void(HWND, UINT, WPARAM)>;

LRESULT CALLBACK TestWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
  auto* handler = reinterpret_cast<THandler*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (handler && msg >= WM_KEYFIRST) (*handler)(window, msg, wParam);
  return IsWindowUnicode(window) ? DefWindowProcW(window, msg, wParam, lParam)
                                 : DefWindowProcA(window, msg, wParam, lParam);
}

// A window of the test's own, of either character width.
HWND TestWindow(bool wide, THandler* handler)
{
  static const bool registered = [] {
    WNDCLASSW w{};
    w.lpfnWndProc = &TestWindowProc;
    w.hInstance = GetModuleHandleW(nullptr);
    w.lpszClassName = L"KestrelHostLoopW";
    WNDCLASSA a{};
    a.lpfnWndProc = &TestWindowProc;
    a.hInstance = GetModuleHandleW(nullptr);
    a.lpszClassName = "KestrelHostLoopA";
    return RegisterClassW(&w) != 0 && RegisterClassA(&a) != 0;
  }();
  EXPECT_TRUE(registered);
  HWND window = wide ? CreateWindowExW(0, L"KestrelHostLoopW", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                       GetModuleHandleW(nullptr), nullptr)
                     : CreateWindowExA(0, "KestrelHostLoopA", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                       GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(handler));
  return window;
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// A visible dialog of two edit boxes (ids 100 and 101) that Tab moves between.
HWND TwoEditDialog()
{
  static std::vector<WORD> form;
  if (form.empty()) {
    auto dword = [](DWORD value) {
      form.push_back(LOWORD(value));
      form.push_back(HIWORD(value));
    };
    dword(WS_POPUP | WS_VISIBLE | WS_CAPTION);
    dword(0);
    for (WORD value : {2, 0, 0, 120, 60, 0, 0, 0}) form.push_back(value);  // items, place, no menu, class, title
    for (WORD item = 0; item < 2; ++item) {
      if (form.size() % 2) form.push_back(0);  // items start on a DWORD
      dword(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER);
      dword(0);
      const int fields[] = {5, 5 + 20 * item, 100, 12, 100 + item, 0xFFFF, 0x0081, 0, 0};
      for (int value : fields) form.push_back(static_cast<WORD>(value));  // place, id, the edit class, no title, no data
    }
  }
  return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(form.data()),
                                    nullptr, &PlainDialogProc, 0);
}

// What one case saw of the host's messages.
struct TSeen {
  std::vector<WPARAM> Chars;
  std::wstring Reentered;  // what a handler read of the object while GetURL ran
  HWND Window = nullptr;
  HWND Dialog = nullptr;
  THandler Handler;
};

struct THostLoopCase {
  const char* Name;
  std::function<void(TSeen&)> Before;  // posts the host's messages before GetURL
  std::function<void(TSeen&)> After;   // checks them after it
};

}  // namespace

TEST(HostLoop, TheHostsMessagesAreDeliveredAsItsOwnLoopWould)
{
  const std::wstring base = ScenarioBase();
  ASSERT_FALSE(base.empty()) << "KESTREL_SCENARIO_PORT is not set: start tests/servers/servers.sh";
  const THostLoopCase cases[] = {
      {"WM_QUIT is posted again with its exit code",
       [](TSeen&) { PostQuitMessage(42); },
       [](TSeen&) {
         // The queue gives WM_QUIT once nothing else is waiting.
         MSG msg{};
         std::vector<UINT> before;
         for (int n = 0; n < 100 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message != WM_QUIT; ++n) {
           before.push_back(msg.message);
           DispatchMessageW(&msg);
         }
         EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT)) << "after " << ::testing::PrintToString(before);
         EXPECT_EQ(msg.wParam, 42u);
       }},
      {"a Unicode window gets a character outside the ANSI code page",
       [](TSeen& seen) {
         seen.Window = TestWindow(true, &seen.Handler);
         PostMessageW(seen.Window, WM_CHAR, 0x4E2D, 1);
       },
       [](TSeen& seen) { EXPECT_EQ(seen.Chars, std::vector<WPARAM>{0x4E2D}); }},
      {"an ANSI window gets its byte",
       [](TSeen& seen) {
         seen.Window = TestWindow(false, &seen.Handler);
         PostMessageA(seen.Window, WM_CHAR, 0xE4, 1);
       },
       [](TSeen& seen) { EXPECT_EQ(seen.Chars, std::vector<WPARAM>{0xE4}); }},
      {"a handler reads the object while GetURL runs, and may not start another request",
       [](TSeen& seen) {
         seen.Window = TestWindow(true, &seen.Handler);
         PostMessageW(seen.Window, WM_APP, 0, 0);
       },
       [](TSeen& seen) {
         EXPECT_EQ(seen.Reentered, ScenarioBase() + L"s/hello?delay=100 / A request is already running on this object");
       }},
      {"Tab moves the focus in the active dialog",
       [](TSeen& seen) {
         seen.Dialog = TwoEditDialog();
         ASSERT_NE(seen.Dialog, nullptr);
         SetActiveWindow(seen.Dialog);
         SetFocus(GetDlgItem(seen.Dialog, 100));
         ASSERT_EQ(GetFocus(), GetDlgItem(seen.Dialog, 100));
         PostMessageW(GetDlgItem(seen.Dialog, 100), WM_KEYDOWN, VK_TAB, 1);
       },
       [](TSeen& seen) { EXPECT_EQ(GetFocus(), GetDlgItem(seen.Dialog, 101)); }},
  };
  for (const THostLoopCase& row : cases) {
    std::thread host([&] {
      SCOPED_TRACE(row.Name);
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      {
        TScriptConn conn;
        TSeen seen;
        seen.Handler = [&](HWND, UINT msg, WPARAM wParam) {
          if (msg == WM_CHAR) seen.Chars.push_back(wParam);
          if (msg != WM_APP) return;
          const std::wstring url = conn.Get(L"URL");
          conn.GetURL();
          seen.Reentered = url + L" / " + conn.Get(L"Error");
        };
        row.Before(seen);
        EXPECT_EQ(conn.Fetch(base + L"s/hello?delay=100"), L"Hello from the scenario server.\r\n");
        row.After(seen);
        if (seen.Window) DestroyWindow(seen.Window);
        if (seen.Dialog) DestroyWindow(seen.Dialog);
      }
      CoUninitialize();
    });
    host.join();
  }
}

namespace {

// The one reference to the object, given back by a message GetURL dispatches.
IConn* lastReference = nullptr;
HRESULT canUnloadInside = E_FAIL;

}  // namespace

TEST(HostLoop, ReleaseInsideThePumpTakesEffectWhenTheCallReturns)
{
  const std::wstring base = ScenarioBase();
  ASSERT_FALSE(base.empty());
  std::thread host([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      TComPtr<IConn> made = NewConn();
      lastReference = made.Copy();
      made.Reset();
      const TBstr url(base + L"s/hello?delay=200");
      lastReference->put_URL(url.Get());
      THandler release = [](HWND, UINT msg, WPARAM) {
        if (msg != WM_APP) return;
        lastReference->Release();
        canUnloadInside = KestrelDll().CanUnloadNow();
      };
      HWND window = TestWindow(true, &release);
      PostMessageW(window, WM_APP, 0, 0);
      TBstr body;
      EXPECT_EQ(lastReference->GetURL(body.Out()), S_OK);
      EXPECT_EQ(body.Text(), L"Hello from the scenario server.\r\n");
      EXPECT_EQ(canUnloadInside, S_FALSE) << "the object lives while its call runs";
      EXPECT_EQ(KestrelDll().CanUnloadNow(), S_OK) << "and is gone once it returned";
      DestroyWindow(window);
    }
    CoUninitialize();
  });
  host.join();
}
