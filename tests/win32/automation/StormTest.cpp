// The hostile-server storm: thousands of GetURL calls on a handful of Conn
// objects, each answered by a malformed or abusive reply of the scenario
// server (tests/servers/hostile.py), chosen from a fixed seed. A part of the
// calls go over TLS: the same replies encrypted by the TLS scenario server,
// and faults of TLS itself (tests/servers/tls_hostile.py: broken handshakes,
// garbage and cut records), bodies cut short inside TLS (by a close without
// the closing alert, inside a record, before the Content-Length) that must
// fail, and redirects to another origin and back, where the objects'
// credentials must reach only their own origin. The process must
// not crash, every call must return, a failure must come back as a non-empty
// Error (never as a COM error), and every object must still fetch a good page
// afterwards. Four threads, each with its own objects and message pump, share
// the work so that the slow kinds (which cost a one-second time-out) overlap.
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ScriptConn.h"

namespace {

const unsigned kSeed = 20261208;
const int kThreads = 4;
const int kObjectsPerThread = 2;
const DWORD kCallBoundMs = 60000;  // a call still running after this is a hang

struct TKind {
  std::string Name;
  int Weight = 0;
  bool MustFail = false;
  // Where the call goes: the kind's path on the scenario server, the same over
  // TLS, or the TLS fault server (whose connections take turns through its kinds).
  enum TRoute { Plain, Tls, TlsFaults, TlsTruncation, RedirectOrigin } Route = Plain;
  int Injected = 0;
  int Failed = 0;
};

struct TCall {
  size_t Kind;
  unsigned Seed;
};

int StormCalls()
{
  const char* value = std::getenv("KESTREL_STORM_CALLS");
  int calls = value ? std::atoi(value) : 0;
  return calls > 0 ? calls : 2000;
}

std::string Narrow(const std::wstring& text)
{
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

// "name weight expect" lines, as the server lists its kinds.
std::vector<TKind> ParseKinds(const std::wstring& listing)
{
  std::vector<TKind> kinds;
  std::istringstream lines(Narrow(listing));
  std::string name, expect;
  int weight;
  while (lines >> name >> weight >> expect) kinds.push_back({name, weight, expect == "fail"});
  return kinds;
}

// Every kind once more over TLS, at a third of its weight, and the kinds of
// the TLS layer and of redirects.
void AddTlsKinds(std::vector<TKind>& kinds)
{
  const size_t plainKinds = kinds.size();
  for (size_t k = 0; k < plainKinds; ++k) {
    TKind tls = kinds[k];
    tls.Name = "tls/" + tls.Name;
    tls.Weight = std::max(1, tls.Weight / 3);
    tls.Route = TKind::Tls;
    kinds.push_back(tls);
  }
  // The TLS fault server's sequence (one of its kinds is a good reply),
  // bodies cut short inside TLS, and redirects across origins.
  kinds.push_back({"tls-faults", 12, false, TKind::TlsFaults});
  kinds.push_back({"tls-truncation", 8, true, TKind::TlsTruncation});
  kinds.push_back({"redirect-origin", 8, false, TKind::RedirectOrigin});
}

// The credentials every object carries; only their own origin may see them.
const wchar_t* const kAuthorization = L"storm:pw";
const wchar_t* const kCookie = L"Cookie: storm=1";

std::wstring Port(const char* variable)
{
  const char* value = std::getenv(variable);
  return value ? std::wstring(value, value + std::strlen(value)) : std::wstring();
}

// A body cut short inside TLS, varied by the seed; every one must fail.
std::wstring TruncationUrl(unsigned seed, const std::wstring& tlsBase)
{
  const std::wstring cut = std::to_wstring(seed % 100000);
  const std::wstring paths[] = {
      L"tls/no-close-notify",
      L"tls/close-mid-record",
      L"s/tls-until-close?tls-close-notify=no&cut-at=" + cut,
      L"s/tls-until-close?tls-cut-record=" + std::to_wstring(1 + seed % 7),
      L"s/tls-body?cut-at=" + cut,
      L"s/tls-body?cut-at=" + cut + L"&end=reset",
      L"s/http-chunked-cut",
      L"s/http-content-length-short?tls-close-notify=no",
  };
  return tlsBase + paths[seed % (sizeof paths / sizeof paths[0])];
}

// A redirect to another origin, varied by the seed: the echo route it lands
// on shows what went. Some come back to the object's origin at the end.
std::wstring OriginUrl(unsigned seed, const std::wstring& base, const std::wstring& tlsBase)
{
  const std::wstring plain = Port("KESTREL_SCENARIO_PORT"), secure = Port("KESTREL_TLS_SCENARIO_PORT");
  const std::wstring tail = L"/echo/" + std::to_wstring(seed);
  const std::wstring paths[] = {
      base + L"redirect/http/localhost/" + plain + tail + L"/away",
      tlsBase + L"redirect/http/localhost/" + plain + tail + L"/away",
      base + L"redirect/https/localhost/" + secure + tail + L"/away",
      base + L"redirect/http/localhost/" + plain + L"/redirect/http/127.0.0.1/" + plain + tail + L"/home",
      tlsBase + L"redirect/http/localhost/" + plain + L"/redirect/https/localhost/" + secure + tail + L"/home",
  };
  return paths[seed % (sizeof paths / sizeof paths[0])];
}

// What a redirect-origin call broke: credentials that left their origin, or
// ones that did not come back to it.
std::string OriginProblem(const std::wstring& url, const std::wstring& body)
{
  const bool home = url.size() >= 5 && url.compare(url.size() - 5, 5, L"/home") == 0;
  const bool credentials = body.find(L"\r\nAuthorization: ") != std::wstring::npos ||
                           body.find(L"\r\nCookie: ") != std::wstring::npos;
  if (body.rfind(L"GET /echo/", 0) != 0) return "did not land on the echo route";
  if (home && !credentials) return "the credentials did not come back to their origin";
  if (!home && credentials) return "the credentials went to another origin";
  return "";
}

std::wstring CallUrl(const TKind& kind, unsigned seed, const std::wstring& base, const std::wstring& tlsBase,
                     const std::wstring& tlsFaults)
{
  if (kind.Route == TKind::TlsFaults) return tlsFaults + L"storm/" + std::to_wstring(seed);
  if (kind.Route == TKind::TlsTruncation) return TruncationUrl(seed, tlsBase);
  if (kind.Route == TKind::RedirectOrigin) return OriginUrl(seed, base, tlsBase);
  const std::string name = kind.Route == TKind::Tls ? kind.Name.substr(4) : kind.Name;
  return (kind.Route == TKind::Tls ? tlsBase : base) + L"hostile/" + std::wstring(name.begin(), name.end()) + L"/" +
         std::to_wstring(seed);
}

// What one thread saw; merged by the main thread when all are done.
struct TThreadResult {
  std::vector<int> Injected, Failed;
  std::vector<std::string> Problems;  // calls that broke a rule
  int Calls = 0;
  int GoodPagesAfter = 0;
};

struct TWatch {
  std::atomic<DWORD> CallStart{0};
  std::atomic<int> CallIndex{-1};  // -1: no call running
  std::atomic<bool> Done{false};
};

void RunStormThread(int thread, const std::vector<TKind>& kinds, const std::vector<TCall>& plan,
                    const std::wstring& base, const std::wstring& tlsBase, const std::wstring& tlsFaults,
                    TWatch& watch, TThreadResult& result)
{
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    result.Problems.push_back("CoInitializeEx failed");
    return;
  }
  {
    result.Injected.assign(kinds.size(), 0);
    result.Failed.assign(kinds.size(), 0);
    std::vector<TScriptConn> conns(kObjectsPerThread);
    for (size_t n = 0; n < conns.size(); ++n) {
      TScriptConn& conn = conns[n];
      if (!conn.Valid() || FAILED(conn.Put(L"TimeOut", 1)) || FAILED(conn.Put(L"Authorization", kAuthorization)) ||
          FAILED(conn.Call(L"AddExtraHeader", kCookie)))
        result.Problems.push_back("no object");
      // Every pair of KeepAlive and Compression among the storm's objects:
      // kept connections meet every hostile reply, and so does the decoder.
      conn.Put(L"KeepAlive", (n + static_cast<size_t>(thread)) % 2 ? -1L : 0L);
      conn.Put(L"Compression", thread >= kThreads / 2 ? -1L : 0L);
    }
    if (result.Problems.empty()) {
      for (size_t i = static_cast<size_t>(thread), n = 0; i < plan.size(); i += kThreads, ++n) {
        TScriptConn& conn = conns[n % conns.size()];
        const TKind& kind = kinds[plan[i].Kind];
        const std::wstring url = CallUrl(kind, plan[i].Seed, base, tlsBase, tlsFaults);
        conn.ClearError();
        conn.Put(L"URL", url);
        watch.CallStart = GetTickCount();
        watch.CallIndex = static_cast<int>(i);
        HRESULT hr = E_FAIL;
        const std::wstring body = conn.GetURL(&hr);
        watch.CallIndex = -1;
        ++result.Calls;
        ++result.Injected[plan[i].Kind];
        const std::wstring error = conn.Get(L"Error");
        const std::wstring status = conn.Get(L"Response");
        if (!error.empty()) ++result.Failed[plan[i].Kind];
        std::string where = "call " + std::to_string(i) + " (" + kind.Name + "/" + std::to_string(plan[i].Seed) + ")";
        if (hr != S_OK)
          result.Problems.push_back(where + ": GetURL returned a COM error " + std::to_string(hr));
        else if (error.empty() && status.empty())
          result.Problems.push_back(where + ": no response and no error: a failure went unreported");
        else if (kind.MustFail && error.empty())
          result.Problems.push_back(where + ": taken for a response: " + Narrow(status));
        else if (kind.Route == TKind::RedirectOrigin && error.empty() && !OriginProblem(url, body).empty())
          result.Problems.push_back(where + ": " + OriginProblem(url, body) + ": " + Narrow(body.substr(0, 200)));
      }
    }
    // Every object still works: a good page, whole, in clear text and over TLS.
    for (TScriptConn& conn : conns) {
      conn.Put(L"TimeOut", 30);
      bool good = true;
      for (const std::wstring& site : {base, tlsBase}) {
        conn.ClearError();
        if (conn.Fetch(site + L"s/hello") != L"Hello from the scenario server.\r\n" || !conn.Get(L"Error").empty()) {
          good = false;
          result.Problems.push_back("an object no longer fetches a good page from " + Narrow(site) + ": " +
                                    Narrow(conn.Get(L"Error")));
        }
      }
      result.GoodPagesAfter += good;
    }
  }
  CoUninitialize();
}

}  // namespace

