// Hostile input from scripts, through IDispatch::Invoke as the script engines
// call: every IConn member given empty, 1 MB, NUL-holding and non-ASCII texts,
// extreme numbers, variants of the wrong type and wrong argument counts
// answers with a result or a COM error, never a crash or a hang, and the
// object stays usable. Requests go to the scenario server or to a closed
// loopback port, each bounded by a short TimeOut.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "AutomationTestSupport.h"

namespace {

// Nobody listens there: a connect is refused at once.
const wchar_t kClosedPortURL[] = L"http://127.0.0.1:1/";

std::wstring ScenarioURL(const std::wstring& path)
{
  const std::wstring base = ScenarioBase();
  return base.empty() ? base : base + path;
}

#define REQUIRE_SCENARIO_URL(var, path)                                          \
  const std::wstring var = ScenarioURL(path);                                    \
  ASSERT_FALSE(var.empty()) << "KESTREL_SCENARIO_PORT is not set: start the servers " \
                               "with tests/servers/servers.sh"

const size_t kMegabyte = 1024 * 1024;

struct THostileText {
  const char* label;
  std::wstring text;
};

// Texts no script should send, each still a valid BSTR.
const std::vector<THostileText>& HostileTexts()
{
  static const std::vector<THostileText> texts = [] {
    std::wstring mixed;
    while (mixed.size() < kMegabyte) mixed += std::wstring(L"\u00e9\u4e00\0%\r\n=?b?", 10);
    return std::vector<THostileText>{
        {"empty", L""},
        {"nul-holding", std::wstring(L"a\0b\0", 4)},
        {"1 MB", std::wstring(kMegabyte, L'x')},
        {"1 MB mixed", mixed},
        {"outside the code page", L"\u4e00\u0416\U0001F600"},
        {"lone surrogate", std::wstring(1, wchar_t(0xD800))},
        {"line breaks", L"a\r\nInjected: 1\r\n"},
    };
  }();
  return texts;
}

// A VARIANT that owns its value.
class TArg {
public:
  TArg() { VariantInit(&v); }
  explicit TArg(const std::wstring& text) : TArg()
  {
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  static TArg Of(VARTYPE type)
  {
    TArg a;
    V_VT(&a.v) = type;
    return a;
  }
  ~TArg() { VariantClear(&v); }
  TArg(const TArg&) = delete;
  TArg& operator=(const TArg&) = delete;
  TArg(TArg&& other) noexcept : v(other.v) { VariantInit(&other.v); }

  VARIANT v;
};

class ScriptInput : public TDispatchTest {
protected:
  void TearDown() override
  {
    // Hostile log or file names must not leave files behind when the object goes.
    if (disp) {
      Put(22, TArg(L""));
      Put(18, TArg(L""));
    }
    TDispatchTest::TearDown();
  }

  HRESULT Put(DISPID id, const TArg& value) { return InvokeWith(id, DISPATCH_PROPERTYPUT, {value.v}, true); }
  HRESULT Get(DISPID id) { return InvokeWith(id, DISPATCH_PROPERTYGET, {}, false); }
  HRESULT Call(DISPID id, std::vector<VARIANT> args = {})
  {
    return InvokeWith(id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::move(args), false);
  }

  // A member called with one argument: the put of a property or a method.
  HRESULT CallWith(const TMember& m, const TArg& arg)
  {
    return m.kind == INVOKE_PROPERTYPUT ? Put(m.id, arg) : Call(m.id, {arg.v});
  }

  std::wstring ResultText() const
  {
    if (V_VT(&result) != VT_BSTR || !V_BSTR(&result)) return std::wstring();
    return std::wstring(V_BSTR(&result), SysStringLen(V_BSTR(&result)));
  }

  LONG ResultLong() const { return V_VT(&result) == VT_I4 ? V_I4(&result) : kSentinelLong; }

