#include "html/LexTool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A tool over the given lines; the lines live as long as the fixture.
class LexToolTest : public ::testing::Test {
protected:
  TLexTool& Over(const std::vector<std::string>& lines) {
    lines_.Clear();
    for (const auto& l : lines) lines_.Add(l);
    tool_.SetLines(&lines_);
    tool_.Home();
    return tool_;
  }
  void ExpectCursor(int line, int col) {
    EXPECT_EQ(tool_.Line(), line);
    EXPECT_EQ(tool_.Col(), col);
  }

  TStringList lines_;
  TLexTool tool_;
};

TEST_F(LexToolTest, ReadCharPassesOverLineEndsAndEmptyLines) {
  TLexTool& t = Over({"ab", "", "c"});
  char c = 0;
  ASSERT_TRUE(t.ReadChar(c));
  EXPECT_EQ(c, 'a');
  ASSERT_TRUE(t.ReadChar(c));
  EXPECT_EQ(c, 'b');
  EXPECT_TRUE(t.Eol());
  EXPECT_FALSE(t.Eof());
  ASSERT_TRUE(t.ReadChar(c));
  EXPECT_EQ(c, 'c');
  ExpectCursor(2, 2);
  EXPECT_TRUE(t.Eof());
  c = 'z';
  EXPECT_FALSE(t.ReadChar(c));
  EXPECT_EQ(c, 'z');
  ExpectCursor(2, 2);
}

TEST_F(LexToolTest, PositionQueries) {
  TLexTool& empty = Over({});
  char c;
  EXPECT_TRUE(empty.Eof());
  EXPECT_TRUE(empty.Eol());
  EXPECT_FALSE(empty.ReadChar(c));
  EXPECT_FALSE(empty.PeekChar(c));
  TStringList dest;
  dest.Add("untouched");
  EXPECT_FALSE(empty.ReadUntil(dest, TCharSet("x"), false));
  EXPECT_EQ(dest.Lines(), std::vector<std::string>{"untouched"});

  TLexTool& t = Over({"ab", ""});
  t.SetLine(1);
  EXPECT_TRUE(t.Eof());  // a cursor on an empty last line
  t.SetLine(0);
  t.SetCol(40);  // far past the end of a line that is not the last
  EXPECT_TRUE(t.Eol());
  EXPECT_FALSE(t.Eof());
  EXPECT_TRUE(t.SkipEol());
  ExpectCursor(1, 1);
  EXPECT_FALSE(Over({"ab"}).SkipEol());
  t.SetLine(-3);
  t.SetCol(-7);
  ExpectCursor(0, 1);
  t.SetLine(5);
  EXPECT_TRUE(t.Eof());
}

TEST_F(LexToolTest, PeekNeverMoves) {
  TLexTool& t = Over({"a", "b"});
  char c1 = 0, c2 = 0;
  t.SetCol(2);
  EXPECT_TRUE(t.PeekChar(c1));
  EXPECT_TRUE(t.PeekChar(c2));
  EXPECT_EQ(c1, 'b');
  EXPECT_EQ(c2, 'b');
  ExpectCursor(0, 2);
}

TEST_F(LexToolTest, ExpectOperations) {
  TLexTool& t = Over({"y"});
  EXPECT_FALSE(t.ExpectChar('x'));
  ExpectCursor(0, 1);
  EXPECT_TRUE(t.ExpectNotChar('x'));
  ExpectCursor(0, 2);
  EXPECT_FALSE(t.ExpectNotChar('x'));  // nothing left to read

  Over({"ab", "c"});
  tool_.SetCol(3);
  EXPECT_TRUE(tool_.ExpectChar('c'));
  ExpectCursor(1, 2);

  Over({"a\xE9"});
  EXPECT_TRUE(tool_.ExpectChar('A'));
  EXPECT_TRUE(tool_.ExpectChar('\xC9'));  // Latin-1 letters fold as well
  Over({"a"});
  tool_.SetCaseSensitive(true);
  EXPECT_FALSE(tool_.ExpectChar('A'));
  tool_.SetCaseSensitive(false);

  Over({"<x"});
  const TCharSet angle("<>");
  EXPECT_FALSE(tool_.ExpectCharNotIn(angle));
  EXPECT_TRUE(tool_.ExpectCharIn(angle));
  EXPECT_FALSE(tool_.ExpectCharIn(angle));
  EXPECT_TRUE(tool_.ExpectCharNotIn(angle));
  // Sets are exact: no case folding.
  Over({"A"});
  EXPECT_FALSE(tool_.ExpectCharIn(TCharSet("a")));
}

