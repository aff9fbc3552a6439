// The run-time binding of the socket library: load state, per-call lookup
// errors (with a stand-in library lacking one entry point), the notice field
// readers, and the asynchronous lookups the connection relies on.
#include "platform/WinsockApi.h"

#include "PumpUntil.h"
#include "platform/UtilityWindow.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const TestLibrary = "kestrel_testsock.dll";

template <typename Call>
std::string BindingError(Call call) {
  try {
    call();
  } catch (const EWinsockDLLError& error) {
    return error.what();
  }
  return "(no error)";
}

// A utility window that records the last notice it received.
struct NoticeWindow {
  TMessageRecord Last{};
  int Count = 0;
  HWND Window = CreateUtilityWindow([this](TMessageRecord& message) {
    if (message.Msg == WM_USER + 1) {
      Last = message;
      ++Count;
    } else {
      message.Result = DefWindowProcA(Window, message.Msg, message.WParam, message.LParam);
    }
  });
  ~NoticeWindow() { DestroyUtilityWindow(Window); }
};

}  // namespace

// The process-wide binding loads nothing while the module loads: the first
// call that needs the library loads it, and a release while nothing uses it
// leaves it to be loaded again. Unloaded on purpose, it stays unloaded.
TEST(WinsockApi, ModuleInstanceIsLoadedOnFirstUse) {
  EXPECT_EQ(WinsockApi.LibraryName(), "wsock32.dll");
  for (int round = 0; round < 2; ++round) {
    WinsockApi.ReleaseUnused();
    EXPECT_FALSE(WinsockApi.IsLoaded());
    EXPECT_EQ(WinsockApi.Handle(), nullptr);
    EXPECT_EQ(WinsockApi.htons(0x1234), 0x3412);
    EXPECT_GT(reinterpret_cast<uintptr_t>(WinsockApi.Handle()), 32u);
  }
  WinsockApi.ReleaseUnused();
  EXPECT_EQ(WinsockApi.inet_addr("127.0.0.1"), 0x0100007Fu) << "inet_addr loads it too";
  WinsockApi.Prepare();
  EXPECT_TRUE(WinsockApi.IsLoaded());

  WinsockApi.Unload();
  WinsockApi.Prepare();
  EXPECT_FALSE(WinsockApi.IsLoaded());
  EXPECT_EQ(BindingError([&] { WinsockApi.htons(1); }), "Winsock is not loaded");
  WinsockApi.ReleaseUnused();
  EXPECT_EQ(BindingError([&] { WinsockApi.htons(1); }), "Winsock is not loaded");
  WinsockApi.Load();
  EXPECT_TRUE(WinsockApi.IsLoaded());
}

TEST(WinsockApi, ACancelledLookupKeepsTheLibrary) {
  TWinsockApi api(TestLibrary, TWinsockApi::BindOnFirstUse);
  NoticeWindow notices;
  char record[MAXGETHOSTSTRUCT] = {};
  api.ReleaseUnused();
  EXPECT_FALSE(api.IsLoaded()) << "nothing cancelled yet";
  HANDLE lookup = api.WSAAsyncGetHostByName(notices.Window, WM_USER + 1, "localhost", record, sizeof record);
  api.WSACancelAsyncRequest(lookup);
  api.ReleaseUnused();
  EXPECT_TRUE(api.IsLoaded());
  api.Unload();
}

TEST(WinsockApi, AModuleInstanceWithoutItsLibraryFailsEachCall) {
  TWinsockApi api("kestrel-no-such-socket-library.dll", TWinsockApi::BindOnFirstUse);
  api.Prepare();  // quietly
  EXPECT_FALSE(api.IsLoaded());
  EXPECT_EQ(BindingError([&] { api.socket(AF_INET, SOCK_STREAM, 0); }), "Winsock not found");
  EXPECT_EQ(BindingError([&] { api.inet_addr("127.0.0.1"); }), "Winsock not found");
}

TEST(WinsockApi, LoadUnloadAndReload) {
  TWinsockApi api;
  ASSERT_TRUE(api.IsLoaded());
  HMODULE handle = api.Handle();
  api.Load();  // already loaded: same handle
  EXPECT_EQ(api.Handle(), handle);

  api.Unload();
  api.Unload();  // harmless
  EXPECT_FALSE(api.IsLoaded());
  EXPECT_EQ(api.Handle(), nullptr);
  EXPECT_EQ(BindingError([&] { api.connect(INVALID_SOCKET, nullptr, 0); }), "Winsock is not loaded");
  EXPECT_EQ(BindingError([&] { api.WSAStartup(257, nullptr); }), "Winsock is not loaded");
  EXPECT_EQ(BindingError([&] { api.WSACleanup(); }), "Winsock is not loaded");
  EXPECT_EQ(BindingError([&] { api.inet_addr("127.0.0.1"); }), "Function inet_addr not found");

  api.Load();
  ASSERT_TRUE(api.IsLoaded());
  WSADATA data{};
  EXPECT_EQ(api.WSAStartup(257, &data), 0);
  EXPECT_EQ(data.wVersion, 257);
  EXPECT_EQ(api.WSACleanup(), 0);
}