  // A refusal must be one a script can read: either the member's own COM
  // error, with its message, or the platform's word that the argument does
  // not fit.
  void ExpectAnswered(HRESULT hr, const std::string& what)
  {
    if (hr == S_OK) return;
    if (hr == DISP_E_EXCEPTION) {
      EXPECT_EQ(E_UNEXPECTED, exception.scode) << what;
      EXPECT_STREQ(L"Kestrel.Conn", exception.bstrSource) << what;
      EXPECT_GT(SysStringLen(exception.bstrDescription), 0u) << what;
      return;
    }
    EXPECT_TRUE(hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_BADPARAMCOUNT ||
                hr == DISP_E_PARAMNOTOPTIONAL || hr == DISP_E_PARAMNOTFOUND || hr == DISP_E_BADVARTYPE ||
                hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_NOTACOLLECTION || hr == E_INVALIDARG)
        << what << ": 0x" << std::hex << hr;
  }

  // The object still answers and still fetches.
  void ExpectAlive(const std::string& what)
  {
    ASSERT_EQ(S_OK, Get(16)) << what;
    EXPECT_EQ(L"3.50", ResultText()) << what;
  }

  // GetURL answers, and a failure comes with its text in Error.
  void ExpectFetchAnswers(const std::string& what)
  {
    ASSERT_EQ(S_OK, Call(1)) << what;
    const std::wstring body = ResultText();
    ASSERT_EQ(S_OK, Get(26)) << what;
    if (body.empty()) {
      EXPECT_FALSE(ResultText().empty()) << what << ": an empty result without an Error";
    }
  }