TEST_F(LexToolTest, SkippingRuns) {
  TLexTool& t = Over({"  ", "  x"});
  const TCharSet space(" ");
  EXPECT_TRUE(t.SkipCharsIn(space, true));
  ExpectCursor(0, 3);  // stops at the line end although the next line begins with spaces
  EXPECT_FALSE(t.SkipCharsIn(space, false));
  ExpectCursor(1, 3);  // went on across the line end, stopped before x

  Over({"ab\"c", "\"d"});
  EXPECT_FALSE(tool_.SkipCharsNot('"', false));
  ExpectCursor(0, 3);
  tool_.SetCol(4);
  EXPECT_FALSE(tool_.SkipCharsNot('"', false));
  ExpectCursor(0, 5);  // a failed match leaves the cursor before the line end it would pass
  EXPECT_TRUE(tool_.ExpectChar('"'));
  ExpectCursor(1, 2);

  Over({"abc", "", "de"});
  EXPECT_FALSE(tool_.SkipCharsNotIn(TCharSet("x"), false));
  EXPECT_TRUE(tool_.Eof());  // empty lines do not break a run
  Over({"abc"});
  EXPECT_TRUE(tool_.SkipCharsNotIn(TCharSet("x"), true));
  ExpectCursor(0, 4);
}

TEST_F(LexToolTest, ReadUntilAcrossAndAtLineEnds) {
  TStringList dest;
  int changes = 0;
  dest.OnChange = [&](TStringList*) { ++changes; };
  const TCharSet d("d");

  TLexTool& t = Over({"ab", "cd"});
  EXPECT_TRUE(t.ReadUntil(dest, d, false));
  EXPECT_EQ(dest.Lines(), (std::vector<std::string>{"ab", "c"}));
  ExpectCursor(1, 2);
  EXPECT_EQ(changes, 1);  // the whole read is one change

  Over({"ab", "cd"});
  EXPECT_TRUE(tool_.ReadUntil(dest, d, true));
  EXPECT_EQ(dest.Lines(), std::vector<std::string>{"ab"});
  ExpectCursor(0, 3);
  EXPECT_TRUE(tool_.ReadUntil(dest, d, true));  // at a line end: one empty entry
  EXPECT_EQ(dest.Lines(), std::vector<std::string>{""});
  ExpectCursor(0, 3);
  EXPECT_TRUE(tool_.ReadUntil(dest, d, false));  // begins with an empty first entry
  EXPECT_EQ(dest.Lines(), (std::vector<std::string>{"", "c"}));

  Over({"x", "", "y"});
  EXPECT_TRUE(tool_.ReadUntil(dest, d, false));
  EXPECT_EQ(dest.Lines(), (std::vector<std::string>{"x", "", "y"}));
  EXPECT_TRUE(tool_.Eof());
  Over({"dx"});
  EXPECT_TRUE(tool_.ReadUntil(dest, d, false));  // on a stop character: one empty entry
  EXPECT_EQ(dest.Lines(), std::vector<std::string>{""});
  ExpectCursor(0, 1);
}

TEST_F(LexToolTest, ReadWordStaysOnOneLine) {
  std::string word = "old";
  TLexTool& t = Over({"name=value"});
  EXPECT_TRUE(t.ReadWord(word, TCharSet("="), false));
  EXPECT_EQ(word, "name");
  ExpectCursor(0, 5);
  EXPECT_TRUE(t.ReadWord(word, TCharSet("="), false));
  EXPECT_EQ(word, "");  // on a stop character

  Over({"ab\xE9", "cd"});
  EXPECT_TRUE(tool_.ReadWord(word, TCharSet(""), true));
  EXPECT_EQ(word, "AB\xC9");
  EXPECT_TRUE(tool_.ReadWord(word, TCharSet(""), true));
  EXPECT_EQ(word, "");  // at the line end
  ExpectCursor(0, 4);
  tool_.SetLine(1);
  tool_.SetCol(3);
  EXPECT_FALSE(tool_.ReadWord(word, TCharSet(""), false));
  EXPECT_EQ(word, "");
}

TEST_F(LexToolTest, SavedStates) {
  TLexTool& t = Over({"abcdef"});
  try {
    t.PopState();
    FAIL() << "no failure";
  } catch (const ELexTool& e) {
    EXPECT_STREQ(e.what(), "TLexTool : No states to pop");
  }
  try {
    t.DiscardState();
    FAIL() << "no failure";
  } catch (const ELexTool& e) {
    EXPECT_STREQ(e.what(), "TLexTool : No states to discard");
  }
  t.SetCol(2);
  t.PushState();
  t.SetCol(4);
  t.SetCaseSensitive(true);
  t.PushState();
  t.SetCol(6);
  t.DiscardState();
  t.Home();  // Home leaves the saved states alone
  EXPECT_EQ(t.States().Count(), 1);
  t.PopState();
  ExpectCursor(0, 2);
  EXPECT_FALSE(t.CaseSensitive());
  EXPECT_TRUE(t.States().IsEmpty());
}

}  // namespace