TEST(WinsockApi, MissingLibrary) {
  TWinsockApi api("kestrel-no-such-socket-library.dll");  // start-up load fails quietly
  EXPECT_FALSE(api.IsLoaded());
  EXPECT_EQ(BindingError([&] { api.Load(); }), "Winsock not found");
  EXPECT_EQ(api.Handle(), nullptr);
  EXPECT_EQ(BindingError([&] { api.socket(AF_INET, SOCK_STREAM, 0); }), "Winsock is not loaded");
}

TEST(WinsockApi, LibraryLackingOneEntryPointFailsOnlyThatCall) {
  TWinsockApi api(TestLibrary);
  ASSERT_TRUE(api.IsLoaded()) << "the stand-in library must sit beside the test program";
  WSADATA data{};
  ASSERT_EQ(api.WSAStartup(257, &data), 0);
  EXPECT_EQ(api.htons(0x1234), 0x3412);
  EXPECT_EQ(api.inet_addr("127.0.0.1"), 0x0100007Fu);
  EXPECT_EQ(api.inet_addr("localhost"), INADDR_NONE);
  SOCKET s = api.socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(BindingError([&] { api.WSAAsyncSelect(s, nullptr, 1174, 51); }),
            "Function WSAAsyncSelect not found");
  EXPECT_EQ(BindingError([&] { api.GetProc("NoSuchEntryPoint"); }), "Function NoSuchEntryPoint not found");
  EXPECT_EQ(api.closesocket(s), 0);
  EXPECT_EQ(api.WSACleanup(), 0);
}

TEST(WinsockApi, NoticeFieldReaders) {
  LPARAM lParam = MAKELPARAM(16, 10013);
  EXPECT_EQ(GetAsyncError(lParam), 10013);
  EXPECT_EQ(GetSelectEvent(lParam), 16);
  EXPECT_EQ(GetAsyncError(MAKELPARAM(1, 0)), 0);
  // Both halves read as signed 16-bit values.
  EXPECT_EQ(GetAsyncError(MAKELPARAM(0, 0xFFFF)), -1);
  EXPECT_EQ(GetSelectEvent(MAKELPARAM(0x8000, 0)), -32768);
}

TEST(WinsockApi, AsynchronousLookupsPostTheirNotice) {
  WSADATA data{};
  ASSERT_EQ(WinsockApi.WSAStartup(257, &data), 0);
  NoticeWindow notices;
  ASSERT_NE(notices.Window, nullptr);

  char hostRecord[MAXGETHOSTSTRUCT] = {};
  HANDLE lookup = WinsockApi.WSAAsyncGetHostByName(notices.Window, WM_USER + 1, "localhost", hostRecord,
                                                   sizeof hostRecord);
  ASSERT_NE(lookup, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return notices.Count == 1; }));
  EXPECT_EQ(reinterpret_cast<HANDLE>(notices.Last.WParam), lookup);
  EXPECT_EQ(GetAsyncError(notices.Last.LParam), 0);
  const auto* host = reinterpret_cast<const hostent*>(hostRecord);
  ASSERT_NE(host->h_addr_list[0], nullptr);
  EXPECT_EQ(static_cast<unsigned char>(host->h_addr_list[0][0]), 127);

  char serviceRecord[MAXGETHOSTSTRUCT] = {};
  lookup = WinsockApi.WSAAsyncGetServByName(notices.Window, WM_USER + 1, "http", "tcp", serviceRecord,
                                            sizeof serviceRecord);
  ASSERT_NE(lookup, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return notices.Count == 2; }));
  EXPECT_EQ(GetAsyncError(notices.Last.LParam), 0);
  EXPECT_EQ(WinsockApi.htons(static_cast<u_short>(reinterpret_cast<const servent*>(serviceRecord)->s_port)), 80);
  EXPECT_EQ(WinsockApi.WSACleanup(), 0);
}

TEST(WinsockApi, StandInHostLookupCompletesWithHostNotFound) {
  TWinsockApi api(TestLibrary);
  ASSERT_TRUE(api.IsLoaded());
  NoticeWindow notices;
  char record[MAXGETHOSTSTRUCT] = {};
  HANDLE lookup = api.WSAAsyncGetHostByName(notices.Window, WM_USER + 1, "localhost", record, sizeof record);
  ASSERT_NE(lookup, nullptr);
  EXPECT_EQ(notices.Count, 0) << "a notice is delivered only by the pump";
  ASSERT_TRUE(PumpUntil([&] { return notices.Count == 1; }));
  EXPECT_EQ(GetAsyncError(notices.Last.LParam), 11001);
}
