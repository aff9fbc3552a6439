#include "codecs/QuotedPrintable.h"
#include "codecs/Exception.h"
#include "codecs/MessagePumpHook.h"

#include <gtest/gtest.h>

namespace {

int g_pumps = 0;
void CountingPump() { ++g_pumps; }

// Installs a counting pump for one test and removes it afterwards.
class PumpScope {
public:
  PumpScope() {
    g_pumps = 0;
    SetMessagePumpHook(&CountingPump);
  }
  ~PumpScope() { SetMessagePumpHook(nullptr); }
};

std::string DecodeAll(const std::vector<std::string>& lines) {
  TStringList list;
  for (const auto& l : lines) list.Add(l);
  TMemoryStream stream;
  TQuotedPrintable qp(&stream, &list);
  qp.Decode();
  return stream.ToString();
}

TEST(DecodeLine, Escapes) {
  EXPECT_EQ(TQuotedPrintable::DecodeLine("caf=E9", 255), "caf\xE9");
  EXPECT_EQ(TQuotedPrintable::DecodeLine("a=3db", 255), "a=b");  // lower-case digits too
  EXPECT_EQ(TQuotedPrintable::DecodeLine("x=ZZy", 255), "x=ZZy");
  EXPECT_EQ(TQuotedPrintable::DecodeLine("abc=", 255), "abc=");   // the last character is never examined
  EXPECT_EQ(TQuotedPrintable::DecodeLine("=", 255), "=");
  EXPECT_EQ(TQuotedPrintable::DecodeLine("", 255), "");
}

TEST(DecodeLine, OneDigitBeforeTheEndAndNoRescan) {
  EXPECT_EQ(TQuotedPrintable::DecodeLine("x=A", 255), "x\n");     // one digit left: read alone
  EXPECT_EQ(TQuotedPrintable::DecodeLine("=3D41", 255), "=41");   // the decoded "=" is not re-read
  EXPECT_EQ(TQuotedPrintable::DecodeLine("=3D=41", 255), "=A");
  EXPECT_EQ(TQuotedPrintable::DecodeLine("==41", 255), "=A");     // "=" + "=4" fails, then "=41"
  EXPECT_EQ(TQuotedPrintable::DecodeLine("= 1=-1=+1", 255), "= 1=-1=+1");
  EXPECT_EQ(TQuotedPrintable::DecodeLine("=00", 255), std::string("\0", 1));
}

TEST(DecodeLine, MaximumLength) {
  std::string long_line(300, 'a');
  EXPECT_EQ(TQuotedPrintable::DecodeLine(long_line, 255).size(), 255u);
  EXPECT_EQ(TQuotedPrintable::DecodeLine("ab=41cd", 4), "ab\x04");  // cut to "ab=4" first
}

TEST(DecodeQuotedPrintable, SpecExamples) {
  EXPECT_EQ(DecodeQuotedPrintable("caf=E9"), "caf\xE9");
  EXPECT_EQ(DecodeQuotedPrintable("a=3Db"), "a=b");
  EXPECT_EQ(DecodeQuotedPrintable("x=ZZy"), "x=ZZy");
  EXPECT_EQ(DecodeQuotedPrintable("a=0Ab"), "a");    // the decoded line feed ends the first line
  EXPECT_EQ(DecodeQuotedPrintable("abc="), "abc");   // soft break, no line break added
}

TEST(DecodeQuotedPrintable, MoreCases) {
  EXPECT_EQ(DecodeQuotedPrintable(""), "");
  EXPECT_EQ(DecodeQuotedPrintable("=0D=0Ax"), "");    // the first line is empty
  EXPECT_EQ(DecodeQuotedPrintable("a=00b"), "a");     // a decoded NUL ends the text read back
  EXPECT_EQ(DecodeQuotedPrintable("a=3D"), "a");      // the decoded "=" then reads as a soft break
  EXPECT_EQ(DecodeQuotedPrintable("a_b"), "a_b");     // underscores are not touched here
  EXPECT_EQ(DecodeQuotedPrintable(std::string(300, 'q')).size(), 255u);
  EXPECT_EQ(DecodeQuotedPrintable(std::string("a\0b", 3)), "a");
}

TEST(TQuotedPrintable, ParagraphsAndLineBreaks) {
  EXPECT_EQ(DecodeAll({"one", "two"}), "one\r\ntwo\r\n");
  EXPECT_EQ(DecodeAll({"soft=", "joined", ""}), "softjoined\r\n\r\n");
  EXPECT_EQ(DecodeAll({"end\x1A", "x"}), "end\x1Ax\r\n");  // Ctrl-Z: no line break
  EXPECT_EQ(DecodeAll({}), "");
  EXPECT_EQ(DecodeAll({"last="}), "last");
  // A 254-character line plus its break is cut back to 255 characters.
  std::string full(254, 'f');
  EXPECT_EQ(DecodeAll({full}), full + "\r");
  std::string over(300, 'g');
  EXPECT_EQ(DecodeAll({over}), std::string(255, 'g'));
}

TEST(TQuotedPrintable, PumpsOnceAfterEachParagraph) {
  PumpScope scope;
  DecodeAll({"a", "b=", "c", "d"});
  EXPECT_EQ(g_pumps, 3);
  g_pumps = 0;
  DecodeAll({});
  EXPECT_EQ(g_pumps, 1);
  EXPECT_EQ(DecodeQuotedPrintable("x"), "x");
  EXPECT_EQ(g_pumps, 2);
}

TEST(TQuotedPrintable, ParagraphTooLarge) {
  PumpScope scope;
  // 254 characters per soft-broken line: the 97th line would reach 24,576 bytes.
  std::string soft = std::string(254, 's') + "=";
  TStringList list;
  list.Add("first");
  for (int i = 0; i < 97; ++i) list.Add(soft);
  TMemoryStream stream;
  TQuotedPrintable qp(&stream, &list);
  try {
    qp.Decode();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Paragraph is too large");
  }
  EXPECT_EQ(stream.ToString(), "first\r\n");  // the earlier paragraph was written
  EXPECT_EQ(g_pumps, 1);

  // 96 such lines (24,384 bytes) plus 188 characters and CR LF: 24,574 + 1 stays below.
  TStringList fits;
  for (int i = 0; i < 96; ++i) fits.Add(soft);
  fits.Add(std::string(188, 'e'));
  TMemoryStream out;
  TQuotedPrintable ok(&out, &fits);
  EXPECT_NO_THROW(ok.Decode());
  EXPECT_EQ(out.Size(), 96 * 254 + 188 + 2);
  // One more character reaches the limit.
  fits.Put(96, std::string(189, 'e'));
  TMemoryStream out2;
  TQuotedPrintable tooBig(&out2, &fits);
  EXPECT_THROW(tooBig.Decode(), Exception);
}

TEST(DecodeEncodedWords, SpecExamples) {
  EXPECT_EQ(DecodeEncodedWords("=?iso-8859-1?Q?Andr=E9?="), "Andr\xE9");
  EXPECT_EQ(DecodeEncodedWords("=?utf-8?B?QUJD?="), "ABC");
  EXPECT_EQ(DecodeEncodedWords("=?x?Q?a?= my_file"), "amy file");
  EXPECT_EQ(DecodeEncodedWords("x=?y"), "x");
  EXPECT_EQ(DecodeEncodedWords("plain_text"), "plain_text");
  EXPECT_EQ(DecodeEncodedWords("=?x?Q?=41?="), "A");
}

TEST(DecodeEncodedWords, BothLettersInBothCases) {
  EXPECT_EQ(DecodeEncodedWords("=?x?b?QUJD?="), "ABC");
  EXPECT_EQ(DecodeEncodedWords("=?x?q?caf=E9?="), "caf\xE9");
  EXPECT_EQ(DecodeEncodedWords("Re: =?x?B?QUI=?= and =?x?Q?c?="), "Re: ABand c");
  EXPECT_EQ(DecodeEncodedWords("=?x?B?QQ==?="), "A");
}

TEST(DecodeEncodedWords, Underscores) {
  EXPECT_EQ(DecodeEncodedWords("=?x?Q?a_b?="), "a b");
  EXPECT_EQ(DecodeEncodedWords("pre_fix =?x?Q?a?="), "pre fix a");  // the head changes too
  EXPECT_EQ(DecodeEncodedWords("=?x?Q?a=5Fb?="), "a b");             // even decoded ones
  EXPECT_EQ(DecodeEncodedWords("a_b =?x?Q?c"), "a_b ");              // unterminated: nothing decoded
}

TEST(DecodeEncodedWords, UnterminatedWords) {
  EXPECT_EQ(DecodeEncodedWords("=?iso-8859-1?Q?abc"), "");
  EXPECT_EQ(DecodeEncodedWords("Hello =?x?B?QUJD"), "Hello ");
  EXPECT_EQ(DecodeEncodedWords("=?x?Q?="), "");  // "?=" right after "?Q" is the separator
  EXPECT_EQ(DecodeEncodedWords("=?x?B?=?="), "");  // only an "=" to decode
  EXPECT_EQ(DecodeEncodedWords("=?x?Q?a?= =?y"), "a");
  EXPECT_EQ(DecodeEncodedWords("=?"), "");
  EXPECT_EQ(DecodeEncodedWords("a=?="), "a");
}

TEST(DecodeEncodedWords, TailIsTrimmedAfterEachWord) {
  EXPECT_EQ(DecodeEncodedWords("=?x?Q?a?=   b  "), "ab");
  EXPECT_EQ(DecodeEncodedWords("  lead =?x?Q?a?="), "  lead a");  // the head keeps its blanks
  EXPECT_EQ(DecodeEncodedWords("no words  "), "no words  ");
}

TEST(DecodeEncodedWords, OtherLettersAndMalformedWords) {
  // Implementer's choice: an unknown letter or a word without "?" decodes to nothing.
  EXPECT_EQ(DecodeEncodedWords("a=?x?Z?abc?=b"), "ab");
  EXPECT_EQ(DecodeEncodedWords("a=?nothing?=b"), "ab");
  EXPECT_EQ(DecodeEncodedWords("a=?x?\?=b"), "ab");
  EXPECT_EQ(DecodeEncodedWords("a=?x?=b"), "ab");
  EXPECT_EQ(DecodeEncodedWords("=?=?x?="), "");
}

TEST(DecodeEncodedWords, InvalidBase64Propagates) {
  try {
    DecodeEncodedWords("=?x?B?QQ ==?=");
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.Message(), "Invalid Character");
  }
}

TEST(DecodeEncodedWords, LengthIsCutTo255) {
  std::string longText(300, 'v');
  EXPECT_EQ(DecodeEncodedWords(longText).size(), 255u);
  // A word past the 255th character is cut off unterminated.
  std::string value = std::string(250, 'p') + "=?x?Q?abc?=";
  EXPECT_EQ(DecodeEncodedWords(value), std::string(250, 'p'));
  // Decoded text plus tail is cut to 255 again.
  std::string tail(245, 't');
  EXPECT_EQ(DecodeEncodedWords("=?x?Q?abc?=" + tail), "abc" + tail.substr(0, 244));
}

TEST(DecodeEncodedWords, ManyWordsEnd) {
  std::string many;
  for (int i = 0; i < 30; ++i) many += "=?x?Q?a?=";
  EXPECT_EQ(DecodeEncodedWords(many), std::string(28, 'a'));  // 255 characters hold 28 whole words
}

}  // namespace
