// The IConn members through the v-table, for what scripts cannot see: out
// parameters cleared or written, null BSTRs for empty texts, NUL characters
// kept, the exact variant types and bounds of the arrays, calls dispatched
// while a request waits, and the library's unload state once an object that
// made requests is gone. Requests go to the scenario server on 127.0.0.1.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "AutomationTestSupport.h"

namespace {

#define REQUIRE_SCENARIO_SERVER(base)                                   \
  const std::wstring base = ScenarioBase();                             \
  ASSERT_FALSE(base.empty()) << "KESTREL_SCENARIO_PORT is not set: "    \
                                "start the servers with tests/servers/servers.sh"

// Owns a VARIANT for the length of a test.
class TVar {
public:
  TVar() { VariantInit(&value_); }
  ~TVar() { VariantClear(&value_); }
  TVar(const TVar&) = delete;
  TVar& operator=(const TVar&) = delete;
  // For out parameters: a sentinel value shows a missed write.
  VARIANT* Out()
  {
    VariantClear(&value_);
    V_VT(&value_) = VT_I4;
    V_I4(&value_) = kSentinelLong;
    return &value_;
  }
  VARTYPE Type() const { return V_VT(&value_); }
  SAFEARRAY* Array() const { return V_ARRAY(&value_); }

private:
  VARIANT value_;
};

LONG LowerBound(SAFEARRAY* array)
{
  LONG bound = kSentinelLong;
  SafeArrayGetLBound(array, 1, &bound);
  return bound;
}

LONG UpperBound(SAFEARRAY* array)
{
  LONG bound = kSentinelLong;
  SafeArrayGetUBound(array, 1, &bound);
  return bound;
}

std::vector<int> Bytes(SAFEARRAY* array)
{
  std::vector<int> bytes;
  for (LONG i = LowerBound(array); i <= UpperBound(array); ++i) {
    unsigned char byte = 0;
    SafeArrayGetElement(array, &i, &byte);
    bytes.push_back(byte);
  }
  return bytes;
}

// The elements of an array of VARIANTs, each of which must hold a BSTR.
std::vector<std::wstring> Texts(SAFEARRAY* array)
{
  std::vector<std::wstring> texts;
  for (LONG i = LowerBound(array); i <= UpperBound(array); ++i) {
    VARIANT element;
    VariantInit(&element);
    SafeArrayGetElement(array, &i, &element);
    EXPECT_EQ(VT_BSTR, V_VT(&element)) << "element " << i;
    if (V_VT(&element) == VT_BSTR && V_BSTR(&element))
      texts.emplace_back(V_BSTR(&element), SysStringLen(V_BSTR(&element)));
    else
      texts.emplace_back();
    VariantClear(&element);
  }
  return texts;
}

class ConnMembers : public ::testing::Test {
protected:
  void SetUp() override
  {
    conn = NewConn();
    ASSERT_TRUE(conn);
    SetErrorInfo(0, nullptr);
  }

  void SetURL(const std::wstring& url)
  {
    TBstr text(url);
    ASSERT_EQ(S_OK, conn->put_URL(text.Get()));
  }

  std::wstring Fetch()
  {
    TBstr body;
    EXPECT_EQ(S_OK, conn->GetURL(body.Out()));
    EXPECT_FALSE(body.IsSentinel());
    return body.Text();
  }

  std::wstring Error()
  {
    TBstr text;
    EXPECT_EQ(S_OK, conn->get_Error(text.Out()));
    return text.Text();
  }

  TComPtr<IConn> conn;
};

using TextGetter = HRESULT (STDMETHODCALLTYPE IConn::*)(BSTR*);

}  // namespace

TEST_F(ConnMembers, EmptyTextsAreNullBstrs)
{
  const TextGetter getters[] = {
      &IConn::get_Protocol,     &IConn::get_URL,          &IConn::get_FileName,
      &IConn::get_Proxy,        &IConn::get_PostData,     &IConn::get_Headers,
      &IConn::get_UserAgent,    &IConn::get_ExtraHeaders, &IConn::get_SaveFileTo,
      &IConn::get_Authorization, &IConn::get_HTTPLog,     &IConn::get_Error,
      &IConn::get_ProxyPassword, &IConn::get_Response};
  for (size_t i = 0; i < sizeof getters / sizeof getters[0]; ++i) {
    TBstr text;
    EXPECT_EQ(S_OK, (conn.Get()->*getters[i])(text.Out())) << "getter " << i;
    EXPECT_TRUE(text.IsNull()) << "getter " << i;
  }
  TBstr name(L"Content-Type"), value;
  EXPECT_EQ(S_OK, conn->GetHeader(name.Get(), value.Out()));
  EXPECT_TRUE(value.IsNull());

  // A text emptied again is null as well.
  TBstr agent(L"Agent"), empty(L""), text;
  ASSERT_EQ(S_OK, conn->put_UserAgent(agent.Get()));
  ASSERT_EQ(S_OK, conn->put_UserAgent(empty.Get()));
  EXPECT_EQ(S_OK, conn->get_UserAgent(text.Out()));
  EXPECT_TRUE(text.IsNull());
}

