// IConn called through its v-table, as compiled clients call it: text
// conversion over the whole length, null BSTRs for empty results, out
// parameters cleared before any work, failures as COM errors.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "AutomationTestSupport.h"

namespace {

const wchar_t kNotANumber[] = L"'$zz' is not a valid integer value";

class ConnBoundary : public ::testing::Test {
protected:
  void SetUp() override
  {
    conn = NewConn();
    ASSERT_TRUE(conn);
    SetErrorInfo(0, nullptr);
  }

  std::wstring Encode(const std::wstring& text)
  {
    TBstr in(text), out;
    EXPECT_EQ(S_OK, conn->URLEncode(in.Get(), out.Out()));
    return out.Text();
  }

  std::wstring Decode(const std::wstring& text)
  {
    TBstr in(text), out;
    EXPECT_EQ(S_OK, conn->URLDecode(in.Get(), out.Out()));
    return out.Text();
  }

  TComPtr<IConn> conn;
};

}  // namespace

TEST_F(ConnBoundary, VersionIsConstant)
{
  TBstr version;
  EXPECT_EQ(S_OK, conn->get_Version(version.Out()));
  EXPECT_EQ(L"3.50", version.Text());
  EXPECT_EQ(S_OK, conn->get_Version(version.Out()));
  EXPECT_EQ(L"3.50", version.Text());
  EXPECT_EQ(E_POINTER, conn->get_Version(nullptr));
}

TEST_F(ConnBoundary, EncodesAndDecodesFormText)
{
  EXPECT_EQ(L"a+b%26c", Encode(L"a b&c"));
  EXPECT_EQ(L"x%2Fy%7Ez", Encode(L"x/y~z"));
  EXPECT_EQ(L"a b&c", Decode(L"a+b%26c"));
  EXPECT_EQ(L"100%", Decode(L"100%%"));
}

TEST_F(ConnBoundary, EmptyTextGivesANullBstr)
{
  TBstr empty(L""), out;
  EXPECT_EQ(S_OK, conn->URLEncode(nullptr, out.Out()));
  EXPECT_TRUE(out.IsNull());
  EXPECT_EQ(S_OK, conn->URLEncode(empty.Get(), out.Out()));
  EXPECT_TRUE(out.IsNull());
  EXPECT_EQ(S_OK, conn->URLDecode(nullptr, out.Out()));
  EXPECT_TRUE(out.IsNull());
  EXPECT_EQ(S_OK, conn->URLDecode(empty.Get(), out.Out()));
  EXPECT_TRUE(out.IsNull());
}

TEST_F(ConnBoundary, EmbeddedNulsCrossTheBoundary)
{
  // The argument arrives whole; the codec itself stops at a NUL.
  EXPECT_EQ(L"a", Encode(std::wstring(L"a\0b", 3)));
  EXPECT_EQ(L"A", Decode(std::wstring(L"%41\0%42", 7)));
  // A decoded NUL comes back inside the result, not as its end.
  EXPECT_EQ(std::wstring(L"a\0b", 3), Decode(L"a%00b"));
  EXPECT_EQ(std::wstring(L"\0", 1), Decode(L"%00"));
}

TEST_F(ConnBoundary, TextIsConvertedWithTheAnsiCodePage)
{
  if (GetACP() != 1252) GTEST_SKIP() << "expectations are for code page 1252, this system has " << GetACP();
  EXPECT_EQ(L"%E9", Encode(L"\u00e9"));
  EXPECT_EQ(L"\u00e9", Decode(L"%e9"));
  EXPECT_EQ(L"%80", Encode(L"\u20ac"));
  // Outside the code page: its default character, the question mark.
  EXPECT_EQ(L"%3F", Encode(L"\u4e00"));
  EXPECT_EQ(L"\u20ac", Decode(L"%80"));
}