  std::wstring Error()
  {
    EXPECT_EQ(S_OK, Get(26));
    return ResultText();
  }
};

bool TakesText(const TMember& m) { return m.in == VT_BSTR; }

// Properties that store the text as it comes and give it back unchanged.
bool KeepsTextAsIs(DISPID id)
{
  for (DISPID kept : {2, 9, 11, 12, 13, 18, 19, 22, 28})
    if (id == kept) return true;
  return false;
}

std::wstring TempPath(const std::wstring& name)
{
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  return folder + name;
}

}  // namespace

TEST_F(ScriptInput, EveryTextMemberAnswersHostileTexts)
{
  for (const TMember& m : kMembers) {
    if (!TakesText(m)) continue;
    for (const THostileText& t : HostileTexts()) {
      const std::string what = std::string(m.name, m.name + wcslen(m.name)) + " with " + t.label;
      ExpectAnswered(CallWith(m, TArg(t.text)), what);
      if (m.kind == INVOKE_PROPERTYPUT && KeepsTextAsIs(m.id) && t.text.find(wchar_t(0xD800)) == std::wstring::npos &&
          t.text.find(L'\u4e00') == std::wstring::npos) {
        ASSERT_EQ(S_OK, Get(m.id)) << what;
        EXPECT_TRUE(ResultText() == t.text) << what << ": read back differs";
      }
      ASSERT_NO_FATAL_FAILURE(ExpectAlive(what));
    }
    // A null BSTR is the empty text.
    TArg null = TArg::Of(VT_BSTR);
    ExpectAnswered(CallWith(m, null), "null BSTR");
  }
}

TEST_F(ScriptInput, TextOutsideTheCodePageComesBackAsItsDefaultCharacter)
{
  ASSERT_EQ(S_OK, Put(12, TArg(L"a\u4e00b")));  // UserAgent
  ASSERT_EQ(S_OK, Get(12));
  const std::wstring back = ResultText();
  ASSERT_EQ(3u, back.size());
  EXPECT_EQ(L'a', back[0]);
  EXPECT_NE(L'\u4e00', back[1]);
  EXPECT_EQ(L'b', back[2]);
}

TEST_F(ScriptInput, AURLHoldingALineBreakOrNulIsRefused)
{
  ASSERT_EQ(S_OK, Put(3, TArg(L"http://127.0.0.1/good")));
  for (const wchar_t* bad : {L"http://127.0.0.1/a\r\nX-Injected: 1", L"http://127.0.0.1/a\rb", L"http://127.0.0.1/a\nb",
                             L"http://127.0.0.1/\r\n\r\nGET /other HTTP/1.0"}) {
    EXPECT_EQ(DISP_E_EXCEPTION, Put(3, TArg(bad)));
    EXPECT_EQ(E_UNEXPECTED, exception.scode);
    EXPECT_STREQ(L"Invalid URL", exception.bstrDescription);
  }
  EXPECT_EQ(DISP_E_EXCEPTION, Put(3, TArg(std::wstring(L"http://127.0.0.1/a\0b", 20))));
  EXPECT_STREQ(L"Invalid URL", exception.bstrDescription);
  ASSERT_EQ(S_OK, Get(3));
  EXPECT_EQ(L"http://127.0.0.1/good", ResultText());
}

TEST_F(ScriptInput, ExtremeNumbersAreStoredOrRefused)
{
  for (LONG n : {LONG(-1), LONG(0), LONG(1), LONG(65535), LONG(65536), LONG(INT_MAX), LONG(INT_MIN)}) {
    TArg number = TArg::Of(VT_I4);
    V_I4(&number.v) = n;
    ASSERT_EQ(S_OK, Put(6, number)) << n;  // Port: the low 16 bits
    ASSERT_EQ(S_OK, Get(6));
    EXPECT_EQ(LONG(n & 0xFFFF), ResultLong()) << n;
    ASSERT_EQ(S_OK, Put(8, number)) << n;  // TimeOut: as it comes
    ASSERT_EQ(S_OK, Get(8));
    EXPECT_EQ(n, ResultLong()) << n;
  }
  // Numbers beyond 32 bits do not fit the argument: refused, nothing stored.
  // (An unsigned 0xFFFFFFFF is refused too by Windows; Wine passes it on as -1.)
  TArg huge = TArg::Of(VT_R8);
  V_R8(&huge.v) = 1e300;
  TArg big = TArg::Of(VT_I8);
  V_I8(&big.v) = LONGLONG(1) << 40;
  for (const TArg* a : {&huge, &big}) {
    const HRESULT hr = Put(8, *a);
    EXPECT_TRUE(hr == DISP_E_OVERFLOW || hr == DISP_E_TYPEMISMATCH) << std::hex << hr;
    ASSERT_EQ(S_OK, Get(8));
    EXPECT_EQ(LONG(INT_MIN), ResultLong());
  }
}

TEST_F(ScriptInput, WrongVariantTypesAreCoercedOrRefused)
{
  std::vector<TArg> args;
  args.push_back(TArg::Of(VT_EMPTY));
  args.push_back(TArg::Of(VT_NULL));
  TArg missing = TArg::Of(VT_ERROR);
  V_ERROR(&missing.v) = DISP_E_PARAMNOTFOUND;
  args.push_back(std::move(missing));
  TArg number = TArg::Of(VT_R8);
  V_R8(&number.v) = -2.5e9;
  args.push_back(std::move(number));
  TArg text(L"not a number");
  args.push_back(std::move(text));
  TArg object = TArg::Of(VT_DISPATCH);  // the object itself, as a script may pass it
  disp->AddRef();
  V_DISPATCH(&object.v) = disp.Get();
  args.push_back(std::move(object));
  args.push_back(TArg::Of(VT_DISPATCH));  // Nothing
  TArg array = TArg::Of(VT_ARRAY | VT_UI1);
  V_ARRAY(&array.v) = SafeArrayCreateVector(VT_UI1, 0, 4);
  args.push_back(std::move(array));
  BSTR referenced = SysAllocString(L"by reference");
  TArg byRef = TArg::Of(VT_BSTR | VT_BYREF);
  V_BSTRREF(&byRef.v) = &referenced;

  for (const TMember& m : kMembers) {
    if (m.in == VT_EMPTY) continue;
    const std::string name(m.name, m.name + wcslen(m.name));
    for (size_t i = 0; i < args.size(); ++i)
      ExpectAnswered(CallWith(m, args[i]), name + " with variant #" + std::to_string(i));
    ExpectAnswered(CallWith(m, byRef), name + " by reference");
    ASSERT_NO_FATAL_FAILURE(ExpectAlive(name));
  }
  // VariantClear of a by-reference variant leaves the referenced text alone.
  SysFreeString(referenced);
}

TEST_F(ScriptInput, WrongArgumentCountsAreRefused)
{
  TArg extra(L"x");
  for (const TMember& m : kMembers) {
    const std::string name(m.name, m.name + wcslen(m.name));
    if (m.kind == INVOKE_PROPERTYPUT) {
      // A put without its value, or with one too many.
      ExpectAnswered(InvokeWith(m.id, DISPATCH_PROPERTYPUT, {}, false), name + " put without a value");
      ExpectAnswered(InvokeWith(m.id, DISPATCH_PROPERTYPUT, {extra.v, extra.v}, true), name + " put with two values");
    } else {
      const size_t needed = m.in == VT_EMPTY ? 0 : 1;
      if (needed == 1) {
        EXPECT_NE(S_OK, Call(m.id)) << name;
      }
      // Refused by Windows; Wine drops the extra argument of a method
      // without a result.
      ExpectAnswered(Call(m.id, std::vector<VARIANT>(needed + 1, extra.v)), name + " with an argument too many");
    }
    ASSERT_NO_FATAL_FAILURE(ExpectAlive(name));
  }
  // No parameter block at all, as some C++ callers pass for a call without arguments.
  for (DISPID id : {1, 4, 16, 21, 25, 26, 29, 30, 31})
    EXPECT_EQ(S_OK, disp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr,
                                 nullptr, nullptr, nullptr))
        << id;
  EXPECT_NE(S_OK, disp->Invoke(23, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, nullptr, nullptr, nullptr,
                               nullptr));
}

