// Several threads of one host use the platform layer at once: each thread's
// timer ticks arrive only through its own pump, and the process-wide pieces
// (the window class, the socket library's load state) hold up when threads
// reach them at the same moment.
#include "platform/Timers.h"
#include "platform/UtilityWindow.h"
#include "platform/WinsockApi.h"

#include "PumpUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

const int kThreads = 8;

LRESULT CALLBACK ForeignProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, msg, wParam, lParam);
}

// Starts the threads together: each runs body once the last has started.
template <class Body>
void RunAtOnce(int count, Body body) {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i)
    threads.emplace_back([&, i] {
      WaitForSingleObject(go, 10000);
      body(i);
    });
  SetEvent(go);
  for (std::thread& thread : threads) thread.join();
  CloseHandle(go);
}

}  // namespace

TEST(Threads, TimerTicksReachOnlyTheirOwnThread) {
  HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE checked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> remainingWhileIdle{-100}, remainingAfterPump{-100};
  std::atomic<bool> timedOutAfterPump{false}, ownWindow{false};
  std::thread other([&] {
    TTimeCounter counter;
    counter.TimeOut = 1;
    counter.Start();
    ownWindow = GetWindowThreadProcessId(counter.Timer->WindowHandle(), nullptr) == GetCurrentThreadId();
    SetEvent(started);
    // Not pumping: whatever the main thread pumps meanwhile must not tick here.
    WaitForSingleObject(checked, 20000);
    remainingWhileIdle = counter.Remaining;
    timedOutAfterPump = PumpUntil([&] { return counter.TimedOut; });
    remainingAfterPump = counter.Remaining;
  });
  ASSERT_EQ(WaitForSingleObject(started, 20000), WAIT_OBJECT_0);
  // This thread's own counter, started after the other's, ticks through this pump.
  TTimeCounter mine;
  mine.TimeOut = 1;
  mine.Start();
  EXPECT_TRUE(PumpUntil([&] { return mine.TimedOut; }));
  SetEvent(checked);
  other.join();
  EXPECT_TRUE(ownWindow);
  EXPECT_EQ(remainingWhileIdle, 1);  // no tick reached it through the main thread's pump
  EXPECT_TRUE(timedOutAfterPump);
  EXPECT_LE(remainingAfterPump, 0);
  CloseHandle(started);
  CloseHandle(checked);
}

TEST(Threads, UtilityWindowsMadeByManyThreadsAtOnceWhileTheClassIsReplaced) {
  // A class of that name with another procedure: every thread's first window
  // finds it and would replace it.
  auto instance = reinterpret_cast<HINSTANCE>(&__ImageBase);
  UnregisterClassA(UtilityWindowClassName, instance);
  WNDCLASSA foreign{};
  foreign.lpfnWndProc = &ForeignProcedure;
  foreign.hInstance = instance;
  foreign.lpszClassName = UtilityWindowClassName;
  ASSERT_NE(RegisterClassA(&foreign), 0);

  std::atomic<int> made{0}, routed{0};
  RunAtOnce(kThreads, [&](int) {
    for (int i = 0; i < 20; ++i) {
      int received = 0;
      HWND window = CreateUtilityWindow([&](TMessageRecord& message) {
        if (message.Msg == WM_USER + 5) ++received;
        else message.Result = DefWindowProcA(nullptr, message.Msg, message.WParam, message.LParam);
      });
      if (!window) continue;
      ++made;
      PostMessageA(window, WM_USER + 5, 0, 0);
      if (PumpUntil([&] { return received == 1; }, 5000)) ++routed;
      DestroyUtilityWindow(window);
    }
  });
  EXPECT_EQ(made, kThreads * 20);
  EXPECT_EQ(routed, kThreads * 20);
}

TEST(Threads, SocketLibraryLoadedByManyThreadsAtOnceIsLoadedOnce) {
  TWinsockApi api("kestrel_testsock.dll");
  ASSERT_TRUE(api.IsLoaded());
  for (int round = 0; round < 5; ++round) {
    api.Unload();
    ASSERT_EQ(GetModuleHandleA("kestrel_testsock.dll"), nullptr);
    RunAtOnce(kThreads, [&](int) { api.Load(); });
    EXPECT_TRUE(api.IsLoaded());
    // One reference only: a single Unload frees the library.
    api.Unload();
    EXPECT_EQ(GetModuleHandleA("kestrel_testsock.dll"), nullptr) << "round " << round;
    api.Load();
  }
}

TEST(Threads, StartUpsAndCleanUpsFromManyThreadsLeaveOtherSocketsOpen) {
  // One start-up held here, and a socket under it; other threads start and
  // end the library at once. A start-up count lost between two of them would
  // reach zero early and close this socket.
  WSADATA data{};
  ASSERT_EQ(WinsockApi.WSAStartup(0x0101, &data), 0);
  SOCKET socketHandle = WinsockApi.socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(socketHandle, INVALID_SOCKET);
  HWND window = CreateUtilityWindow(nullptr);
  RunAtOnce(kThreads, [](int) {
    WSADATA own{};
    for (int i = 0; i < 10000; ++i) {
      if (WinsockApi.WSAStartup(0x0101, &own) == 0) WinsockApi.WSACleanup();
    }
  });
  // Still a socket: switching it to notices works only on an open one.
  EXPECT_EQ(WinsockApi.WSAAsyncSelect(socketHandle, window, WM_USER + 9, FD_READ), 0)
      << "error " << WinsockApi.WSAGetLastError();
  WinsockApi.closesocket(socketHandle);
  WinsockApi.WSACleanup();
  DestroyUtilityWindow(window);
}
