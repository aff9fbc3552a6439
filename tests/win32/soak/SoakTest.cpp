// Long runs of the Conn object inside one process, as a web server's host
// process sees them: many requests on one object, then many objects created,
// used and released. Private memory, handles, windows and open sockets are
// taken after a warm-up and again at the end, each time once the threads of
// the system's pool have ended; they must stay where they were, and the
// library must be ready to unload once the last object is gone.
//
// Short by default (a few hundred requests, for every test run). The
// environment variable KESTREL_SOAK_SECONDS turns it into a timed soak that
// runs each phase for half that time (at least 10,000 requests on one object
// and 2,000 objects), as `make soak` does.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "AutomationTestSupport.h"
#include "ScriptConn.h"

namespace {

int EnvNumber(const char* name, int fallback)
{
  const char* value = std::getenv(name);
  return value && *value ? std::atoi(value) : fallback;
}

BOOL CALLBACK CountWindow(HWND, LPARAM counter)
{
  ++*reinterpret_cast<int*>(counter);
  return TRUE;
}

// What the process holds at one moment.
struct TResources {
  SIZE_T PrivateBytes = 0;
  SIZE_T HeapBytes = 0;
  DWORD Handles = 0;
  int Windows = 0;
  int Sockets = 0;  // client connections to the test servers not yet closed
};

// Client-side connections to any of the ports that are still open: every
// state except the closed ones and TIME_WAIT, which the system ends itself.
int OpenConnectionsTo(const std::vector<int>& ports)
{
  ULONG size = 0;
  GetTcpTable(nullptr, &size, FALSE);
  std::vector<char> buffer(size + 4096);
  size = static_cast<ULONG>(buffer.size());
  auto* table = reinterpret_cast<MIB_TCPTABLE*>(buffer.data());
  if (GetTcpTable(table, &size, FALSE) != NO_ERROR) return -1;
  int open = 0;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW& row = table->table[i];
    if (row.dwState == MIB_TCP_STATE_TIME_WAIT || row.dwState == MIB_TCP_STATE_CLOSED ||
        row.dwState == MIB_TCP_STATE_LISTEN)
      continue;
    for (int port : ports)
      if (ntohs(static_cast<u_short>(row.dwRemotePort)) == port) ++open;
  }
  return open;
}

// Bytes of committed private memory: what the process holds of its own,
// counted region by region (the system's counters are not kept by every
// Windows layer).
SIZE_T CommittedPrivateBytes()
{
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region;
  const char* address = nullptr;
  while (VirtualQuery(address, &region, sizeof(region)) == sizeof(region)) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return total;
}

// Bytes in use in every heap of the process: a leak of a few bytes per
// request shows here long before it shows in committed pages.
SIZE_T HeapBytesInUse()
{
  HANDLE heaps[256];
  const DWORD count = GetProcessHeaps(256, heaps);
  SIZE_T total = 0;
  for (DWORD i = 0; i < count && i < 256; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    HeapUnlock(heaps[i]);
  }
  return total;
}

// Open handles, found by asking about each possible handle value in turn
// (the process handle count is not kept by every Windows layer either).
DWORD OpenHandles()
{
  DWORD count = 0, flags = 0;
  for (ULONG_PTR value = 4; value < 0x4000; value += 4)
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  return count;
}

// Ids of the threads this process runs now.
std::vector<DWORD> RunningThreads()
{
  std::vector<DWORD> threads;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return threads;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) threads.push_back(entry.th32ThreadID);
  CloseHandle(snapshot);
  return threads;
}

// The threads of the process before its first request: taken once, when the
// first test starts.
const std::vector<DWORD>& ThreadsBeforeRequests()
{
  static const std::vector<DWORD> threads = RunningThreads();
  return threads;
}

// Large results are converted with the help of the system's thread pool,
// which keeps an idle thread for a few seconds; and Wine frees the stack of
// an ended thread (over 3 MB of private memory there) only when the next
// thread ends. A measure taken while a pool thread runs would count such
// stacks once or twice by chance, so each measure first waits, for a bounded
// time, until the threads started since the first request have ended.
void WaitForStartedThreadsToEnd()
{
  const std::vector<DWORD>& before = ThreadsBeforeRequests();
  if (before.empty()) return;  // no snapshot of threads here
  // Wine's pool lets an idle thread go after 5 s.
  for (int wait = 0; wait < 80; ++wait) {
    const std::vector<DWORD> now = RunningThreads();
    if (std::all_of(now.begin(), now.end(),
                    [&](DWORD id) { return std::find(before.begin(), before.end(), id) != before.end(); }))
      return;
    Sleep(250);
  }
}