TEST_F(ScriptInput, RequestsWithHostilePropertiesEndWithinTheirTimeOut)
{
  REQUIRE_SCENARIO_URL(echo, L"echo");
  TArg timeOut = TArg::Of(VT_I4);
  V_I4(&timeOut.v) = 5;
  ASSERT_EQ(S_OK, Put(8, timeOut));

  // Every text property at once, each hostile in its own way. A NUL in the
  // protocol or in an extra line would cut its line short: GetURL refuses the
  // request, naming the member, until the value is sound.
  const std::wstring post = std::wstring(L"\0post\0", 6) + std::wstring(kMegabyte, L'p');
  ASSERT_EQ(S_OK, Put(3, TArg(echo)));
  ASSERT_EQ(S_OK, Put(13, TArg(L"POST")));
  ASSERT_EQ(S_OK, Put(9, TArg(post)));
  ASSERT_EQ(S_OK, Put(2, TArg(std::wstring(L"HTTP/1.0\0x", 10))));
  ASSERT_EQ(S_OK, Put(12, TArg(std::wstring(64 * 1024, L'\u00e9'))));
  ASSERT_EQ(S_OK, Put(11, TArg(L"\u4e00/\u4e00")));
  ASSERT_EQ(S_OK, Call(20, {TArg(std::wstring(L"X-Nul: a\0b", 10)).v}));
  ASSERT_EQ(S_OK, Call(1));
  EXPECT_EQ(L"", ResultText());
  EXPECT_EQ(L"Invalid request header value in Protocol", Error());
  ASSERT_EQ(S_OK, Put(2, TArg(L"HTTP/1.0")));
  ASSERT_EQ(S_OK, Call(1));
  EXPECT_EQ(L"Invalid request header value in AddExtraHeader", Error());
  ASSERT_EQ(S_OK, Call(21));  // ClearExtraHeaders
  // The rest goes out whole, the body's NULs and all, and the echo gives it back.
  ASSERT_EQ(S_OK, Call(1));
  const std::wstring body = ResultText();
  EXPECT_NE(std::wstring::npos, body.find(post)) << Error();

  // The same object with 1 MB credentials, a 1 MB path, then a 1 MB method:
  // an answer or an Error.
  ASSERT_EQ(S_OK, Put(19, TArg(std::wstring(kMegabyte, L'u') + L":pw")));
  ASSERT_NO_FATAL_FAILURE(ExpectFetchAnswers("1 MB credentials"));
  ASSERT_EQ(S_OK, Put(19, TArg(L"")));
  ASSERT_EQ(S_OK, Put(3, TArg(echo + L"/" + std::wstring(kMegabyte, L'a'))));
  ASSERT_NO_FATAL_FAILURE(ExpectFetchAnswers("1 MB path"));
  ASSERT_EQ(S_OK, Put(13, TArg(std::wstring(kMegabyte, L'M'))));
  ASSERT_NO_FATAL_FAILURE(ExpectFetchAnswers("1 MB method"));
  ASSERT_EQ(S_OK, Put(13, TArg(L"GET")));

  // Proxies that name no usable host or port.
  ASSERT_EQ(S_OK, Put(3, TArg(echo)));
  ASSERT_EQ(S_OK, Put(7, TArg(std::wstring(kMegabyte, L'h') + L":80")));
  ASSERT_NO_FATAL_FAILURE(ExpectFetchAnswers("1 MB proxy host"));
  // A NUL would have the lookup stop early and reach another host.
  ASSERT_EQ(S_OK, Put(7, TArg(std::wstring(L"127.0.0.1\0evil:1", 16))));
  ASSERT_EQ(S_OK, Call(1));
  EXPECT_EQ(L"Error resolving remote host", Error());
  ASSERT_EQ(S_OK, Put(7, TArg(L"127.0.0.1:99999999999")));
  TArg closed = TArg::Of(VT_I4);
  V_I4(&closed.v) = 1;
  ASSERT_EQ(S_OK, Put(6, closed));
  ASSERT_NO_FATAL_FAILURE(ExpectFetchAnswers("proxy port out of range"));
  ASSERT_EQ(S_OK, Put(7, TArg(L"")));
}

