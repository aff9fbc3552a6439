#include "codecs/HeaderList.h"
#include "codecs/Exception.h"
#include "codecs/MessagePumpHook.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

THeaderList Make(const Lines& lines) {
  THeaderList l;
  for (const auto& s : lines) l.Add(s);
  return l;
}

TEST(GetFieldValue, SpecExamples) {
  THeaderList h = Make({"HTTP/1.0 200 OK", "Content-Length: 1234", ""});
  EXPECT_EQ(h.GetFieldValue("content-length"), "1234");
  EXPECT_EQ(h.GetFieldValue("Content-Length:"), "1234");
  EXPECT_EQ(h.GetFieldValue("Content"), "");  // the colon is part of the match
  EXPECT_EQ(h.GetFieldValue("CONTENT-LENGTH"), "1234");
}

TEST(GetFieldValue, EmptyListAndAbsentHeader) {
  THeaderList empty;
  EXPECT_EQ(empty.GetFieldValue("Location"), "");
  EXPECT_EQ(Make({"HTTP/1.0 200 OK", ""}).GetFieldValue("Location"), "");
}

TEST(GetFieldValue, Folding) {
  THeaderList h = Make({"HTTP/1.0 200 OK", "X-Note: first", " second", "\tthird", "Other: x", ""});
  EXPECT_EQ(h.GetFieldValue("X-Note"), "first second third");
  EXPECT_EQ(h.GetFieldValue("Other"), "x");
}

TEST(GetFieldValue, FoldingStopsAtTheEmptyEntryAndTrimsEachPart) {
  THeaderList h = Make({"X-A:  one  ", "    two   ", "", " not-a-continuation"});
  EXPECT_EQ(h.GetFieldValue("X-A"), "one two");
  THeaderList last = Make({"X-B: v", " w"});  // continuation at the very end of the list
  EXPECT_EQ(last.GetFieldValue("x-b"), "v w");
  THeaderList emptyFirst = Make({"X-C:", " w"});
  EXPECT_EQ(emptyFirst.GetFieldValue("X-C"), " w");  // a space joins even an empty value
  THeaderList blankFold = Make({"X-D: v", "   ", "X-E: e"});
  EXPECT_EQ(blankFold.GetFieldValue("X-D"), "v ");
}

TEST(GetFieldValue, NameMustBeFollowedByTheColon) {
  EXPECT_EQ(Make({"Content-Length : 5"}).GetFieldValue("Content-Length"), "");
  EXPECT_EQ(Make({"Content-Length:5"}).GetFieldValue("Content-Length"), "5");
  EXPECT_EQ(Make({" Content-Length: 5"}).GetFieldValue("Content-Length"), "");  // must start the entry
}

TEST(GetFieldValue, RepeatedHeaderGivesTheFirst) {
  THeaderList h = Make({"HTTP/1.0 302 Found", "Location: /a", "Set-Cookie: x", "location: /b", ""});
  EXPECT_EQ(h.GetFieldValue("Location"), "/a");
}

TEST(GetFieldValue, OnlyTheColonAfterTheNameIsRemoved) {
  EXPECT_EQ(Make({"X-Data: a:b:c"}).GetFieldValue("X-Data"), "a:b:c");
}

TEST(GetFieldValue, UpperCasingIsAsciiOnly) {
  // The Latin-1 letters do not fold here, unlike the list's IndexOf.
  THeaderList h = Make({"X-Caf\xC9: upper", "X-Caf\xE9: lower"});
  EXPECT_EQ(h.GetFieldValue("x-caf\xE9"), "lower");
  EXPECT_EQ(h.GetFieldValue("X-CAF\xC9"), "upper");
}

TEST(GetFieldValue, LongValuesAreCutExceptTheRawHeaders) {
  std::string v(300, 'x');
  THeaderList h = Make({"Location: " + v, "References: " + v, "Content-Type: " + v, "X-UIDL: " + v});
  EXPECT_EQ(h.GetFieldValue("Location"), v.substr(0, 255));
  EXPECT_EQ(h.GetFieldValue("References"), v);
  EXPECT_EQ(h.GetFieldValue("references:"), v);
  EXPECT_EQ(h.GetFieldValue("Content-Type"), v);
  EXPECT_EQ(h.GetFieldValue("x-uidl"), v);
}

