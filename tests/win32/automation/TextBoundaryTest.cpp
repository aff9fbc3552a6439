// The text boundary's table conversion of single-byte code pages must give
// exactly what the system's conversion gives, for every byte value of every
// code page it handles, and whatever the neighbouring bytes are.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "AutomationTestSupport.h"
#include "TextBoundary.h"
#include "platform/Pieces.h"

namespace {

std::set<UINT> g_codePages;

BOOL CALLBACK CollectCodePage(LPSTR name)
{
  g_codePages.insert(static_cast<UINT>(strtoul(name, nullptr, 10)));
  return TRUE;
}

std::set<UINT> InstalledCodePages()
{
  g_codePages.clear();
  EnumSystemCodePagesA(CollectCodePage, CP_INSTALLED);
  return g_codePages;
}

std::wstring SystemConversion(UINT codePage, const std::string& bytes)
{
  const int size = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring result(static_cast<size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0)
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &result[0], size);
  return result;
}

std::wstring TableConversion(const TSingleByteTable& table, const std::string& bytes)
{
  std::wstring result(bytes.size(), L'\0');
  table.Convert(bytes.data(), bytes.size(), &result[0]);
  return result;
}

// Every byte value after every byte value: 65,536 pairs in one text.
std::string AllPairs()
{
  std::string text;
  text.reserve(2 * 256 * 256);
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      text += static_cast<char>(a);
      text += static_cast<char>(b);
    }
  return text;
}

std::string AllBytes()
{
  std::string text;
  for (int c = 0; c < 256; ++c) text += static_cast<char>(c);
  return text;
}

}  // namespace

TEST(TextBoundary, TableEqualsTheSystemForEveryInstalledSingleByteCodePage)
{
  const std::string pairs = AllPairs();
  std::vector<UINT> handled;
  for (UINT codePage : InstalledCodePages()) {
    TSingleByteTable table;
    if (!table.Build(codePage)) continue;
    handled.push_back(codePage);
    for (int c = 0; c < 256; ++c) {
      const std::wstring alone = SystemConversion(codePage, std::string(1, static_cast<char>(c)));
      ASSERT_EQ(1u, alone.size()) << "code page " << codePage << ", byte " << c;
      ASSERT_EQ(alone[0], table[static_cast<unsigned char>(c)]) << "code page " << codePage << ", byte " << c;
    }
    ASSERT_EQ(SystemConversion(codePage, pairs), TableConversion(table, pairs)) << "code page " << codePage;
  }
  std::string list;
  for (UINT cp : handled) list += std::to_string(cp) + " ";
  RecordProperty("TableCodePages", list);
  // The common Windows, DOS and ISO code pages are among them.
  const std::set<UINT> seen(handled.begin(), handled.end());
  for (UINT expected : {437u, 850u, 874u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u,
                        28591u, 28592u, 28595u, 28605u, 20127u})
    EXPECT_TRUE(seen.count(expected)) << "code page " << expected << " was not handled by a table";
}

TEST(TextBoundary, MultiByteCodePagesKeepTheSystemConversion)
{
  for (UINT codePage : {932u, 936u, 949u, 950u, 65001u}) {
    TSingleByteTable table;
    EXPECT_FALSE(table.Build(codePage)) << "code page " << codePage;
  }
}

TEST(TextBoundary, AnsiTextBecomesWhatTheSystemMakesOfIt)
{
  CPINFO info;
  ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
  EXPECT_EQ(info.MaxCharSize == 1, AnsiCodePageTable() != nullptr);
  const std::string pairs = AllPairs();
  BSTR text = AnsiToBstr(pairs);
  ASSERT_TRUE(text);
  EXPECT_EQ(SystemConversion(CP_ACP, pairs), std::wstring(text, SysStringLen(text)));
  SysFreeString(text);
  EXPECT_EQ(SystemConversion(CP_ACP, pairs), AnsiToWide(pairs));
  EXPECT_EQ(nullptr, AnsiToBstr(std::string()));
}

// A text of several megabytes converts in pieces on several threads: the
// result is still the system's conversion of the whole, up to a last piece of
// a few bytes, and ends in the terminating NUL.
TEST(TextBoundary, LongTextBecomesWhatTheSystemMakesOfIt)
{
  std::string text;
  const std::string pairs = AllPairs();
  while (text.size() < 2 * PieceBytes) text += pairs;
  text.resize(2 * PieceBytes + 3);
  BSTR converted = AnsiToBstr(text);
  ASSERT_TRUE(converted);
  ASSERT_EQ(text.size(), SysStringLen(converted));
  EXPECT_EQ(L'\0', converted[text.size()]);
  EXPECT_TRUE(SystemConversion(CP_ACP, text) == std::wstring(converted, SysStringLen(converted)));
  SysFreeString(converted);
}

// End to end: every byte value decoded by the Conn object comes back as the
// system converts it.
TEST(TextBoundary, ConnResultsCarryEveryByteAsTheSystemConvertsIt)
{
  TComPtr<IConn> conn = NewConn();
  ASSERT_TRUE(conn);
  std::wstring encoded;
  for (int c = 0; c < 256; ++c) {
    encoded += L'%';
    encoded += L"0123456789ABCDEF"[c >> 4];
    encoded += L"0123456789ABCDEF"[c & 15];
  }
  TBstr in(encoded), out;
  ASSERT_EQ(S_OK, conn->URLDecode(in.Get(), out.Out()));
  EXPECT_EQ(SystemConversion(CP_ACP, AllBytes()), out.Text());
}