TEST_F(ConnMembers, EveryResultIsWrittenOverTheCallersValue)
{
  TBstr text;
  EXPECT_EQ(S_OK, conn->get_Accept(text.Out()));
  EXPECT_EQ(L"*/*", text.Text());

  LONG number = kSentinelLong;
  EXPECT_EQ(S_OK, conn->get_TimeOut(&number));
  EXPECT_EQ(60, number);
  number = kSentinelLong;
  EXPECT_EQ(S_OK, conn->get_Port(&number));
  EXPECT_EQ(80, number);

  VARIANT_BOOL flag = 0x1234;
  EXPECT_EQ(S_OK, conn->get_FollowRedirects(&flag));
  EXPECT_EQ(VARIANT_TRUE, flag);

  TVar names;
  EXPECT_EQ(S_OK, conn->get_GetHREFNames(names.Out()));
  EXPECT_EQ(VT_EMPTY, names.Type());

  // Null out pointers are refused, not written through.
  EXPECT_EQ(E_POINTER, conn->GetURL(nullptr));
  EXPECT_EQ(E_POINTER, conn->get_Port(nullptr));
  EXPECT_EQ(E_POINTER, conn->get_BinaryData(nullptr));
  EXPECT_EQ(E_POINTER, conn->GetHREFs(nullptr));
}

// The object's default interface extends IConn: the same object answers
// both, and IConn2's members start at values that change nothing.
TEST_F(ConnMembers, IConn2MembersStartOffAndConvertAtTheBoundary)
{
  TComPtr<IConn2> conn2;
  ASSERT_EQ(S_OK, conn->QueryInterface(IID_IConn2, conn2.ReceiveVoid()));
  EXPECT_EQ(static_cast<void*>(conn.Get()), static_cast<void*>(conn2.Get()));

  using TextGetter2 = HRESULT (STDMETHODCALLTYPE IConn2::*)(BSTR*);
  for (TextGetter2 getter : {&IConn2::get_Charset, &IConn2::get_ResponseCharset, &IConn2::get_Cookies,
                             &IConn2::get_TrustedCertificates}) {
    TBstr text;
    EXPECT_EQ(S_OK, (conn2.Get()->*getter)(text.Out()));
    EXPECT_TRUE(text.IsNull());
  }
  using FlagGetter = HRESULT (STDMETHODCALLTYPE IConn2::*)(VARIANT_BOOL*);
  using FlagPutter = HRESULT (STDMETHODCALLTYPE IConn2::*)(VARIANT_BOOL);
  const std::pair<FlagGetter, FlagPutter> flags[] = {{&IConn2::get_KeepAlive, &IConn2::put_KeepAlive},
                                                     {&IConn2::get_Compression, &IConn2::put_Compression},
                                                     {&IConn2::get_KeepCookies, &IConn2::put_KeepCookies}};
  for (const auto& flag : flags) {
    VARIANT_BOOL value = 0x1234;
    EXPECT_EQ(S_OK, (conn2.Get()->*flag.first)(&value));
    EXPECT_EQ(VARIANT_FALSE, value);
    // Any non-zero value is true, and true reads back as -1.
    ASSERT_EQ(S_OK, (conn2.Get()->*flag.second)(static_cast<VARIANT_BOOL>(0x0100)));
    EXPECT_EQ(S_OK, (conn2.Get()->*flag.first)(&value));
    EXPECT_EQ(VARIANT_TRUE, value);
    EXPECT_EQ(E_POINTER, (conn2.Get()->*flag.first)(nullptr));
  }
}

