#include "codecs/StringList.h"
#include "codecs/Exception.h"

#include <gtest/gtest.h>

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

}  // namespace