TResources Measure(const std::vector<int>& ports)
{
  WaitForStartedThreadsToEnd();
  TResources taken;
  taken.PrivateBytes = CommittedPrivateBytes();
  taken.HeapBytes = HeapBytesInUse();
  taken.Handles = OpenHandles();
  EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&taken.Windows));
  taken.Sockets = OpenConnectionsTo(ports);
  return taken;
}

void Report(const char* phase, const TResources& before, const TResources& after, int requests,
            int failures, DWORD milliseconds)
{
  std::printf("%s: %d requests (%d failed as expected) in %.1f s; private memory %.1f -> %.1f MB, "
              "heap in use %.0f -> %.0f KB, handles %lu -> %lu, windows %d -> %d, open sockets %d -> %d\n",
              phase, requests, failures, milliseconds / 1000.0, before.PrivateBytes / 1048576.0,
              after.PrivateBytes / 1048576.0, before.HeapBytes / 1024.0, after.HeapBytes / 1024.0,
              static_cast<unsigned long>(before.Handles),
              static_cast<unsigned long>(after.Handles), before.Windows, after.Windows,
              before.Sockets, after.Sockets);
  std::fflush(stdout);
}

void ExpectSettled(const TResources& before, const TResources& after)
{
  // Room for the allocator's own bookkeeping, far below what a leak of even
  // a few bytes per request would add up to over a soak.
  const SIZE_T allowedGrowth = 4 * 1024 * 1024;
  EXPECT_LE(after.PrivateBytes, before.PrivateBytes + allowedGrowth)
      << "private memory grew by " << (after.PrivateBytes - before.PrivateBytes) << " bytes";
  EXPECT_LE(after.HeapBytes, before.HeapBytes + 256 * 1024)
      << "heap in use grew by " << (after.HeapBytes - before.HeapBytes) << " bytes";
  EXPECT_LE(after.Handles, before.Handles + 8u);
  EXPECT_EQ(before.Windows, after.Windows);
  EXPECT_EQ(0, after.Sockets);
}

// One request of the mix: where it goes and whether it must succeed.
struct TRequest {
  std::wstring Url;
  std::wstring Authorization;
  bool MustSucceed;
  const wchar_t* BodyHolds;  // a text the body must contain, or null
};

class SoakTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    ThreadsBeforeRequests();
    ports_ = {EnvNumber("KESTREL_NGINX_PORT", 0), EnvNumber("KESTREL_SCENARIO_PORT", 0)};
    ASSERT_TRUE(ports_[0] && ports_[1]) << "start the servers with tests/servers/servers.sh";
    soakSeconds_ = EnvNumber("KESTREL_SOAK_SECONDS", 0);
    const std::wstring site = NginxBase();
    const std::wstring scenarios = ScenarioBase() + L"s/";
    const std::wstring nowhere = L"http://127.0.0.1:1/";  // nobody listens there
    // Successes, redirects, authentication, chunked bodies, a large body and
    // the failures a host sees every day: refused, reset, not found.
    mix_ = {
        {site + L"index.html", L"", true, L"Kestrel test site"},
        {site + L"old.html", L"", true, L"Kestrel test site"},
        {site + L"private/secret.txt", L"kestrel:s3cret:pw", true, L"The secret is kestrel."},
        {scenarios + L"http-chunked", L"", true, nullptr},
        {site + L"missing.html", L"", true, nullptr},
        {scenarios + L"tcp-reset", L"", false, nullptr},
        {nowhere, L"", false, nullptr},
        {scenarios + L"http-content-length-short", L"", false, nullptr},
    };
  }

  // Runs one request of the mix on the object through IDispatch, as a script
  // does; false when an expected success failed or a failure gave no text.
  bool Fetch(TScriptConn& conn, const TRequest& request, bool& failed)
  {
    if (conn.Put(L"URL", request.Url) != S_OK) return false;
    if (conn.Put(L"Authorization", request.Authorization) != S_OK) return false;
    HRESULT hr = S_OK;
    const std::wstring body = conn.GetURL(&hr);
    if (hr != S_OK) return false;
    const std::wstring error = conn.Get(L"Error");
    // A success leaves an earlier failure's text in Error: a failure is an
    // empty result with a text.
    failed = body.empty() && !error.empty();
    if (request.MustSucceed && (failed || body.empty())) {
      std::printf("failed: %ls: %ls\n", request.Url.c_str(), error.c_str());
      return false;
    }
    if (body.empty() && error.empty()) return false;  // a failure must say why
    if (request.BodyHolds && body.find(request.BodyHolds) == std::wstring::npos) return false;
    return true;
  }

  // A large body, made into text in pieces shared with the system's thread
  // pool, and the links of the page.
  bool FetchLargeBody(TScriptConn& conn)
  {
    bool failed = false;
    const bool fetched = Fetch(conn, TRequest{NginxBase() + L"big.bin", L"", true, nullptr}, failed);
    conn.Call(L"GetHREFs");
    return fetched;
  }

  // Runs the mix on one object for the soak's time (at least 10,000
  // requests, a few hundred when short), now and then a large body and the
  // links of the page; what the process holds must not grow. beforeMeasure
  // runs once the requests are done.
  void RunOnOneObject(TScriptConn& conn, const char* phase, const std::function<void()>& beforeMeasure)
  {
    bool failed = false;
    // Warm-up, with one of each kind of request: the socket library, the
    // window class, the allocator's pools and the system's thread pool are
    // set up by the first requests and stay for the process. The large body
    // comes first, so that the room it took is given back by the bodies
    // after it, as in the loop.
    ASSERT_TRUE(FetchLargeBody(conn));
    for (const TRequest& request : mix_) ASSERT_TRUE(Fetch(conn, request, failed));
    const TResources before = Measure(ports_);

    const int minimum = soakSeconds_ ? 10000 : 240;
    const DWORD budget = static_cast<DWORD>(soakSeconds_) * 500;  // half the soak
    const DWORD start = GetTickCount();
    int requests = 0, failures = 0, wrong = 0;
    while (requests < minimum || GetTickCount() - start < budget) {
      const TRequest& request = mix_[requests % mix_.size()];
      if (!Fetch(conn, request, failed)) {
        if (++wrong <= 5) ADD_FAILURE() << "request " << requests << " went wrong";
      }
      failures += failed;
      ++requests;
      if (requests % 200 == 100) {
        EXPECT_TRUE(FetchLargeBody(conn));
      }
    }
    beforeMeasure();
    const TResources after = Measure(ports_);
    Report(phase, before, after, requests, failures, GetTickCount() - start);
    EXPECT_EQ(0, wrong);
    ExpectSettled(before, after);
  }

  int soakSeconds_ = 0;
  std::vector<TRequest> mix_;
  std::vector<int> ports_;
};