TEST_F(ConnMembers, NumbersAndFlagsConvertAtTheBoundary)
{
  LONG port = 0;
  ASSERT_EQ(S_OK, conn->put_Port(0x12345));
  ASSERT_EQ(S_OK, conn->get_Port(&port));
  EXPECT_EQ(0x2345, port);
  ASSERT_EQ(S_OK, conn->put_Port(-2));
  ASSERT_EQ(S_OK, conn->get_Port(&port));
  EXPECT_EQ(65534, port);

  // Any non-zero 16-bit value is true, and true reads back as -1.
  VARIANT_BOOL flag = 0;
  ASSERT_EQ(S_OK, conn->put_FollowRedirects(static_cast<VARIANT_BOOL>(0x0100)));
  ASSERT_EQ(S_OK, conn->get_FollowRedirects(&flag));
  EXPECT_EQ(VARIANT_TRUE, flag);
  ASSERT_EQ(S_OK, conn->put_FollowRedirects(VARIANT_FALSE));
  ASSERT_EQ(S_OK, conn->get_FollowRedirects(&flag));
  EXPECT_EQ(VARIANT_FALSE, flag);

  LONG timeOut = 0;
  ASSERT_EQ(S_OK, conn->put_TimeOut(-7));
  ASSERT_EQ(S_OK, conn->get_TimeOut(&timeOut));
  EXPECT_EQ(-7, timeOut);
}

TEST_F(ConnMembers, NulCharactersSurviveAPutAndAGet)
{
  const std::wstring data(L"a\0b\0", 4);
  TBstr in(data), out;
  ASSERT_EQ(S_OK, conn->put_PostData(in.Get()));
  ASSERT_EQ(S_OK, conn->get_PostData(out.Out()));
  EXPECT_EQ(data, out.Text());

  TBstr header(std::wstring(L"X-A: \0z", 7)), lines;
  ASSERT_EQ(S_OK, conn->AddExtraHeader(header.Get()));
  ASSERT_EQ(S_OK, conn->get_ExtraHeaders(lines.Out()));
  EXPECT_EQ(std::wstring(L"X-A: \0z\r\n", 9), lines.Text());
}

TEST_F(ConnMembers, ARefusedPutIsACOMErrorAndChangesNothing)
{
  TBstr good(L"http://127.0.0.1/a.html"), bad(L"file:///c:/boot.ini"), url;
  ASSERT_EQ(S_OK, conn->put_URL(good.Get()));
  EXPECT_EQ(E_UNEXPECTED, conn->put_URL(bad.Get()));
  TErrorText error = TakeErrorInfo();
  EXPECT_EQ(L"Invalid URL", error.Description);
  EXPECT_EQ(L"Kestrel.Conn", error.Source);
  EXPECT_EQ(GuidText(IID_IConn), GuidText(error.Interface));
  ASSERT_EQ(S_OK, conn->get_URL(url.Out()));
  EXPECT_EQ(L"http://127.0.0.1/a.html", url.Text());

  TBstr proxy(L"proxyhost");
  EXPECT_EQ(E_UNEXPECTED, conn->put_Proxy(proxy.Get()));
  EXPECT_EQ(L"Proxy port is required", TakeErrorInfo().Description);
}

TEST_F(ConnMembers, BinaryDataIsAByteArrayFromIndexZero)
{
  // Before any request: an array with no elements, not VT_NULL.
  TVar bytes;
  ASSERT_EQ(S_OK, conn->get_BinaryData(bytes.Out()));
  ASSERT_EQ(VT_ARRAY | VT_UI1, bytes.Type());
  EXPECT_EQ(1u, SafeArrayGetDim(bytes.Array()));
  EXPECT_EQ(0, LowerBound(bytes.Array()));
  EXPECT_EQ(-1, UpperBound(bytes.Array()));

  REQUIRE_SCENARIO_SERVER(base);
  SetURL(base + L"s/conn-bytes");
  EXPECT_EQ(std::wstring(L"\0\u00ff\n", 3), Fetch());
  ASSERT_EQ(S_OK, conn->get_BinaryData(bytes.Out()));
  ASSERT_EQ(VT_ARRAY | VT_UI1, bytes.Type());
  EXPECT_EQ(0, LowerBound(bytes.Array()));
  EXPECT_EQ(2, UpperBound(bytes.Array()));
  EXPECT_EQ((std::vector<int>{0, 255, 10}), Bytes(bytes.Array()));

  // Each read is a copy of its own.
  TVar again;
  ASSERT_EQ(S_OK, conn->get_BinaryData(again.Out()));
  EXPECT_NE(bytes.Array(), again.Array());
  EXPECT_EQ((std::vector<int>{0, 255, 10}), Bytes(again.Array()));
}

