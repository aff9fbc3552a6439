// The class is registered with threading model "Both": threads of a host, in
// single- and multi-threaded apartments alike, each with its own objects and
// its own message pump (the one GetURL runs), fetch at the same time without
// interfering. The first use of the library's process-wide pieces (the window
// class, the socket library, the class object) from many threads at once runs
// in a fresh child process, where it really is the first. One object may also
// be called from several threads of the multi-threaded apartment: one call
// runs at a time, the windows a call needs are its thread's and gone when it
// returns, and the object may be released on any thread.
#include <gtest/gtest.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ScriptConn.h"

namespace {

const char* const kChildVariable = "KESTREL_THREADS_CHILD";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Starts count threads together, each in its own apartment (even ones
// single-threaded, odd ones multi-threaded), and runs body(index) in each.
template <class Body>
void RunInApartments(int count, Body body)
{
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < count; ++i)
    threads.emplace_back([&, i] {
      const HRESULT init = CoInitializeEx(nullptr, i % 2 ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
      WaitForSingleObject(go, 20000);
      if (SUCCEEDED(init)) {
        body(i);
        CoUninitialize();
      } else {
        ADD_FAILURE() << "CoInitializeEx failed in thread " << i;
      }
    });
  SetEvent(go);
  for (std::thread& thread : threads) thread.join();
  CloseHandle(go);
}

// The echo route answers with the exact request: a body that names the thread
// and the call, so a reply that reached the wrong object shows.
std::wstring EchoUrl(const std::wstring& base, int thread, int call, const wchar_t* faults)
{
  return base + L"echo/t" + std::to_wstring(thread) + L"/c" + std::to_wstring(call) + L"/" + faults;
}

std::wstring EchoLine(int thread, int call)
{
  return L"GET /echo/t" + std::to_wstring(thread) + L"/c" + std::to_wstring(call) + L"/";
}

BOOL CALLBACK CountUtilityWindow(HWND window, LPARAM count)
{
  char name[32] = {};
  if (GetClassNameA(window, name, sizeof name) && std::strcmp(name, "TPUtilWindow") == 0)
    ++*reinterpret_cast<int*>(count);
  return TRUE;
}

// The library's hidden windows that a thread owns.
int UtilityWindowsOf(DWORD thread)
{
  int count = 0;
  EnumThreadWindows(thread, &CountUtilityWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

// Runs body on a thread of the multi-threaded apartment and waits for it.
template <class Body>
void InMultiThreadedThread(Body body)
{
  std::thread thread([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    body();
    CoUninitialize();
  });
  thread.join();
}

HANDLE callUnderWay = nullptr;
void CALLBACK SignalCallUnderWay(HWND, UINT, UINT_PTR, DWORD) { SetEvent(callUnderWay); }

const wchar_t* const kBusyText = L"The object is busy with a call on another thread";

}  // namespace

// Runs only inside the child process that Threads.FirstUseFromManyThreadsAtOnce starts.
TEST(ThreadsChild, FirstUse)
{
  if (!std::getenv(kChildVariable)) GTEST_SKIP() << "runs in the child process only";
  const std::wstring base = ScenarioBase();
  ASSERT_FALSE(base.empty());
  ASSERT_NE(KestrelDll().GetClassObject, nullptr);  // loaded, but no object made yet
  std::atomic<int> good{0};
  RunInApartments(8, [&](int i) {
    TScriptConn conn;  // the first windows of the process, in every thread at once
    if (conn.Valid() && conn.Fetch(base + L"s/hello") == L"Hello from the scenario server.\r\n") ++good;
    else ADD_FAILURE() << "thread " << i << ": " << Narrow(conn.Get(L"Error"));
  });
  EXPECT_EQ(good, 8);
  EXPECT_EQ(KestrelDll().CanUnloadNow(), S_OK);
}

TEST(Threads, FirstUseFromManyThreadsAtOnce)
{
  ASSERT_FALSE(ScenarioBase().empty()) << "KESTREL_SCENARIO_PORT is not set: start tests/servers/servers.sh";
  wchar_t self[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  ASSERT_GT(length, 0u);
  SetEnvironmentVariableA(kChildVariable, "1");
  // A few fresh processes: each is one more chance for the threads to meet.
  for (int run = 0; run < 3; ++run) {
    std::wstring command = L"\"" + std::wstring(self, length) + L"\" --gtest_filter=ThreadsChild.FirstUse";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                               &process));
    const DWORD waited = WaitForSingleObject(process.hProcess, 120000);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 4);  // our own child, hung
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the child process hung";
    EXPECT_EQ(exitCode, 0u) << "run " << run;
  }
  SetEnvironmentVariableA(kChildVariable, nullptr);
}

TEST(Threads, ConcurrentFetchesEachGetTheirOwnReplies)
{
  const std::wstring base = ScenarioBase();
  ASSERT_FALSE(base.empty()) << "KESTREL_SCENARIO_PORT is not set: start tests/servers/servers.sh";
  ASSERT_NE(KestrelDll().GetClassObject, nullptr);
  // Slow replies (a delay, a drip) keep every thread waiting while the others
  // are, and one request per thread times out while the rest go on. With
  // nginx running, every thread also fetches a small and a 4 MiB page of it.
  const wchar_t* const faults[] = {L"", L"?delay=300", L"?drip=40,15", L"?pause-at=20,400"};
  const int threads = 6, calls = 12;
  const std::wstring nginx = NginxBase();
  std::atomic<int> good{0}, timedOut{0};
  RunInApartments(threads, [&](int t) {
    TScriptConn conns[2];
    for (int c = 0; c < calls; ++c) {
      TScriptConn& conn = conns[c % 2];
      const std::wstring body = conn.Fetch(EchoUrl(base, t, c, faults[(t + c) % 4]));
      if (body.compare(0, EchoLine(t, c).size(), EchoLine(t, c)) == 0) ++good;
      else ADD_FAILURE() << "thread " << t << " call " << c << ": " << Narrow(body.substr(0, 60)) << " / "
                         << Narrow(conn.Get(L"Error"));
      if (c == 1 && !nginx.empty()) {
        // A real server too: a small page, and a large one whose reads overlap.
        if (conn.Fetch(nginx + L"dir.d/index.html") != L"dir.d index\n") ADD_FAILURE() << "thread " << t << " small page";
        if (conn.Fetch(nginx + L"big.bin").size() != 4u << 20) ADD_FAILURE() << "thread " << t << " large page";
      }
      if (c == calls / 2) {
        conn.Put(L"TimeOut", 1);
        conn.ClearError();
        if (conn.Fetch(base + L"s/http-slow").empty() && conn.Get(L"Error") == L"Operation timed out") ++timedOut;
        conn.Put(L"TimeOut", 30);
      }
    }
  });
  EXPECT_EQ(good, threads * calls);
  EXPECT_EQ(timedOut, threads);
}

TEST(Threads, LibraryUnloadsOnceEveryThreadsObjectsAreGone)
{
  const std::wstring base = ScenarioBase();
  ASSERT_FALSE(base.empty());
  std::atomic<int> good{0};
  RunInApartments(6, [&](int t) {
    for (int n = 0; n < 8; ++n) {
      TScriptConn conn;
      const std::wstring body = conn.Fetch(base + L"s/hello");
      if (body == L"Hello from the scenario server.\r\n") ++good;
      else ADD_FAILURE() << "thread " << t << " object " << n << ": " << Narrow(body) << " / " << Narrow(conn.Get(L"Error"));
    }
  });
  EXPECT_EQ(good, 48);
  EXPECT_EQ(KestrelDll().CanUnloadNow(), S_OK);
}

TEST(Threads, AnObjectCalledFromAnotherMultiThreadedThreadReturns)
{
  // In the multi-threaded apartment a caller may hand its object to another
  // thread of the apartment, even outlive it: the object's windows belong to
  // the thread that made it. Such a call must still return, with the page or
  // with an error, and never bring the process down.
  const std::wstring base = ScenarioBase();
  ASSERT_FALSE(base.empty());
  std::vector<std::wstring> outcomes;
  for (bool makerAlive : {true, false}) {
    TScriptConn* shared = nullptr;
    HANDLE made = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE used = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread maker([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      shared = new TScriptConn;
      shared->Put(L"TimeOut", 2);
      SetEvent(made);
      if (makerAlive) WaitForSingleObject(used, 60000);  // alive, but not pumping
      CoUninitialize();
    });
    ASSERT_EQ(WaitForSingleObject(made, 20000), WAIT_OBJECT_0);
    if (!makerAlive) maker.join();
    std::thread caller([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      shared->ClearError();
      const std::wstring body = shared->Fetch(base + L"s/hello");
      outcomes.push_back(body + L" / " + shared->Get(L"Error"));
      delete shared;
      CoUninitialize();
    });
    caller.join();
    SetEvent(used);
    if (makerAlive) maker.join();
    CloseHandle(made);
    CloseHandle(used);
  }
  for (const std::wstring& outcome : outcomes) {
    std::printf("%s\n", Narrow(outcome).c_str());
    EXPECT_NE(outcome, L" / ") << "neither the page nor an error";
  }
}

TEST(Threads, OneObjectCalledFromTwoThreadsAtOnce)
{
  // One thread fetches a 32 MiB page again and again while the other reads
  // the body, the links and the properties of the same object: each call is
  // a result or a clear failure, and the process stays up.
  const std::wstring nginx = NginxBase();
  ASSERT_FALSE(nginx.empty()) << "nginx is not running: start tests/servers/servers.sh";
  TComPtr<IConn> conn;
  InMultiThreadedThread([&] { conn = NewConn(); });
  ASSERT_TRUE(conn);
  std::atomic<int> pages{0}, reads{0}, busy{0}, unclear{0};
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto outcome = [&](HRESULT hr) {
    if (SUCCEEDED(hr)) ++reads;
    else if (TakeErrorInfo().Description == kBusyText) ++busy;
    else ++unclear;
  };
  std::thread fetcher([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    WaitForSingleObject(go, 20000);
    const TBstr url(nginx + L"big32.bin");
    for (int i = 0; i < 3; ++i) {
      conn->put_URL(url.Get());
      TBstr body;
      if (conn->GetURL(body.Out()) == S_OK && !body.IsNull() && SysStringLen(body.Get()) == 32u << 20) ++pages;
    }
    CoUninitialize();
  });
  std::thread reader([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    WaitForSingleObject(go, 20000);
    for (int i = 0; i < 40; ++i) {
      VARIANT value;
      VariantInit(&value);
      outcome(conn->get_BinaryData(&value));
      VariantClear(&value);
      outcome(conn->GetHREFs(&value));
      VariantClear(&value);
      TBstr text;
      outcome(conn->get_Headers(text.Out()));
      Sleep(i % 4);
    }
    CoUninitialize();
  });
  SetEvent(go);
  fetcher.join();
  reader.join();
  CloseHandle(go);
  std::printf("pages %d, reads %d, busy %d\n", pages.load(), reads.load(), busy.load());
  EXPECT_EQ(pages, 3);
  EXPECT_EQ(reads + busy, 120);
  EXPECT_EQ(unclear, 0);
  conn.Reset();
  EXPECT_EQ(KestrelDll().CanUnloadNow(), S_OK);
}

TEST(Threads, OneObjectPassedFromThreadToThread)
{
  // Made by a thread that then ends, used by one thread after another over
  // its kept connection (the threads stay, without pumping), released by yet
  // another: every call works, each call's windows are its own thread's, and
  // the library stays loaded until every window is gone, which its thread
  // sees to as soon as it pumps again.
  const std::wstring base = ScenarioBase();
  ASSERT_FALSE(base.empty());
  TScriptConn* conn = nullptr;
  InMultiThreadedThread([&] {
    conn = new TScriptConn;
    conn->Put(L"KeepAlive", -1);
  });
  ASSERT_TRUE(conn->Valid());
  const int users = 4;
  std::vector<std::wstring> connections(users);
  std::vector<int> windowsAfterCall(users, -1), windowsAfterPump(users, -1);
  HANDLE called = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE pump = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < users; ++t) {
    threads.emplace_back([&, t] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      const std::wstring body = conn->Fetch(base + L"s/keep-cycle");
      EXPECT_EQ(body, L"kept body") << "thread " << t << ": " << Narrow(conn->Get(L"Error"));
      const std::wstring headers = conn->Get(L"Headers");
      const size_t at = headers.find(L"X-Conn: C");
      connections[t] = at == std::wstring::npos ? L"" : headers.substr(at + 9, 8);
      windowsAfterCall[t] = UtilityWindowsOf(GetCurrentThreadId());
      SetEvent(called);
      WaitForSingleObject(pump, 60000);
      MSG msg;
      for (int n = 0; n < 1000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) DispatchMessageW(&msg);
      windowsAfterPump[t] = UtilityWindowsOf(GetCurrentThreadId());
      CoUninitialize();
    });
    EXPECT_EQ(WaitForSingleObject(called, 60000), WAIT_OBJECT_0);
  }
  std::thread([&] { delete conn; }).join();
  EXPECT_EQ(KestrelDll().CanUnloadNow(), S_FALSE) << "windows wait for their threads to pump";
  SetEvent(pump);
  for (std::thread& thread : threads) thread.join();
  CloseHandle(called);
  CloseHandle(pump);
  EXPECT_EQ(connections, std::vector<std::wstring>(users, connections[0])) << "the kept connection served every thread";
  for (int t = 0; t < users; ++t) {
    EXPECT_GE(windowsAfterCall[t], 1) << "thread " << t << " got the notices of its own call";
    EXPECT_EQ(windowsAfterPump[t], 0) << "thread " << t;
  }
  EXPECT_EQ(KestrelDll().CanUnloadNow(), S_OK);
}

