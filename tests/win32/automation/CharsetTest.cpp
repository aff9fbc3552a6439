// Charset and ResponseCharset through the v-table, against the scenario
// server: each page's text in each mode, the links of pages in several
// charsets, the exact request bytes the charset mode sends, and the paths of
// files outside the system code page. One table per behaviour.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "AutomationTestSupport.h"

namespace {

#define REQUIRE_SCENARIO_SERVER(base)                                   \
  const std::wstring base = ScenarioBase();                             \
  ASSERT_FALSE(base.empty()) << "KESTREL_SCENARIO_PORT is not set: "    \
                                "start the servers with tests/servers/servers.sh"

// The bytes in a code page, as the system converts them.
std::wstring SystemText(UINT codePage, const std::string& bytes)
{
  const int size = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
  return text;
}

std::string AnsiName()
{
  switch (GetACP()) {
    case 1252: return "windows-1252";
    case 1251: return "windows-1251";
    case 932: return "shift_jis";
    default: return "cp" + std::to_string(GetACP());
  }
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

class Charsets : public ::testing::Test {
public:  // for the rows of the request table too
  void SetUp() override
  {
    TComPtr<IConn> conn = NewConn();
    ASSERT_TRUE(conn);
    ASSERT_EQ(S_OK, conn->QueryInterface(IID_IConn2, conn2.ReceiveVoid()));
    SetErrorInfo(0, nullptr);
  }

  template <class I>
  void Put(HRESULT (STDMETHODCALLTYPE I::*put)(BSTR), const std::wstring& value)
  {
    TBstr text(value);
    ASSERT_EQ(S_OK, (conn2.Get()->*put)(text.Get())) << std::string(value.begin(), value.end());
  }
  void SetCharset(const std::wstring& value)
  {
    TBstr text(value);
    ASSERT_EQ(S_OK, conn2->put_Charset(text.Get()));
  }
  template <class I>
  std::wstring Get(HRESULT (STDMETHODCALLTYPE I::*get)(BSTR*))
  {
    TBstr text;
    EXPECT_EQ(S_OK, (conn2.Get()->*get)(text.Out()));
    return text.Text();
  }
  std::wstring ResponseCharset()
  {
    TBstr text;
    EXPECT_EQ(S_OK, conn2->get_ResponseCharset(text.Out()));
    return text.Text();
  }
  std::wstring Fetch(const std::wstring& url)
  {
    Put(&IConn::put_URL, url);
    TBstr body;
    EXPECT_EQ(S_OK, conn2->GetURL(body.Out()));
    return body.Text();
  }
  std::string Bytes()
  {
    VARIANT bytes;
    VariantInit(&bytes);
    EXPECT_EQ(S_OK, conn2->get_BinaryData(&bytes));
    std::string result;
    if (V_VT(&bytes) == (VT_ARRAY | VT_UI1)) {
      char* data = nullptr;
      SafeArrayAccessData(V_ARRAY(&bytes), reinterpret_cast<void**>(&data));
      result.assign(data, V_ARRAY(&bytes)->rgsabound[0].cElements);
      SafeArrayUnaccessData(V_ARRAY(&bytes));
    }
    VariantClear(&bytes);
    return result;
  }
  std::vector<std::wstring> Array(HRESULT (STDMETHODCALLTYPE IConn::*get)(VARIANT*))
  {
    VARIANT array;
    VariantInit(&array);
    EXPECT_EQ(S_OK, (conn2.Get()->*get)(&array));
    std::vector<std::wstring> texts;
    if (V_VT(&array) == (VT_ARRAY | VT_VARIANT)) {
      VARIANT* items = nullptr;
      SafeArrayAccessData(V_ARRAY(&array), reinterpret_cast<void**>(&items));
      for (ULONG i = 0; i < V_ARRAY(&array)->rgsabound[0].cElements; ++i)
        texts.emplace_back(V_BSTR(&items[i]) ? std::wstring(V_BSTR(&items[i]), SysStringLen(V_BSTR(&items[i]))) : L"");
      SafeArrayUnaccessData(V_ARRAY(&array));
    }
    VariantClear(&array);
    return texts;
  }

  TComPtr<IConn2> conn2;
};

// What each page reads as in each mode. A row without a text expects the
// system's conversion of the body in codePage (CP_ACP: the ANSI code page).
struct TTextCase {
  const char* scenario;
  const wchar_t* charset;
  const wchar_t* text;
  UINT codePage;
  const char* responseCharset;  // null: the ANSI code page's name
};

const TTextCase kTextCases[] = {
    {"charset-utf8.html", L"auto", L"<p>Caf\u00e9 \u03a9\u03bc\u03ad\u03b3\u03b1 \u65e5\u672c\u8a9e \U0001F600</p>\r\n", 0, "utf-8"},
    {"charset-utf8.html", L"", nullptr, CP_ACP, nullptr},  // today's text
    {"charset-utf8.html", L"windows-1251", nullptr, 1251, "windows-1251"},
    {"charset-windows-1251", L"auto", L"\u041f\u0440\u0438\u0432\u0435\u0442", 0, "windows-1251"},
    {"charset-windows-1251", L"utf-8", L"\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd", 0, "utf-8"},
    {"charset-shift_jis", L"AUTO", L"\u65e5\u672c\u8a9e!", 0, "shift_jis"},
    {"charset-utf-16le-bom", L"auto", L"A\u00e9\u20ac\U0001F600", 0, "utf-16le"},
    {"charset-utf-16le-bom", L"utf-16", L"A\u00e9\u20ac\U0001F600", 0, "utf-16le"},
    {"charset-utf-16be-bom", L"auto", L"A\u00e9\u20ac", 0, "utf-16be"},
    {"charset-bom-wins", L"auto", L"x\u00e9", 0, "utf-8"},
    {"charset-json", L"auto", L"{\"name\":\"Zo\u00eb\"}\r\n", 0, "utf-8"},
    {"charset-meta.html", L"auto",
     L"<!DOCTYPE html><html><head><!-- <meta charset=\"utf-8\"> --><title>t</title><meta http-equiv=\"Content-Type\" "
     L"content=\"text/html; charset=windows-1251\"></head><body><a href=\"/\u0442\">\u041f\u0440\u0438\u0432\u0435\u0442"
     L"</a></body></html>",
     0, "windows-1251"},
    {"charset-meta-charset.html", L"auto",
     L"<html><head><meta charset=koi8-r></head><body>\u041f\u0440\u0438\u0432\u0435\u0442</body></html>", 0, "koi8-r"},
    {"charset-undeclared-utf8", L"auto", L"x\u00e9y", 0, "utf-8"},
    {"charset-undeclared-latin", L"auto", nullptr, CP_ACP, nullptr},
    {"charset-undeclared-latin", L" Latin1 ", L"caf\u00e9!", 0, "windows-1252"},
    {"charset-undeclared-latin", L"x-user-defined", L"caf\uf7e9!", 0, "x-user-defined"},
    {"charset-invalid-utf8", L"auto", L"A\ufffdB\ufffd(\ufffd|\ufffd\ufffd|\ufffd\ufffd\ufffd|\ufffd", 0, "utf-8"},
    {"charset-chunk-split", L"auto", L"\u00e9\u20ac\U0001F600", 0, "utf-8"},
};

TEST_F(Charsets, EachPageReadsInItsCharsetAndResponseCharsetNamesIt)
{
  REQUIRE_SCENARIO_SERVER(base);
  EXPECT_EQ(L"", ResponseCharset());  // before the first response
  for (const TTextCase& c : kTextCases) {
    SCOPED_TRACE(std::string(c.scenario) + " with Charset " + std::string(c.charset, c.charset + wcslen(c.charset)));
    SetCharset(c.charset);
    const std::wstring text = Fetch(base + L"s/" + Wide(c.scenario));
    EXPECT_EQ(L"", Get(&IConn::get_Error));
    EXPECT_EQ(c.text ? std::wstring(c.text) : SystemText(c.codePage, Bytes()), text);
    EXPECT_EQ(Wide(c.responseCharset ? c.responseCharset : AnsiName()), ResponseCharset());
    EXPECT_EQ(std::wstring(c.charset), Get(&IConn2::get_Charset));
  }
  // A failed request tells no charset.
  Fetch(L"http://127.0.0.1:1/");
  EXPECT_EQ(L"[10061] Connection refused", Get(&IConn::get_Error));
  EXPECT_EQ(L"", ResponseCharset());
}

TEST_F(Charsets, LinksComeInTheDocumentsCharsetWithRealCharactersForReferences)
{
  REQUIRE_SCENARIO_SERVER(base);
  const struct {
    const char* scenario;
    std::vector<std::wstring> targets, texts;
  } cases[] = {
      {"charset-links.html",
       {L"/caf\u00e9?q=\u00fc", L"'/\u03a9\u03bc\u03ad\u03b3\u03b1'", L"/x"},
       {L"Caf\u00e9\u00e9\u20ac\u20ac\U0001F600", L"\u03a9\u03bc\u03ad\u03b3\u03b1&\u65e5\u672c", L"\u20ac\ufffd\ufffd\ufffd"}},
      {"charset-meta.html", {L"/\u0442"}, {L"\u041f\u0440\u0438\u0432\u0435\u0442"}},
      {"charset-utf-16le.html", {L"/\u00e9"}, {L"\u20ac\U0001F600"}},
  };
  SetCharset(L"auto");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    Fetch(base + L"s/" + Wide(c.scenario));
    EXPECT_EQ(c.targets, Array(&IConn::GetHREFs));
    EXPECT_EQ(L"", Get(&IConn::get_Error));
    EXPECT_EQ(c.texts, Array(&IConn::get_GetHREFNames));
  }
  // With Charset "" the links are today's: the bytes in the ANSI code page.
  SetCharset(L"");
  Fetch(base + L"s/charset-links.html");
  const std::vector<std::wstring> targets = Array(&IConn::GetHREFs);
  ASSERT_EQ(3u, targets.size());
  EXPECT_EQ(SystemText(CP_ACP, "/caf\xC3\xA9?q=\xC3\xBC"), targets[0]);
  // References keep their low 8 bits; hexadecimal ones are no references.
  EXPECT_EQ(SystemText(CP_ACP, std::string("\x80\0&#x110000;&#xD800;", 20)), Array(&IConn::get_GetHREFNames)[2]);
}

// The request bytes the charset mode sends, as the echo route returns them.
struct TRequestCase {
  const char* name;
  std::function<void(Charsets&, const std::wstring& base)> setup;
  std::string expected;  // "%P": the scenario server's port
};

std::string WithPort(std::string text, const std::string& port)
{
  for (size_t at = text.find("%P"); at != std::string::npos; at = text.find("%P", at)) text.replace(at, 2, port);
  return text;
}

TEST_F(Charsets, RequestsCarryTheTextsInTheCharsetsTheModeSays)
{
  REQUIRE_SCENARIO_SERVER(base);
  const char* port = std::getenv("KESTREL_SCENARIO_PORT");
  const std::string head = "Host: 127.0.0.1:%P\r\nAccept: */*\r\n";
  const std::string post = "POST /echo HTTP/1.0\r\n" + head;
  const auto postOf = [](const wchar_t* charset, const wchar_t* contentType, const wchar_t* data) {
    return [=](Charsets& t, const std::wstring& base) {
      t.SetCharset(charset);
      t.Put(&IConn::put_RequestMethod, L"POST");
      if (contentType) t.Put(&IConn::put_ContentType, contentType);
      t.Put(&IConn::put_PostData, data);
      t.Put(&IConn::put_URL, base + L"echo");
    };
  };
  const TRequestCase cases[] = {
      {"UrlInUtf8",
       [](Charsets& t, const std::wstring& base) {
         t.SetCharset(L"auto");
         t.Put(&IConn::put_URL, base + L"echo/caf\u00e9?q=\u00fc");
       },
       "GET /echo/caf%C3%A9?q=%C3%BC HTTP/1.0\r\n" + head + "\r\n"},
      // The URL put before the mode goes out in the mode's form all the same.
      {"UrlPutBeforeTheCharset",
       [](Charsets& t, const std::wstring& base) {
         t.Put(&IConn::put_URL, base + L"echo/\u65e5");
         t.SetCharset(L"utf-8");
       },
       "GET /echo/%E6%97%A5 HTTP/1.0\r\n" + head + "\r\n"},
      {"InternationalHostThroughAProxy",
       [](Charsets& t, const std::wstring& base) {
         t.SetCharset(L"auto");
         t.Put(&IConn::put_Proxy, base.substr(7, base.size() - 8));
         t.Put(&IConn::put_URL, L"http://b\u00fccher.example/echo/x");
       },
       "GET http://xn--bcher-kva.example/echo/x HTTP/1.0\r\nHost: xn--bcher-kva.example\r\nAccept: */*\r\n\r\n"},
      // The credentials' origin is the host as it goes out: a redirect to
      // its IDNA form stays with it.
      {"CredentialsFollowARedirectToTheSameInternationalHost",
       [](Charsets& t, const std::wstring& base) {
         t.SetCharset(L"auto");
         t.Put(&IConn::put_Proxy, base.substr(7, base.size() - 8));
         t.Put(&IConn::put_Authorization, L"u:p");
         t.Put(&IConn::put_URL, L"http://b\u00fccher.example/s/charset-redirect-idn");
       },
       "GET http://xn--bcher-kva.example/echo/after HTTP/1.0\r\nAuthorization: Basic dTpw\r\n"
       "Host: xn--bcher-kva.example\r\nAccept: */*\r\n\r\n"},
      {"PostDataInUtf8", postOf(L"auto", nullptr, L"\u00e9\u20ac"),
       post + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 5\r\nPragma: No-Cache\r\n\r\n"
              "\xC3\xA9\xE2\x82\xAC"},
      {"PostDataInTheCharsetOfContentType",
       postOf(L"auto", L"text/plain; charset=Windows-1251", L"\u041f\u0440\u0438\u0432\u0435\u0442"),
       post + "Content-Type: text/plain; charset=windows-1251\r\nContent-Length: 6\r\nPragma: No-Cache\r\n\r\n"
              "\xCF\xF0\xE8\xE2\xE5\xF2"},
      {"PostDataInUtf16", postOf(L"auto", L"text/plain; charset=\"utf-16le\"", L"A\u20ac"),
       post + "Content-Type: text/plain; charset=\"utf-16le\"\r\nContent-Length: 4\r\nPragma: No-Cache\r\n\r\n" +
           std::string("A\0\xAC\x20", 4)},
      {"PostDataInTheNamedCharset", postOf(L"windows-1252", L"text/plain", L"\u00e9\u20ac"),
       post + "Content-Type: text/plain\r\nContent-Length: 2\r\nPragma: No-Cache\r\n\r\n\xE9\x80"},
      {"CredentialsInUtf8",
       [](Charsets& t, const std::wstring& base) {
         t.SetCharset(L"auto");
         t.Put(&IConn::put_Authorization, L"J\u00fcrgen:\u20ac");
         t.Put(&IConn::put_URL, base + L"echo");
       },
       "GET /echo HTTP/1.0\r\nAuthorization: Basic SsO8cmdlbjrigqw=\r\n" + head + "\r\n"},
  };
  for (const TRequestCase& c : cases) {
    SCOPED_TRACE(c.name);
    TComPtr<IConn> fresh = NewConn();
    ASSERT_TRUE(fresh);
    conn2.Reset();
    ASSERT_EQ(S_OK, fresh->QueryInterface(IID_IConn2, conn2.ReceiveVoid()));
    c.setup(*this, base);
    TBstr body;
    EXPECT_EQ(S_OK, conn2->GetURL(body.Out()));
    EXPECT_EQ(L"", Get(&IConn::get_Error));
    EXPECT_EQ(WithPort(c.expected, port), Bytes());
  }
}

// A real proxy takes the percent-encoded URL and passes it on as it is.
TEST_F(Charsets, AProxyPassesTheEncodedUrlOn)
{
  REQUIRE_SCENARIO_SERVER(base);
  const std::wstring proxy = ProxyAddress();
  ASSERT_FALSE(proxy.empty()) << "KESTREL_PROXY_PORT is not set";
  SetCharset(L"auto");
  Put(&IConn::put_Proxy, proxy);
  Fetch(base + L"echo/caf\u00e9?q=\u00fc");
  EXPECT_EQ(L"", Get(&IConn::get_Error));
  const std::string echoed = Bytes();
  EXPECT_EQ("GET /echo/caf%C3%A9?q=%C3%BC HTTP/1.", echoed.substr(0, 36)) << echoed;
}

TEST_F(Charsets, TodaysRequestLineCarriesTheCodePagesBytesPercentEncoded)
{
  REQUIRE_SCENARIO_SERVER(base);
  if (GetACP() != 1252) GTEST_SKIP() << "expectations are for code page 1252, this system has " << GetACP();
  Fetch(base + L"echo/caf\u00e9?q=\u00fc");
  EXPECT_EQ("GET /echo/caf%E9?q=%FC HTTP/1.0\r\n", Bytes().substr(0, 33));
  EXPECT_EQ(L"windows-1252", ResponseCharset());
}

TEST_F(Charsets, RefusalsSayWhatAndChangeNothing)
{
  REQUIRE_SCENARIO_SERVER(base);
  SetCharset(L"auto");
  // An unknown label, the replacement encoding's, and one with no code page here.
  for (const wchar_t* label : {L"x-nope", L"iso-2022-kr", L"iso-8859-10", L"auto-detect"}) {
    TBstr text(label);
    EXPECT_EQ(E_UNEXPECTED, conn2->put_Charset(text.Get()));
    EXPECT_EQ(L"Unknown charset: " + std::wstring(label), TakeErrorInfo().Description);
    EXPECT_EQ(L"auto", Get(&IConn2::get_Charset));
  }
  // A character the PostData charset lacks fails the request before it is sent.
  Put(&IConn::put_RequestMethod, L"POST");
  Put(&IConn::put_ContentType, L"text/plain; charset=windows-1251");
  Put(&IConn::put_PostData, L"\u041f \u00e9");
  TBstr body;
  EXPECT_EQ(S_OK, conn2->GetURL(body.Out()));
  EXPECT_TRUE(body.IsNull());
  EXPECT_EQ(L"PostData holds characters that windows-1251 cannot encode", Get(&IConn::get_Error));
  Put(&IConn::put_ContentType, L"text/plain; charset=klingon");
  EXPECT_EQ(S_OK, conn2->GetURL(body.Out()));
  EXPECT_EQ(L"Unknown charset: klingon", Get(&IConn::get_Error));
  // The texts read back whole in the charset mode.
  EXPECT_EQ(L"\u041f \u00e9", Get(&IConn::get_PostData));
}

// A client compiled against IConn alone asks for it by its IID and fetches a
// page: today's text. The same object's IConn2 switches it to UTF-8.
TEST_F(Charsets, ACompiledIConnClientWorksOnAndMeetsTheCharsetThroughIConn2)
{
  REQUIRE_SCENARIO_SERVER(base);
  TComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, KestrelDll().GetClassObject(CLSID_Conn, IID_IClassFactory, factory.ReceiveVoid()));
  TComPtr<IConn> conn;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IConn, conn.ReceiveVoid()));
  TBstr url(base + L"s/charset-utf8.html"), body;
  ASSERT_EQ(S_OK, conn->put_URL(url.Get()));
  ASSERT_EQ(S_OK, conn->GetURL(body.Out()));
  EXPECT_EQ(SystemText(CP_ACP, "<p>Caf\xC3\xA9 "), body.Text().substr(0, 9));
  TComPtr<IConn2> conn2;
  ASSERT_EQ(S_OK, conn->QueryInterface(IID_IConn2, conn2.ReceiveVoid()));
  TBstr automatic(L"auto");
  ASSERT_EQ(S_OK, conn2->put_Charset(automatic.Get()));
  ASSERT_EQ(S_OK, conn->GetURL(body.Out()));
  EXPECT_EQ(L"<p>Caf\u00e9 \u03a9", body.Text().substr(0, 9));
}

