// IConn called through its v-table, as compiled clients call it: text
// conversion over the whole length, null BSTRs for empty results, out
// parameters cleared before any work, failures as COM errors.
#include <gtest/gtest.h>

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
