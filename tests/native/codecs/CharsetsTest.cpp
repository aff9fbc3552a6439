// Charset labels, and what an exchange says about its body's charset: byte
// order marks, the Content-Type parameter, the <meta> prescan, JSON, and the
// choice "auto" makes of them. One row per case.
#include <gtest/gtest.h>

#include <string>

#include "codecs/Charsets.h"

namespace {

const char* NameOf(const TCharset* charset) { return charset ? charset->Name : "(none)"; }

TEST(Charsets, LabelsNameTheirCharsetInAnyCaseAndWithBlanksAround) {
  const struct {
    const char* label;
    const char* name;
    unsigned codePage;
  } cases[] = {
      {"utf-8", "utf-8", 65001},        {" UTF8 ", "utf-8", 65001},         {"unicode-1-1-utf-8", "utf-8", 65001},
      {"utf-16", "utf-16le", 1200},     {"UTF-16BE", "utf-16be", 1201},     {"windows-1251", "windows-1251", 1251},
      {"cp1251", "windows-1251", 1251}, {"iso-8859-1", "windows-1252", 1252}, {"Latin1", "windows-1252", 1252},
      {"us-ascii", "windows-1252", 1252}, {"iso-8859-9", "windows-1254", 1254}, {"iso-8859-2", "iso-8859-2", 28592},
      {"koi8-r", "koi8-r", 20866},      {"Shift_JIS", "shift_jis", 932},    {"windows-31j", "shift_jis", 932},
      {"euc-jp", "euc-jp", 20932},      {"gb2312", "gbk", 936},             {"gb18030", "gb18030", 54936},
      {"big5", "big5", 950},            {"ks_c_5601-1987", "euc-kr", 949},  {"tis-620", "windows-874", 874},
      {"x-user-defined", "x-user-defined", 0},
  };
  for (const auto& c : cases) {
    const TCharset* charset = FindCharset(c.label);
    ASSERT_NE(nullptr, charset) << c.label;
    EXPECT_STREQ(c.name, charset->Name) << c.label;
    EXPECT_EQ(c.codePage, charset->CodePage) << c.label;
  }
  // Unknown labels, and the replacement encoding's, which reads no text.
  for (const char* label : {"", "utf-9", "utf 8", "latin-1", "iso-2022-kr", "replacement", "auto"})
    EXPECT_EQ(nullptr, FindCharset(label)) << label;
  EXPECT_STREQ("windows-1252", NameOf(CharsetOfCodePage(1252)));
  EXPECT_STREQ("shift_jis", NameOf(CharsetOfCodePage(932)));
  EXPECT_EQ(nullptr, CharsetOfCodePage(437));
}

TEST(Charsets, ByteOrderMarks) {
  const struct {
    std::string body;
    const char* name;
    size_t length;
  } cases[] = {
      {"\xEF\xBB\xBFx", "utf-8", 3}, {"\xFE\xFF", "utf-16be", 2}, {"\xFF\xFEx", "utf-16le", 2},
      {"\xEF\xBB", "(none)", 0},     {"x\xEF\xBB\xBF", "(none)", 0}, {"", "(none)", 0},
  };
  for (const auto& c : cases) {
    size_t length = 99;
    EXPECT_STREQ(c.name, NameOf(SniffByteOrderMark(c.body, length))) << c.body;
    EXPECT_EQ(c.length, length) << c.body;
  }
}

TEST(Charsets, ContentTypeParametersAndMediaTypes) {
  const struct {
    const char* contentType;
    const char* charset;
    const char* essence;
    bool json;
  } cases[] = {
      {"text/html; charset=utf-8", "utf-8", "text/html", false},
      {"Text/HTML;CHARSET=\"Windows-1251\"", "Windows-1251", "text/html", false},
      {"text/plain; format=flowed; charset = koi8-r ; x=y", "koi8-r", "text/plain", false},
      {"text/plain; x=\"a;charset=bad\"; charset=utf-8", "utf-8", "text/plain", false},
      {"text/plain; charset=\"ut\\f-8\"", "utf-8", "text/plain", false},
      {"text/plain; charset", "", "text/plain", false},
      {"text/plain; charset=", "", "text/plain", false},
      {"application/json", "", "application/json", true},
      {" Application/JSON ; charset=utf-16", "utf-16", "application/json", true},
      {"application/ld+json", "", "application/ld+json", true},
      {"application/problem+json;x=1", "", "application/problem+json", true},
      {"text/json", "", "text/json", false},
      {"+json", "", "+json", false},
      {"", "", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.charset, ContentTypeCharset(c.contentType)) << c.contentType;
    EXPECT_EQ(c.essence, MediaTypeEssence(c.contentType)) << c.contentType;
    EXPECT_EQ(c.json, IsJsonMediaType(c.contentType)) << c.contentType;
  }
}

TEST(Charsets, MetaPrescanFindsTheFirstDeclarationAsBrowsersDo) {
  const struct {
    std::string page;
    const char* label;
  } cases[] = {
      {"<meta charset=utf-8>", "utf-8"},
      {"<html><head><META CHARSET='KOI8-R'></head>", "koi8-r"},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">", "windows-1251"},
      {"<meta content='text/html;charset=\"big5\"' http-equiv=content-type>", "big5"},
      // content without the pragma declares nothing.
      {"<meta content=\"text/html; charset=windows-1251\">", ""},
      {"<meta http-equiv=refresh content=\"5; charset=koi8-r\"><meta charset=utf-8>", "utf-8"},
      // Comments, other tags and their attribute values are passed over.
      {"<!-- <meta charset=koi8-r> --><meta charset=utf-8>", "utf-8"},
      {"<!--><meta charset=koi8-r>", "koi8-r"},
      {"<div title='<meta charset=koi8-r>'><meta charset=gbk>", "gbk"},
      {"<!DOCTYPE html><?xml x?></p><meta/charset=euc-jp>", "euc-jp"},
      // The first attribute of a name counts.
      {"<meta charset=big5 charset=gbk>", "big5"},
      {"<metacharset=utf-8>", ""},
      {"<meta charset=\"utf-8", ""},  // runs off the end
      {"no declaration at all", ""},
      {std::string(1020, ' ') + "<meta charset=utf-8>", ""},  // beyond the first 1024 bytes
  };
  for (const auto& c : cases) EXPECT_EQ(c.label, PrescanMetaCharset(c.page)) << c.page;