TEST_F(Charsets, A32MegabyteUtf8BodyReadsWhole)
{
  REQUIRE_SCENARIO_SERVER(base);
  SetCharset(L"auto");
  Put(&IConn::put_URL, base + L"s/charset-big-utf8");
  TBstr body;
  ASSERT_EQ(S_OK, conn2->GetURL(body.Out()));
  EXPECT_EQ(L"", Get(&IConn::get_Error));
  const struct {
    const wchar_t* line;
    size_t count;
  } parts[] = {{L"ab\u0391\u0392\u0393 \u65e5\u672c\n", 699051},
               {L"xy \u0391\u0392\u0393\u0394 \u8a9e\n", 699051},
               {L"lines of ascii.\n", 699050}};
  std::wstring expected;
  for (const auto& part : parts)
    for (size_t i = 0; i < part.count; ++i) expected += part.line;
  const std::wstring text = body.Text();
  ASSERT_EQ(expected.size(), text.size());
  EXPECT_TRUE(expected == text) << "the text differs from the lines sent";
  EXPECT_EQ(L"utf-8", ResponseCharset());
}

// In every mode, paths keep characters the ANSI code page lacks.
TEST_F(Charsets, SaveFileToAndHTTPLogKeepEveryCharacterOfTheirPaths)
{
  REQUIRE_SCENARIO_SERVER(base);
  const std::wstring saved = TestFolder() + L"saved-\u65e5\u672c-\u03a9.txt";
  const std::wstring log = TestFolder() + L"log-\u65e5\u672c.txt";
  DeleteFileW(saved.c_str());
  DeleteFileW(log.c_str());
  {
    TComPtr<IConn> conn = NewConn();
    ASSERT_TRUE(conn);
    TBstr path(saved), logPath(log), url(base + L"s/hello"), body;
    ASSERT_EQ(S_OK, conn->put_SaveFileTo(path.Get()));
    TBstr readBack;
    ASSERT_EQ(S_OK, conn->get_SaveFileTo(readBack.Out()));
    EXPECT_EQ(saved, readBack.Text());
    ASSERT_EQ(S_OK, conn->put_HTTPLog(logPath.Get()));
    ASSERT_EQ(S_OK, conn->get_HTTPLog(readBack.Out()));
    EXPECT_EQ(log, readBack.Text());
    ASSERT_EQ(S_OK, conn->put_URL(url.Get()));
    ASSERT_EQ(S_OK, conn->GetURL(body.Out()));
    ASSERT_EQ(S_OK, conn->get_Error(readBack.Out()));
    EXPECT_EQ(L"", readBack.Text());
  }  // the last release writes the log
  WIN32_FILE_ATTRIBUTE_DATA info{};
  EXPECT_TRUE(GetFileAttributesExW(saved.c_str(), GetFileExInfoStandard, &info));
  EXPECT_EQ(33u, info.nFileSizeLow);
  EXPECT_TRUE(GetFileAttributesExW(log.c_str(), GetFileExInfoStandard, &info));
  EXPECT_LT(0u, info.nFileSizeLow);
  DeleteFileW(saved.c_str());
  DeleteFileW(log.c_str());
}

}  // namespace