TEST_F(ConnBoundary, AFailingDecodeIsACOMErrorAndLeavesNoValue)
{
  TBstr in(L"ab%zz"), out;
  EXPECT_EQ(E_UNEXPECTED, conn->URLDecode(in.Get(), out.Out()));
  EXPECT_TRUE(out.IsNull());
  TErrorText error = TakeErrorInfo();
  ASSERT_TRUE(error.Present);
  EXPECT_EQ(kNotANumber, error.Description);
  EXPECT_EQ(L"Kestrel.Conn", error.Source);
  EXPECT_EQ(GuidText(IID_IConn), GuidText(error.Interface));
  EXPECT_EQ(0u, error.HelpContext);
  EXPECT_EQ(L"", error.HelpFile);

  // The object is unharmed.
  EXPECT_EQ(L"a+b", Encode(L"a b"));
}

// Members whose HTTP client is not part of the library yet: each says so as
// a COM error and still clears its out parameter first. An entry leaves this
// list when its member is built.
TEST_F(ConnBoundary, MembersNotYetBuiltReportItAndClearTheirResult)
{
  auto text = [&](HRESULT (STDMETHODCALLTYPE IConn::*get)(BSTR*)) {
    return [this, get] {
      TBstr out;
      const HRESULT hr = (conn.Get()->*get)(out.Out());
      EXPECT_TRUE(out.IsNull());
      return hr;
    };
  };
  auto variant = [&](HRESULT (STDMETHODCALLTYPE IConn::*get)(VARIANT*)) {
    return [this, get] {
      VARIANT out;
      V_VT(&out) = VT_I4;
      V_I4(&out) = kSentinelLong;
      const HRESULT hr = (conn.Get()->*get)(&out);
      EXPECT_EQ(VT_EMPTY, V_VT(&out));
      return hr;
    };
  };
  auto number = [&](HRESULT (STDMETHODCALLTYPE IConn::*get)(LONG*)) {
    return [this, get] {
      LONG out = kSentinelLong;
      const HRESULT hr = (conn.Get()->*get)(&out);
      EXPECT_EQ(0, out);
      return hr;
    };
  };
  TBstr arg(L"x");
  const struct {
    const wchar_t* member;
    std::function<HRESULT()> call;
  } members[] = {
      {L"GetURL", text(&IConn::GetURL)},
      {L"Protocol", text(&IConn::get_Protocol)},
      {L"URL", [&] { return conn->put_URL(arg.Get()); }},
      {L"FileName", text(&IConn::get_FileName)},
      {L"FollowRedirects", [&] {
         VARIANT_BOOL out = VARIANT_TRUE;
         const HRESULT hr = conn->get_FollowRedirects(&out);
         EXPECT_EQ(VARIANT_FALSE, out);
         return hr;
       }},
      {L"Port", number(&IConn::get_Port)},
      {L"Proxy", [&] { return conn->put_Proxy(arg.Get()); }},
      {L"TimeOut", number(&IConn::get_TimeOut)},
      {L"Headers", text(&IConn::get_Headers)},
      {L"ExtraHeaders", text(&IConn::get_ExtraHeaders)},
      {L"SaveFileTo", text(&IConn::get_SaveFileTo)},
      {L"AddExtraHeader", [&] { return conn->AddExtraHeader(arg.Get()); }},
      {L"ClearExtraHeaders", [&] { return conn->ClearExtraHeaders(); }},
      {L"GetHREFs", variant(&IConn::GetHREFs)},
      {L"Error", text(&IConn::get_Error)},
      {L"GetHeader", [&] {
         TBstr out;
         const HRESULT hr = conn->GetHeader(arg.Get(), out.Out());
         EXPECT_TRUE(out.IsNull());
         return hr;
       }},
      {L"Response", text(&IConn::get_Response)},
      {L"BinaryData", variant(&IConn::get_BinaryData)},
      {L"GetHREFNames", variant(&IConn::get_GetHREFNames)},
  };
  for (const auto& m : members) {
    const std::wstring name = m.member;
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    EXPECT_EQ(E_NOTIMPL, m.call());
    TErrorText error = TakeErrorInfo();
    EXPECT_EQ(L"Conn." + name + L" is not implemented", error.Description);
    EXPECT_EQ(L"Kestrel.Conn", error.Source);
  }
}