// A 32 MiB body over TLS, as text, as bytes and saved to a file: byte i of
// 256-byte block b is (i + b) mod 256.
TEST_F(ConnMembers, LargeHttpsBodyAsTextBytesAndFile)
{
  const char* port = std::getenv("KESTREL_TLS_PORT");
  ASSERT_TRUE(port && std::getenv("KESTREL_TLS_TRUSTED")) << "TLS servers or trust missing: run scripts/run-tests.sh";
  const std::wstring url = L"https://localhost:" + std::wstring(port, port + std::strlen(port)) + L"/big32.bin";
  const size_t size = 32u << 20;
  auto expected = [](size_t k) { return static_cast<unsigned char>((k % 256 + k / 256) % 256); };
  SetURL(url);
  const std::wstring text = Fetch();
  EXPECT_EQ(L"", Error());
  ASSERT_EQ(size, text.size());
  // The text is the bytes in the system code page (a single-byte one here).
  char all[256];
  for (int b = 0; b < 256; ++b) all[b] = static_cast<char>(b);
  wchar_t wide[256];
  ASSERT_EQ(256, MultiByteToWideChar(CP_ACP, 0, all, 256, wide, 256));
  size_t differing = 0;
  for (size_t k = 0; k < size; ++k) differing += text[k] != wide[expected(k)];
  EXPECT_EQ(0u, differing);

  TVar bytes;
  ASSERT_EQ(S_OK, conn->get_BinaryData(bytes.Out()));
  ASSERT_EQ(VT_ARRAY | VT_UI1, bytes.Type());
  ASSERT_EQ(static_cast<LONG>(size) - 1, UpperBound(bytes.Array()));
  unsigned char* data = nullptr;
  ASSERT_EQ(S_OK, SafeArrayAccessData(bytes.Array(), reinterpret_cast<void**>(&data)));
  differing = 0;
  for (size_t k = 0; k < size; ++k) differing += data[k] != expected(k);
  SafeArrayUnaccessData(bytes.Array());
  EXPECT_EQ(0u, differing);

  const std::wstring file = TestFolder() + L"https_big32.bin";
  DeleteFileW(file.c_str());
  TBstr name(file);
  ASSERT_EQ(S_OK, conn->put_SaveFileTo(name.Get()));
  Fetch();
  EXPECT_EQ(L"", Error());
  WIN32_FILE_ATTRIBUTE_DATA info{};
  ASSERT_TRUE(GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &info));
  EXPECT_EQ(size, (static_cast<size_t>(info.nFileSizeHigh) << 16 << 16) | info.nFileSizeLow);
  DeleteFileW(file.c_str());
}

TEST_F(ConnMembers, AFailedRequestGivesANullResultAndItsErrorText)
{
  SetURL(L"http://127.0.0.1:1/");
  TBstr body;
  EXPECT_EQ(S_OK, conn->GetURL(body.Out()));
  EXPECT_TRUE(body.IsNull());
  EXPECT_EQ(L"[10061] Connection refused", Error());
  // Not a COM error: no error information is left behind.
  EXPECT_FALSE(TakeErrorInfo().Present);
}

TEST_F(ConnMembers, LinkArraysAreVariantsOfTextsAndTheTextsAreCopies)
{
  REQUIRE_SCENARIO_SERVER(base);
  SetURL(base + L"s/conn-links.html");
  Fetch();

  TVar targets;
  ASSERT_EQ(S_OK, conn->GetHREFs(targets.Out()));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, targets.Type());
  EXPECT_EQ(0, LowerBound(targets.Array()));
  EXPECT_EQ(9, UpperBound(targets.Array()));
  std::vector<std::wstring> found = Texts(targets.Array());
  ASSERT_EQ(10u, found.size());
  EXPECT_EQ(L"x.html", found[0]);
  EXPECT_EQ(L"q?a=1&amp;b=2", found[3]);

  TVar names, namesAgain;
  ASSERT_EQ(S_OK, conn->get_GetHREFNames(names.Out()));
  ASSERT_EQ(S_OK, conn->get_GetHREFNames(namesAgain.Out()));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, names.Type());
  EXPECT_NE(names.Array(), namesAgain.Array());
  found = Texts(names.Array());
  ASSERT_EQ(10u, found.size());
  EXPECT_EQ(L"Tom&Jerry", found[3]);
  EXPECT_EQ(L"Not Available", found[6]);

  // A body without anchors gives arrays with no elements at all.
  SetURL(base + L"s/hello");
  Fetch();
  ASSERT_EQ(S_OK, conn->GetHREFs(targets.Out()));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, targets.Type());
  EXPECT_EQ(-1, UpperBound(targets.Array()));
  ASSERT_EQ(S_OK, conn->get_GetHREFNames(names.Out()));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, names.Type());
  EXPECT_EQ(-1, UpperBound(names.Array()));
}