TEST(Threads, ACallFromAnotherThreadWaitsItsTurnForAtMostTimeOut)
{
  // A call runs while another thread's call on the same object is under way:
  // it waits for its turn as long as the object's TimeOut, and fails with its
  // text beyond. The first call drips in over about 4 seconds, every piece
  // well within its own TimeOut.
  const std::wstring base = ScenarioBase();
  ASSERT_FALSE(base.empty());
  struct TCase {
    LONG TimeOut;
    const wchar_t* Drip;
    bool SecondGetsItsTurn;
  } const cases[] = {{2, L"?drip=10,400", false}, {30, L"?drip=10,100", true}};
  for (const TCase& row : cases) {
    TComPtr<IConn> conn = NewConn();
    ASSERT_TRUE(conn);
    conn->put_TimeOut(row.TimeOut);
    HANDLE inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HRESULT firstResult = E_FAIL, secondResult = E_FAIL;
    std::wstring firstBody, secondText;
    std::thread first([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      const TBstr url(base + L"s/hello" + row.Drip);
      conn->put_URL(url.Get());
      // The thread pumps nowhere else: its timer ticks while GetURL runs.
      callUnderWay = inside;
      const UINT_PTR timer = SetTimer(nullptr, 0, 20, &SignalCallUnderWay);
      TBstr body;
      firstResult = conn->GetURL(body.Out());
      firstBody = body.Text();
      KillTimer(nullptr, timer);
      CoUninitialize();
    });
    std::thread second([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      EXPECT_EQ(WaitForSingleObject(inside, 20000), WAIT_OBJECT_0);
      TBstr url;
      secondResult = conn->get_URL(url.Out());
      secondText = SUCCEEDED(secondResult) ? url.Text() : TakeErrorInfo().Description;
      CoUninitialize();
    });
    first.join();
    second.join();
    CloseHandle(inside);
    EXPECT_EQ(firstResult, S_OK);
    EXPECT_EQ(firstBody, L"Hello from the scenario server.\r\n") << "TimeOut " << row.TimeOut;
    if (row.SecondGetsItsTurn) {
      EXPECT_EQ(secondResult, S_OK);
      EXPECT_EQ(secondText, base + L"s/hello" + row.Drip);
    } else {
      EXPECT_EQ(secondResult, HRESULT_FROM_WIN32(ERROR_BUSY));
      EXPECT_EQ(secondText, kBusyText);
    }
  }
}
