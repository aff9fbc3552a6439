#include "codecs/LineUtils.h"
#include "codecs/Exception.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using Lines = std::vector<std::string>;

TStringList Make(const Lines& lines) {
  TStringList l;
  for (const auto& s : lines) l.Add(s);
  return l;
}

Lines Extract(const Lines& src, int sl, int sc, int el, int ec) {
  TStringList source = Make(src);
  TStringList dest = Make({"old"});
  ExtractRange(source, dest, sl, sc, el, ec);
  return dest.Lines();
}

TEST(ExtractRange, AcrossLines) {
  EXPECT_EQ(Extract({"abc", "def", "ghi"}, 0, 2, 2, 1), (Lines{"bc", "def", "g"}));
  EXPECT_EQ(Extract({"abc", "def", "ghi"}, 0, 1, 1, 3), (Lines{"abc", "def"}));
  EXPECT_EQ(Extract({"abc", "def", "ghi"}, 1, 3, 2, 0), (Lines{"f", ""}));
  EXPECT_EQ(Extract({"abc", "", "ghi"}, 0, 4, 2, 2), (Lines{"", "", "gh"}));
}

TEST(ExtractRange, OneLine) {
  EXPECT_EQ(Extract({"abcdef"}, 0, 2, 0, 4), (Lines{"bcd"}));
  EXPECT_EQ(Extract({"abcdef"}, 0, 3, 0, 2), (Lines{""}));    // end before start
  EXPECT_EQ(Extract({"abcdef"}, 0, 5, 0, 99), (Lines{"ef"}));  // end past the line
  EXPECT_EQ(Extract({"abcdef"}, 0, 9, 0, 12), (Lines{""}));    // start past the line
  // A column below 1 reads from the first character; the count is still
  // end - start + 1, as the runtime's substring copy does.
  EXPECT_EQ(Extract({"abcdef"}, 0, 0, 0, 2), (Lines{"abc"}));
}

TEST(ExtractRange, EndLineBeforeStartLineUsesTheStartLine) {
  EXPECT_EQ(Extract({"abc", "defgh"}, 1, 2, 0, 3), (Lines{"ef"}));
}

TEST(ExtractRange, SuspendsNotificationsAndChecksLines) {
  TStringList source = Make({"abc", "def"});
  TStringList dest;
  int changes = 0;
  dest.OnChange = [&](TStringList*) { ++changes; };
  ExtractRange(source, dest, 0, 1, 1, 2);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(dest.UpdateCount(), 0);
  EXPECT_THROW(ExtractRange(source, dest, 0, 1, 5, 1), Exception);
  EXPECT_EQ(dest.UpdateCount(), 0);  // released on the error path too
}

TEST(ExtractRange, ALineOutsideTheSourceLeavesTheDestinationAsItWas) {
  TStringList source = Make({"abc", "def"});
  TStringList dest = Make({"x", "y", "z"});
  EXPECT_THROW(ExtractRange(source, dest, 1, 1, 2, 1), Exception);
  EXPECT_THROW(ExtractRange(source, dest, -1, 1, 0, 1), Exception);
  EXPECT_EQ(dest.Lines(), (Lines{"x", "y", "z"}));
  // A destination with more lines than the range ends with exactly the range.
  ExtractRange(source, dest, 0, 3, 0, 3);
  EXPECT_EQ(dest.Lines(), (Lines{"c"}));
}

TEST(ExtractRange, SourceMayBeTheDestination) {
  TStringList l = Make({"abc", "def"});
  ExtractRange(l, l, 0, 2, 1, 2);
  EXPECT_EQ(l.Lines(), (Lines{"bc", "de"}));
}

TEST(JoinLines, Cases) {
  EXPECT_EQ(JoinLines(Make({}), " "), "");
  EXPECT_EQ(JoinLines(Make({"one"}), ", "), "one");
  EXPECT_EQ(JoinLines(Make({"a", "", "b"}), " "), "a  b");
  EXPECT_EQ(JoinLines(Make({"a", "b"}), ""), "ab");
}

TEST(AppendLines, Cases) {
  TStringList dest = Make({"x", "ab"});
  AppendLines(Make({"c", "d", "e"}), dest);
  EXPECT_EQ(dest.Lines(), (Lines{"x", "abc", "d", "e"}));

  TStringList empty;
  AppendLines(Make({"c", "d"}), empty);
  EXPECT_EQ(empty.Lines(), (Lines{"c", "d"}));

  AppendLines(Make({}), dest);  // empty source: nothing happens
  EXPECT_EQ(dest.Count(), 4);

  TStringList self = Make({"a", "b"});
  AppendLines(self, self);
  EXPECT_EQ(self.Lines(), (Lines{"a", "ba", "b"}));
}

TEST(AppendTextAndChar, Cases) {
  TStringList dest;
  AppendText("ab", dest);
  EXPECT_EQ(dest.Lines(), (Lines{"ab"}));
  AppendText("cd", dest);
  AppendChar('>', dest);
  EXPECT_EQ(dest.Lines(), (Lines{"abcd>"}));
  TStringList other;
  AppendChar('<', other);
  EXPECT_EQ(other.Lines(), (Lines{"<"}));
  AppendChar('\0', other);
  EXPECT_EQ(other[0], std::string("<\0", 2));
  AppendText("", other);
  EXPECT_EQ(other.Count(), 1);
}

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
  explicit TempDir(const char* leaf)
      : path_((std::filesystem::temp_directory_path() / leaf).string()) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

std::string ReadFile(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(SaveLinesToFile, WritesEveryLineWithCrLfAndReplaces) {
  TempDir dir("kestrel_savelines_test");
  std::string name = dir.File("log.txt");
  SaveLinesToFile(Make({"GET / HTTP/1.0", "", "x"}), name);
  EXPECT_EQ(ReadFile(name), "GET / HTTP/1.0\r\n\r\nx\r\n");
  SaveLinesToFile(Make({"y"}), name);
  EXPECT_EQ(ReadFile(name), "y\r\n");
  SaveLinesToFile(Make({}), name);
  EXPECT_EQ(ReadFile(name), "");
}

TEST(SaveLinesToFile, ErrorsAreIgnored) {
  EXPECT_NO_THROW(SaveLinesToFile(Make({"a"}), "no-such-dir-kestrel/sub/x.log"));
  EXPECT_NO_THROW(SaveLinesToFile(Make({"a"}), ""));
}

TEST(SaveLinesToFile, NameIsCutAt259Characters) {
  // A folder keeps each path component below the file systems' 255 limit.
  TempDir dir("kestrel_savelines_dir");
  std::string base = dir.Path() + "/";
  ASSERT_LT(base.size(), 200u);
  std::string name = base + std::string(259 - base.size() - 4, 'n') + ".log";
  ASSERT_EQ(name.size(), 259u);
  SaveLinesToFile(Make({"z"}), name + "_ignored_tail");
  EXPECT_EQ(ReadFile(name), "z\r\n");
}

}  // namespace
