// Utility windows route their messages to the owner's handler, only through
// the pump; the class is shared and replaced when another procedure owns it.
#include "platform/UtilityWindow.h"

#include "PumpUntil.h"

#include <thread>

#include <gtest/gtest.h>

#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

HINSTANCE Instance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

WNDPROC ClassProcedure() {
  WNDCLASSA info{};
  if (!GetClassInfoA(Instance(), UtilityWindowClassName, &info)) return nullptr;
  return info.lpfnWndProc;
}

LRESULT CALLBACK ForeignProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, msg, wParam, lParam);
}

}  // namespace

TEST(UtilityWindow, RoutesMessagesToItsHandlerOnlyThroughThePump) {
  int received = 0;
  HWND window = CreateUtilityWindow([&](TMessageRecord& message) {
    if (message.Msg == WM_USER + 7) {
      ++received;
      EXPECT_EQ(message.WParam, 11u);
      EXPECT_EQ(message.LParam, 22);
      message.Result = 33;
    } else {
      message.Result = DefWindowProcA(nullptr, message.Msg, message.WParam, message.LParam);
    }
  });
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindowVisible(window));
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  EXPECT_STREQ(className, "TPUtilWindow");

  ASSERT_TRUE(PostMessageA(window, WM_USER + 7, 11, 22));
  Sleep(20);
  EXPECT_EQ(received, 0);
  PumpMessages();
  EXPECT_EQ(received, 1);
  // The handler's Result is the window procedure's result.
  EXPECT_EQ(SendMessageA(window, WM_USER + 7, 11, 22), 33);
  EXPECT_EQ(received, 2);

  DestroyUtilityWindow(window);
  EXPECT_FALSE(IsWindow(window));
  DestroyUtilityWindow(nullptr);  // ignored
}

TEST(UtilityWindow, WithoutHandlerKeepsTheDefaultProcedure) {
  HWND window = CreateUtilityWindow(nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC)),
            reinterpret_cast<WNDPROC>(reinterpret_cast<void*>(&DefWindowProcA)));
  DestroyUtilityWindow(window);
  EXPECT_FALSE(IsWindow(window));
}