TEST_F(SoakTest, ManyRequestsOnOneObjectLeaveNothingBehind)
{
  TScriptConn conn;
  ASSERT_TRUE(conn.Valid());
  conn.Put(L"TimeOut", 10);
  RunOnOneObject(conn, "one object", [&] {});
}

// One object with KeepAlive and Compression on: the same mix, so that kept
// connections are taken, closed for another server, dropped by servers and
// refused after failures, and gzip pages of nginx decoded, over and over.
TEST_F(SoakTest, KeptCompressedRequestsLeaveNothingBehind)
{
  TScriptConn conn;
  ASSERT_TRUE(conn.Valid());
  conn.Put(L"TimeOut", 10);
  conn.Put(L"KeepAlive", -1);
  conn.Put(L"Compression", -1);
  mix_.push_back({NginxBase() + L"text.txt", L"", true, L"kestrel text"});
  mix_.push_back({NginxBase() + L"text.txt", L"", true, L"kestrel text"});
  // Turning KeepAlive off closes the kept connection: no socket stays open.
  RunOnOneObject(conn, "one object, kept and compressed", [&] { conn.Put(L"KeepAlive", 0L); });
}

TEST_F(SoakTest, ManyObjectsCreatedAndReleasedLeaveNothingBehind)
{
  bool failed = false;
  {
    TScriptConn warm;
    ASSERT_TRUE(warm.Valid());
    for (const TRequest& request : mix_) ASSERT_TRUE(Fetch(warm, request, failed));
  }
  const TResources before = Measure(ports_);
  const std::wstring log = TestFolder() + L"soak-transfer.log";

  const int minimum = soakSeconds_ ? 2000 : 80;
  const DWORD budget = static_cast<DWORD>(soakSeconds_) * 500;
  const DWORD start = GetTickCount();
  int objects = 0, failures = 0, wrong = 0;
  while (objects < minimum || GetTickCount() - start < budget) {
    TScriptConn conn;
    ASSERT_TRUE(conn.Valid());
    conn.Put(L"TimeOut", 10);
    // Every tenth object keeps a transfer log, written when it is released.
    if (objects % 10 == 0) conn.Put(L"HTTPLog", log);
    if (!Fetch(conn, mix_[objects % mix_.size()], failed)) {
      if (++wrong <= 5) ADD_FAILURE() << "object " << objects << " went wrong";
    }
    failures += failed;
    ++objects;
  }
  DeleteFileW(log.c_str());
  const TResources after = Measure(ports_);
  Report("objects", before, after, objects, failures, GetTickCount() - start);
  EXPECT_EQ(0, wrong);
  ExpectSettled(before, after);
  // With every object released (and no server lock), the library may go.
  EXPECT_EQ(S_OK, KestrelDll().CanUnloadNow());
}

}  // namespace
