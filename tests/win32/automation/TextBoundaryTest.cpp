// The text boundary's table conversion of single-byte code pages must give
// exactly what the system's conversion gives, for every byte value of every
// code page it handles, and whatever the neighbouring bytes are.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "AutomationTestSupport.h"
#include "CharsetText.h"
#include "TextBoundary.h"
#include "Variant.h"
#include "codecs/Exception.h"
#include "codecs/Utf8.h"
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

// Bodies of several megabytes in each charset decode, in pieces on several
// threads, to exactly what decoding the whole at once gives: characters of
// every length straddle the pieces' nominal boundaries.
TEST(TextBoundary, LongTextsInEveryKindOfCharsetDecodeAsAWhole)
{
  const std::string unit = "ab\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xCE\xA9\x80x\xED\xA0\x80";  // invalid bytes too
  std::string utf8;
  while (utf8.size() < 2 * PieceBytes + 5) utf8 += unit;
  const std::u16string wide = Utf8ToUtf16(utf8);
  std::string cyrillic;
  while (cyrillic.size() < 2 * PieceBytes + 3) cyrillic += "\xCF\xF0\xE8\xE2\xE5\xF2 ";
  std::string japanese;
  while (japanese.size() < 2 * PieceBytes + 1) japanese += "\x93\xFA\x96\x7B!";
  const struct {
    const char* label;
    std::string bytes;
    std::wstring expected;
  } cases[] = {
      {"utf-8", utf8, std::wstring(wide.begin(), wide.end())},
      {"utf-16le", EncodeUtf16Bytes(Utf16ToUtf8(wide), false) + "x", std::wstring(wide.begin(), wide.end()) + L"\ufffd"},
      {"utf-16be", EncodeUtf16Bytes(Utf16ToUtf8(wide), true), std::wstring(wide.begin(), wide.end())},
      {"windows-1251", cyrillic, SystemConversion(1251, cyrillic)},
      {"shift_jis", japanese, SystemConversion(932, japanese)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TCharsetChoice choice;
    choice.Charset = FindCharset(c.label);
    ASSERT_TRUE(choice.Charset && IsCharsetUsable(*choice.Charset));
    BSTR text = DecodeToBstr(c.bytes, choice);
    ASSERT_TRUE(text);
    ASSERT_EQ(c.expected.size(), SysStringLen(text));
    EXPECT_TRUE(c.expected == std::wstring(text, SysStringLen(text)));
    EXPECT_EQ(L'\0', text[c.expected.size()]);
    SysFreeString(text);
  }
}

TEST(TextBoundary, TextEncodesInACharsetOrSaysItCannot)
{
  const struct {
    const char* label;
    const char* utf8;
    bool encodes;
    std::string bytes;
  } cases[] = {
      {"utf-8", "\xC3\xA9\xE2\x82\xAC", true, "\xC3\xA9\xE2\x82\xAC"},
      {"utf-16be", "A\xE2\x82\xAC", true, std::string("\0A\x20\xAC", 4)},
      {"windows-1252", "\xC3\xA9\xE2\x82\xAC", true, "\xE9\x80"},
      {"windows-1252", "\xC4\x81", false, ""},  // a look-alike is no form of its own
      {"windows-1251", "\xD0\x9F", true, "\xCF"},
      {"windows-1251", "\xC3\xA9", false, ""},
      {"shift_jis", "\xE6\x97\xA5", true, "\x93\xFA"},
      {"shift_jis", "\xF0\x9F\x98\x80", false, ""},
      {"x-user-defined", "a\xEF\x9F\xA9", true, "a\xE9"},
      {"x-user-defined", "\xC3\xA9", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.label) + " " + c.utf8);
    std::string out;
    EXPECT_EQ(c.encodes, EncodeInCharset(c.utf8, *FindCharset(c.label), out));
    if (c.encodes) EXPECT_EQ(c.bytes, out);
  }
  EXPECT_EQ(GetACP() == 1252 ? std::string("windows-1252") : std::string(), GetACP() == 1252 ? AnsiCharsetName() : "");
}

// A byte array the system cannot make (more than it can address, or than
// memory holds) is refused with the text BinaryData leaves in Error, before
// a byte is read.
TEST(TextBoundary, ByteArrayThatCannotBeMadeIsRefusedWithItsText)
{
  const char byte = 'x';
  try {
    MakeByteArray(&byte, SIZE_MAX);
    ADD_FAILURE() << "an array of SIZE_MAX bytes was made";
  } catch (const Exception& e) {
    EXPECT_EQ("Error creating variant array", e.Message());
  }
}