namespace {

// A window whose message, when dispatched, calls GetURL on the object: what
// a call arriving while a request pumps the thread's messages does.
constexpr UINT kNestedCallMessage = WM_APP + 1;
IConn* nestedTarget = nullptr;
HRESULT nestedResult = E_FAIL;
bool nestedBodyNull = false;

LRESULT CALLBACK NestedCallWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
  if (message != kNestedCallMessage) return DefWindowProcW(window, message, wParam, lParam);
  BSTR body = SentinelBstr();
  nestedResult = nestedTarget->GetURL(&body);
  nestedBodyNull = body == nullptr;
  if (body != SentinelBstr()) SysFreeString(body);
  return 0;
}

}  // namespace

TEST_F(ConnMembers, ARequestCalledWhileOneIsRunningIsRefusedThroughError)
{
  REQUIRE_SCENARIO_SERVER(base);
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = NestedCallWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"KestrelNestedCallTest";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
  ASSERT_NE(nullptr, window);
  nestedTarget = conn.Get();
  nestedResult = E_FAIL;
  nestedBodyNull = false;

  // Queued before the request: its first pass of the message pump delivers it.
  SetURL(base + L"s/hello");
  ASSERT_TRUE(PostMessageW(window, kNestedCallMessage, 0, 0));
  EXPECT_EQ(L"Hello from the scenario server.\r\n", Fetch());
  DestroyWindow(window);

  EXPECT_EQ(S_OK, nestedResult);
  EXPECT_TRUE(nestedBodyNull);
  EXPECT_EQ(L"A request is already running on this object", Error());
  // The object works on afterwards.
  EXPECT_EQ(L"Hello from the scenario server.\r\n", Fetch());
}

TEST(ConnLifetime, TheLibraryCanUnloadOnceAnObjectThatMadeRequestsIsReleased)
{
  const std::wstring base = ScenarioBase();
  ASSERT_FALSE(base.empty()) << "KESTREL_SCENARIO_PORT is not set";
  ASSERT_EQ(S_OK, KestrelDll().CanUnloadNow());
  {
    TComPtr<IConn> conn = NewConn();
    ASSERT_TRUE(conn);
    TBstr url(base + L"s/hello"), body;
    ASSERT_EQ(S_OK, conn->put_URL(url.Get()));
    ASSERT_EQ(S_OK, conn->GetURL(body.Out()));
    EXPECT_EQ(L"Hello from the scenario server.\r\n", body.Text());
    EXPECT_EQ(S_FALSE, KestrelDll().CanUnloadNow());

    // A second reference keeps the object; only the last release ends it.
    conn->AddRef();
    EXPECT_EQ(1u, conn->Release());
    EXPECT_EQ(S_FALSE, KestrelDll().CanUnloadNow());
  }
  EXPECT_EQ(S_OK, KestrelDll().CanUnloadNow());
}

// A script that calls GetURL as a statement asks for no result: the exchange
// runs all the same, for BinaryData, and a failure still reaches Error.
TEST_F(ConnMembers, GetURLAskedForNoResultStillFetches)
{
  REQUIRE_SCENARIO_SERVER(base);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  const DISPID getUrl = 1;
  SetURL(base + L"s/conn-bytes");
  ASSERT_EQ(S_OK, conn->Invoke(getUrl, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr,
                               nullptr));
  EXPECT_EQ(L"", Error());
  TVar bytes;
  ASSERT_EQ(S_OK, conn->get_BinaryData(bytes.Out()));
  EXPECT_EQ((std::vector<int>{0, 255, 10}), Bytes(bytes.Array()));

  SetURL(L"http://127.0.0.1:1/");
  ASSERT_EQ(S_OK, conn->Invoke(getUrl, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr,
                               nullptr));
  EXPECT_EQ(L"[10061] Connection refused", Error());
}