  const struct {
    const char* content;
    const char* label;
  } contents[] = {
      {"text/html; charset=utf-8", "utf-8"}, {"charset = 'koi8-r' x", "koi8-r"}, {"CHARSET=gbk;x", "gbk"},
      {"charset x charset=big5", "big5"},    {"charset=\"utf-8", ""},               {"text/html", ""},
      {"charset=", ""},
  };
  for (const auto& c : contents) EXPECT_EQ(c.label, CharsetFromMetaContent(c.content)) << c.content;
}

bool AllUsable(const TCharset&) { return true; }
// A system without the Japanese code pages.
bool NoJapanese(const TCharset& charset) { return charset.CodePage != 932 && charset.CodePage != 20932; }

TEST(Charsets, AutoChoosesByMarkThenHeaderThenMetaThenJsonThenValidity) {
  const struct {
    const char* contentType;
    std::string body;
    bool japanese;
    const char* name;  // "(none)": the ANSI code page
    size_t markLength;
  } cases[] = {
      {"text/plain; charset=windows-1251", "\xEF\xBB\xBFx", true, "utf-8", 3},      // the mark wins
      {"text/plain; charset=utf-8", "\xFF\xFEx\0", true, "utf-16le", 2},
      {"text/plain; charset=koi8-r", "\xC3\xA9", true, "koi8-r", 0},                 // the header over the bytes
      {"text/html; charset=gbk", "<meta charset=big5>", true, "gbk", 0},             // the header over meta
      {"text/html", "<meta charset=big5>\xA4\x40", true, "big5", 0},
      {"", "<meta charset=koi8-r>", true, "koi8-r", 0},                              // no Content-Type: a page too
      {"text/plain", "<meta charset=koi8-r>", true, "utf-8", 0},                     // not a page: valid UTF-8
      {"text/html", "<meta charset=utf-16le>", true, "utf-8", 0},                    // UTF-16 in meta is UTF-8
      {"text/html", "<meta charset=x-user-defined>", true, "windows-1252", 0},
      {"application/json", "\xE9", true, "utf-8", 0},                                // JSON: UTF-8 whatever
      {"text/plain", "caf\xC3\xA9", true, "utf-8", 0},                               // undeclared, valid
      {"text/plain", "caf\xE9", true, "(none)", 0},                                  // undeclared, not UTF-8
      {"text/plain; charset=nonsense", "caf\xE9", true, "(none)", 0},                // an unknown label: undeclared
      {"text/plain; charset=shift_jis", "\x93\xFA", false, "(none)", 0},             // not installed: undeclared
      {"text/html", "<meta charset=shift_jis>ab", false, "utf-8", 0},
      {"text/plain", "", true, "utf-8", 0},
  };
  for (const auto& c : cases) {
    const TCharsetChoice choice =
        ChooseCharsetAuto(c.contentType, c.body, c.japanese ? TCharsetUsable(AllUsable) : TCharsetUsable(NoJapanese));
    EXPECT_STREQ(c.name, NameOf(choice.Charset)) << c.contentType << " | " << c.body;
    EXPECT_EQ(c.markLength, choice.MarkLength) << c.contentType << " | " << c.body;
  }
}

TEST(Charsets, ANamedCharsetPassesOverOnlyItsOwnMark) {
  const TCharset& utf8 = *FindCharset("utf-8");
  const TCharset& utf16 = *FindCharset("utf-16le");
  const TCharset& cyrillic = *FindCharset("windows-1251");
  EXPECT_EQ(3u, ChooseCharsetNamed(utf8, "\xEF\xBB\xBFx").MarkLength);
  EXPECT_EQ(2u, ChooseCharsetNamed(utf16, "\xFF\xFEx\0").MarkLength);
  EXPECT_EQ(0u, ChooseCharsetNamed(utf16, "\xEF\xBB\xBFx").MarkLength);
  EXPECT_EQ(0u, ChooseCharsetNamed(cyrillic, "\xEF\xBB\xBFx").MarkLength);
  EXPECT_EQ(&cyrillic, ChooseCharsetNamed(cyrillic, "\xEF\xBB\xBFx").Charset);
}

}  // namespace