TEST(GetFieldValue, EncodedWordsAreDecodedExceptForTheThreeNames) {
  std::string word = "=?iso-8859-1?Q?caf=E9?=";
  THeaderList h = Make({"Subject: " + word, "Content-Type: " + word, "X-UIDL: " + word,
                        "References: " + word, "X-B: =?utf-8?B?QUJD?= and_more"});
  EXPECT_EQ(h.GetFieldValue("Subject"), "caf\xE9");
  EXPECT_EQ(h.GetFieldValue("Content-Type"), word);
  EXPECT_EQ(h.GetFieldValue("X-UIDL"), word);
  EXPECT_EQ(h.GetFieldValue("References"), word);
  EXPECT_EQ(h.GetFieldValue("X-B"), "ABCand more");
}

TEST(GetFieldValue, DecodingAppliesToTheJoinedValue) {
  THeaderList h = Make({"Subject: =?x?Q?a", " b?=", ""});
  EXPECT_EQ(h.GetFieldValue("Subject"), "a b");
  THeaderList ct = Make({"Content-Type: text/plain; a_b", ""});
  EXPECT_EQ(ct.GetFieldValue("Content-Type"), "text/plain; a_b");
  THeaderList unterminated = Make({"Subject: Re: =?x?Q?oops", ""});
  EXPECT_EQ(unterminated.GetFieldValue("Subject"), "Re: ");
}

TEST(GetFieldValue, InvalidBase64FailsAndLeavesTheList) {
  THeaderList h = Make({"Subject: =?x?B?Q Q==?=", ""});
  try {
    h.GetFieldValue("Subject");
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.Message(), "Invalid Character");
  }
  EXPECT_EQ(h.Count(), 2);
  EXPECT_EQ(h[0], "Subject: =?x?B?Q Q==?=");
  // Under Content-Type nothing is decoded, so nothing fails.
  EXPECT_EQ(Make({"Content-Type: =?x?B?Q Q==?="}).GetFieldValue("Content-Type"), "=?x?B?Q Q==?=");
}

int g_pumps = 0;
void CountPump() { ++g_pumps; }

TEST(GetFieldValue, QuotedPrintableWordsRunThePump) {
  g_pumps = 0;
  SetMessagePumpHook(&CountPump);
  THeaderList h = Make({"Subject: =?x?Q?a?= =?x?Q?b?=", "Content-Length: 5"});
  EXPECT_EQ(h.GetFieldValue("Subject"), "ab");
  EXPECT_EQ(g_pumps, 2);
  EXPECT_EQ(h.GetFieldValue("Content-Length"), "5");
  EXPECT_EQ(g_pumps, 2);
  SetMessagePumpHook(nullptr);
}

TEST(THeaderList, InheritsTheListOperations) {
  THeaderList h = Make({"HTTP/1.0 200 OK", "Server: x"});
  EXPECT_EQ(h.Count(), 2);
  EXPECT_EQ(h.IndexOf("server: X"), 1);
  h.Delete(0);
  EXPECT_EQ(h[0], "Server: x");
  TStringList& base = h;
  base.Clear();
  EXPECT_TRUE(h.Empty());
}

TEST(TrimAtBlankLine, Cases) {
  THeaderList h = Make({"a", "", "b"});
  h.TrimAtBlankLine();
  EXPECT_EQ(h.Lines(), (Lines{"a"}));

  THeaderList none = Make({"a", "b"});
  none.TrimAtBlankLine();
  EXPECT_EQ(none.Lines(), (Lines{"a", "b"}));

  THeaderList first = Make({"", "a", ""});
  first.TrimAtBlankLine();
  EXPECT_TRUE(first.Empty());

  THeaderList blanks = Make({"a", " ", "", "c", ""});  // a blank line is not empty
  blanks.TrimAtBlankLine();
  EXPECT_EQ(blanks.Lines(), (Lines{"a", " "}));

  THeaderList empty;
  empty.TrimAtBlankLine();
  EXPECT_TRUE(empty.Empty());
}

}  // namespace