TEST_F(ScriptInput, TimeOutsOfZeroOrLessEndAtTheFirstTickAndTheLargestStillFails)
{
  REQUIRE_SCENARIO_URL(silent, L"s/tcp-silent");
  TArg timeOut = TArg::Of(VT_I4);
  for (LONG n : {LONG(0), LONG(-1), LONG(INT_MIN)}) {
    V_I4(&timeOut.v) = n;
    ASSERT_EQ(S_OK, Put(8, timeOut));
    ASSERT_EQ(S_OK, Put(3, TArg(silent)));
    ASSERT_EQ(S_OK, Call(1));
    EXPECT_TRUE(ResultText().empty());
    EXPECT_EQ(L"Operation timed out", Error()) << n;
  }
  // The largest time-out never ends a wait early, nor overflows into one
  // that ends at once: a refused connect still reports its own failure.
  V_I4(&timeOut.v) = INT_MAX;
  ASSERT_EQ(S_OK, Put(8, timeOut));
  ASSERT_EQ(S_OK, Put(3, TArg(kClosedPortURL)));
  ASSERT_EQ(S_OK, Call(1));
  const std::wstring error = Error();
  EXPECT_FALSE(error.empty());
  EXPECT_NE(L"Operation timed out", error);
}

// A NUL in a file name would cut the name where the platform reads it, and
// the body or the log would land in another file than the one named.
TEST_F(ScriptInput, AFileNameHoldingANulWritesNoFile)
{
  REQUIRE_SCENARIO_URL(hello, L"s/hello");
  const std::wstring cut = TempPath(L"kestrel-nul-cut.bin");
  DeleteFileW(cut.c_str());
  ASSERT_EQ(S_OK, Put(3, TArg(hello)));
  ASSERT_EQ(S_OK, Put(18, TArg(cut + std::wstring(L"\0.txt", 5))));
  ASSERT_EQ(S_OK, Call(1));
  EXPECT_TRUE(ResultText().empty());
  EXPECT_EQ(0u, Error().find(L"Cannot create file "));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(cut.c_str()));

  const std::wstring log = TempPath(L"kestrel-nul-log.txt");
  DeleteFileW(log.c_str());
  {
    TComPtr<IConn> other = NewConn();
    ASSERT_TRUE(other);
    TBstr name(log + std::wstring(L"\0.txt", 5)), url(hello), body;
    ASSERT_EQ(S_OK, other->put_HTTPLog(name.Get()));
    ASSERT_EQ(S_OK, other->put_URL(url.Get()));
    ASSERT_EQ(S_OK, other->GetURL(body.Out()));
    EXPECT_FALSE(body.Text().empty());
  }  // the log is written, or not, as the object goes
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(log.c_str()));
}