TEST(UtilityWindow, ReplacesAClassOfThatNameWithAnotherProcedure) {
  HWND first = CreateUtilityWindow(nullptr);
  DestroyUtilityWindow(first);
  ASSERT_TRUE(UnregisterClassA(UtilityWindowClassName, Instance()));
  WNDCLASSA foreign{};
  foreign.lpfnWndProc = &ForeignProcedure;
  foreign.hInstance = Instance();
  foreign.lpszClassName = UtilityWindowClassName;
  ASSERT_NE(RegisterClassA(&foreign), 0);
  ASSERT_EQ(ClassProcedure(), &ForeignProcedure);

  HWND window = CreateUtilityWindow(nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(ClassProcedure(), reinterpret_cast<WNDPROC>(reinterpret_cast<void*>(&DefWindowProcA)));
  // A second window reuses the class.
  HWND second = CreateUtilityWindow(nullptr);
  EXPECT_NE(second, nullptr);
  DestroyUtilityWindow(second);
  DestroyUtilityWindow(window);
}

TEST(UtilityWindow, HandlerErrorsDoNotEscapeThePump) {
  bool called = false;
  HWND window = CreateUtilityWindow([&](TMessageRecord& message) {
    if (message.Msg == WM_USER + 8) {
      called = true;
      throw std::runtime_error("handler failed");
    }
    message.Result = DefWindowProcA(nullptr, message.Msg, message.WParam, message.LParam);
  });
  PostMessageA(window, WM_USER + 8, 0, 0);
  EXPECT_NO_THROW(PumpMessages());
  EXPECT_TRUE(called);
  DestroyUtilityWindow(window);
}

TEST(UtilityWindow, PumpOnAnEmptyQueueReturnsAndDiscardDropsNotices) {
  PumpMessages();
  PumpMessages();
  int received = 0;
  HWND window = CreateUtilityWindow([&](TMessageRecord& message) {
    if (message.Msg >= WM_USER) ++received;
    else message.Result = DefWindowProcA(nullptr, message.Msg, message.WParam, message.LParam);
  });
  PostMessageA(window, WM_USER + 1, 0, 0);
  PostMessageA(window, WM_USER + 2, 0, 0);
  PostMessageA(window, WM_USER + 3, 0, 0);
  DiscardMessages(window, WM_USER + 1, WM_USER + 2);
  PumpMessages();
  EXPECT_EQ(received, 1);
  DestroyUtilityWindow(window);
}

TEST(Platform, IsWindowsNT) { EXPECT_TRUE(IsWindowsNT()); }

TEST(UtilityWindow, IdleWaitEndsWhenAMessageArrives) {
  HWND window = CreateUtilityWindow(nullptr);
  PumpMessages();
  PostMessageA(window, WM_USER + 1, 0, 0);
  DWORD start = GetTickCount();
  IdleWait(20000);  // the queued message ends it at once
  EXPECT_LT(GetTickCount() - start, 10000u);
  PumpMessages();
  DestroyUtilityWindow(window);
}

// A wait's pass stops at the message that ends the wait; the rest stays
// queued, in order, for the next pass, and a pass that never ends a wait
// takes everything.
TEST(UtilityWindow, PassOfAWaitStopsAtTheMessageThatEndsIt) {
  std::vector<UINT> received;
  HWND window = CreateUtilityWindow([&](TMessageRecord& message) {
    if (message.Msg >= WM_USER) received.push_back(message.Msg - WM_USER);
    else message.Result = DefWindowProcA(nullptr, message.Msg, message.WParam, message.LParam);
  });
  PumpMessages();
  for (UINT n = 1; n <= 4; ++n) PostMessageA(window, WM_USER + n, 0, 0);
  PumpMessagesUntil([&] { return !received.empty() && received.back() == 2; });
  EXPECT_EQ(received, (std::vector<UINT>{1, 2}));
  PumpMessagesUntil([] { return false; });
  EXPECT_EQ(received, (std::vector<UINT>{1, 2, 3, 4}));
  DestroyUtilityWindow(window);
}

// A window belongs to the thread that made it. Let go of from another thread,
// it no longer reaches its handler and is counted (as a window that can call
// the module's code) until its own thread has destroyed it on its next pump,
// or until that thread has ended.
TEST(UtilityWindow, LetGoOfFromAnotherThreadItIsCountedUntilItsThreadHasDestroyedIt) {
  for (const bool threadEnds : {false, true}) {
    SCOPED_TRACE(threadEnds ? "the window's thread ends" : "the window's thread pumps");
    const LONG before = UtilityWindowCount();
    HWND window = nullptr;
    int handled = 0;
    HANDLE made = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool gone = false;
    std::thread owner([&] {
      window = CreateUtilityWindow([&](TMessageRecord& message) { handled += message.Msg == WM_USER; });
      SetEvent(made);
      if (threadEnds) return;
      WaitForSingleObject(released, 10000);
      PostMessageA(window, WM_USER, 0, 0);
      gone = PumpUntil([&] { return !IsWindow(window); });
    });
    ASSERT_EQ(WaitForSingleObject(made, 10000), WAIT_OBJECT_0);
    if (threadEnds) owner.join();
    EXPECT_EQ(UtilityWindowCount(), before + (threadEnds ? 0 : 1));
    DestroyUtilityWindow(window);
    EXPECT_EQ(UtilityWindowCount(), before + (threadEnds ? 0 : 1)) << "counted until its thread destroys it";
    SetEvent(released);
    if (!threadEnds) {
      owner.join();
      EXPECT_TRUE(gone);
    }
    EXPECT_EQ(handled, 0) << "the handler was let go of";
    EXPECT_EQ(UtilityWindowCount(), before);
    CloseHandle(made);
    CloseHandle(released);
  }
}
