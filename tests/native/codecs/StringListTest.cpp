#include "codecs/StringList.h"
#include "codecs/Exception.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Load(const std::string& text) {
  TStringList l;
  l.SetText(text);
  return l.Lines();
}

TEST(StringList, LoadingSplitsAtEveryLineEndForm) {
  EXPECT_EQ(Load("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(Load("a\r\n"), (std::vector<std::string>{"a"}));  // final line end adds no line
  EXPECT_EQ(Load("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(Load("a\r\r\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(Load("\n"), (std::vector<std::string>{""}));
  EXPECT_TRUE(Load("").empty());
  EXPECT_EQ(Load(std::string("ab\0cd\nef", 8)), (std::vector<std::string>{"ab"}));  // NUL ends the text
}

// The NUL that ends the text may stand anywhere: at the start, right after
// a line end of either form, or inside a line.
TEST(StringList, LoadingStopsAtTheNulWherever) {
  EXPECT_TRUE(Load(std::string("\0ab", 3)).empty());
  EXPECT_EQ(Load(std::string("a\n\0b", 4)), (std::vector<std::string>{"a"}));
  EXPECT_EQ(Load(std::string("a\r\0\nb", 5)), (std::vector<std::string>{"a"}));
  EXPECT_EQ(Load(std::string("a\r\n\0", 4)), (std::vector<std::string>{"a"}));
  EXPECT_EQ(Load(std::string("ab\0\ncd", 6)), (std::vector<std::string>{"ab"}));
  EXPECT_EQ(Load(std::string("\n\0", 2)), (std::vector<std::string>{""}));
}

TEST(StringList, TextEndsEveryLineWithCrLf) {
  TStringList l;
  l.Add("x");
  l.Add("");
  EXPECT_EQ(l.Text(), "x\r\n\r\n");
}

TEST(StringList, NameValueUse) {
  TStringList l;
  l.SetValue("HREF", "a.html");
  l.SetValue("href", "b.html");  // replaced in place, newer name case
  EXPECT_EQ(l.Count(), 1);
  EXPECT_EQ(l[0], "href=b.html");
  EXPECT_EQ(l.Values("Href"), "b.html");
  l.SetValue("name", "x");
  l.SetValue("HREF", "");  // empty value deletes
  EXPECT_EQ(l.Count(), 1);
  EXPECT_EQ(l.Names(0), "name");
  EXPECT_EQ(l.IndexOfName("nam"), -1);
}

TEST(StringList, ChangeNotificationIsBracketedByUpdates) {
  TStringList l;
  int changes = 0;
  l.OnChange = [&](TStringList*) { ++changes; };
  l.Add("a");
  EXPECT_EQ(changes, 1);
  l.BeginUpdate();
  l.BeginUpdate();
  l.Add("b");
  l.Clear();
  l.EndUpdate();
  EXPECT_EQ(changes, 1);
  l.EndUpdate();
  EXPECT_EQ(changes, 2);
  l.SetText("x\ny");
  EXPECT_EQ(changes, 3);
}

TEST(StringList, CaseInsensitiveSearchFoldsLatin1) {
  TStringList l;
  l.Add("Content-Type");
  l.Add("\xC9t\xC9");
  EXPECT_EQ(l.IndexOf("content-type"), 0);
  EXPECT_EQ(l.IndexOf("\xE9T\xE9"), 1);
  EXPECT_EQ(l.IndexOf("content"), -1);
  EXPECT_THROW(l[2], Exception);
}

TEST(StringList, RefillReplacesTheLinesAsOneChange) {
  TStringList l;
  l.Add("old one");
  l.Add("old two");
  l.Add("old three");
  int changes = 0;
  l.OnChange = [&](TStringList*) { ++changes; };
  std::vector<size_t> order;
  l.Refill(2, [&](size_t i, std::string& line) {
    order.push_back(i);
    EXPECT_TRUE(line.empty());  // each line is handed over empty
    line = "new " + std::to_string(i);
  });
  EXPECT_EQ(l.Lines(), (std::vector<std::string>{"new 0", "new 1"}));
  EXPECT_EQ(order, (std::vector<size_t>{0, 1}));
  EXPECT_EQ(changes, 1);
  l.Refill(0, [](size_t, std::string&) {});
  EXPECT_TRUE(l.Empty());
  l.BeginUpdate();
  l.Refill(1, [](size_t, std::string& line) { line = "x"; });
  EXPECT_EQ(changes, 2);
  l.EndUpdate();
  EXPECT_EQ(changes, 3);
}

// A list refilled again and again, shorter and longer, keeps the memory of
// its lines: the same buffers come back.
TEST(StringList, RefillLendsTheMemoryOfEarlierLines) {
  const std::string longLine(100, 'x');
  TStringList l;
  l.Refill(2, [&](size_t, std::string& line) { line = longLine; });
  const char* first = l[0].data();
  const char* second = l[1].data();
  l.Refill(1, [&](size_t, std::string& line) { line = longLine; });
  l.Refill(0, [](size_t, std::string&) {});
  l.Refill(2, [&](size_t, std::string& line) { line = longLine; });
  const std::set<const char*> before{first, second};
  EXPECT_EQ((std::set<const char*>{l[0].data(), l[1].data()}), before);
  EXPECT_EQ(l.Lines(), (std::vector<std::string>{longLine, longLine}));
  // Clearing gives the memory back: nothing stale comes out of a refill.
  l.Clear();
  l.Refill(1, [](size_t, std::string& line) { line = "fresh"; });
  EXPECT_EQ(l.Lines(), (std::vector<std::string>{"fresh"}));
}

}  // namespace