TEST(HostileStorm, EveryCallReturnsAndFailuresAreReportedAsErrors)
{
  const std::wstring base = ScenarioBase();
  const std::wstring tlsBase = TlsScenarioBase();
  const std::wstring tlsFaults = TlsBase("KESTREL_TLS_HOSTILE_PORT");
  ASSERT_FALSE(base.empty()) << "KESTREL_SCENARIO_PORT is not set: start tests/servers/servers.sh";
  ASSERT_FALSE(tlsBase.empty() || tlsFaults.empty()) << "the TLS servers are not running";
  ASSERT_TRUE(std::getenv("KESTREL_TLS_TRUSTED")) << "the test CA is not trusted: run under scripts/run-tests.sh";
  ASSERT_NE(KestrelDll().GetClassObject, nullptr);

  // The kinds come from the server itself, through a Conn: a good page too.
  TScriptConn lister;
  ASSERT_TRUE(lister.Valid());
  std::vector<TKind> kinds = ParseKinds(lister.Fetch(base + L"hostile/kinds"));
  ASSERT_GE(kinds.size(), 10u) << Narrow(lister.Get(L"Error"));
  AddTlsKinds(kinds);

  // The plan: a kind by weight and a seed for each call, from one fixed seed.
  std::mt19937 random(kSeed);
  std::vector<int> weights;
  for (const TKind& kind : kinds) weights.push_back(kind.Weight);
  std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
  std::vector<TCall> plan(static_cast<size_t>(StormCalls()));
  for (TCall& call : plan) {
    call.Kind = pick(random);
    call.Seed = random() % 1000000;
  }

  const DWORD start = GetTickCount();
  std::vector<TWatch> watches(kThreads);
  std::vector<TThreadResult> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      RunStormThread(t, kinds, plan, base, tlsBase, tlsFaults, watches[t], results[t]);
      watches[t].Done = true;
    });
  // The watchdog: a call that does not return is a hang, and a hung thread
  // cannot be joined, so the test process ends itself with the evidence.
  for (bool running = true; running;) {
    Sleep(200);
    running = false;
    for (int t = 0; t < kThreads; ++t) {
      const int call = watches[t].CallIndex;
      const LONG elapsedMs = static_cast<LONG>(GetTickCount() - watches[t].CallStart);
      if (call >= 0 && call == watches[t].CallIndex && elapsedMs > static_cast<LONG>(kCallBoundMs)) {
        std::fprintf(stderr, "HANG: call %d has not returned after %ld ms\n", call, elapsedMs);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
      }
      if (!watches[t].Done) running = true;
    }
  }
  for (std::thread& thread : threads) thread.join();
  const DWORD elapsed = GetTickCount() - start;

  int calls = 0, failures = 0, goodAfter = 0;
  for (const TThreadResult& result : results) {
    calls += result.Calls;
    goodAfter += result.GoodPagesAfter;
    for (size_t k = 0; k < kinds.size() && k < result.Injected.size(); ++k) {
      kinds[k].Injected += result.Injected[k];
      kinds[k].Failed += result.Failed[k];
      failures += result.Failed[k];
    }
    for (const std::string& problem : result.Problems) ADD_FAILURE() << problem;
  }
  std::printf("storm: %d calls on %d objects in %lu ms, %d reported failures, 0 crashes, %d/%d good pages after\n",
              calls, kThreads * kObjectsPerThread, static_cast<unsigned long>(elapsed), failures, goodAfter,
              kThreads * kObjectsPerThread);
  for (const TKind& kind : kinds)
    std::printf("  %-18s injected %4d  failed %4d%s\n", kind.Name.c_str(), kind.Injected, kind.Failed,
                kind.MustFail ? "  (must fail)" : "");
  EXPECT_EQ(calls, StormCalls());
  EXPECT_EQ(goodAfter, kThreads * kObjectsPerThread);
}
