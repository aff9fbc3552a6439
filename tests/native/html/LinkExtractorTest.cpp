#include "html/LinkExtractor.h"

#include "codecs/Entities.h"
#include "codecs/Exception.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Links = std::vector<std::pair<std::string, std::string>>;  // target, text

Links LinksOf(const std::string& body) {
  TMemoryStream stream;
  stream.Write(body);
  TLinkExtraction result = ExtractLinks(stream);
  EXPECT_TRUE(result.Succeeded) << result.ErrorMessage;
  EXPECT_EQ(result.ErrorMessage, "");
  EXPECT_EQ(result.Targets.size(), result.Texts.size());
  Links links;
  for (size_t i = 0; i < result.Targets.size() && i < result.Texts.size(); ++i)
    links.emplace_back(result.Targets[i], result.Texts[i]);
  return links;
}

TEST(LinkExtraction, NoAnchorsGiveEmptyLists) {
  EXPECT_TRUE(LinksOf("").empty());
  EXPECT_TRUE(LinksOf("<html><body><p>text &amp; more</p></body></html>").empty());
  TMemoryStream never;
  TLinkExtraction result = ExtractLinks(never);
  EXPECT_TRUE(result.Succeeded);
  EXPECT_TRUE(result.Targets.empty());
}

TEST(LinkExtraction, NamesInAnyCaseButNothingMore) {
  EXPECT_EQ(LinksOf("<a href=x>1</a><A HREF=y>2</A><a HrEf=z>3</a>"),
            (Links{{"x", "1"}, {"y", "2"}, {"z", "3"}}));
  EXPECT_TRUE(LinksOf("<a/ href=x>t</a><ab href=y>u</ab>").empty());
  EXPECT_EQ(LinksOf("<a\thref=x>t</A >after"), (Links{{"x", "t"}}));
}

TEST(LinkExtraction, TargetsAsWritten) {
  EXPECT_EQ(LinksOf("<a href=\"x.html\">Home</a>"), (Links{{"x.html", "Home"}}));
  EXPECT_EQ(LinksOf("<a href=x.html>"), (Links{{"x.html", "Not Available"}}));
  EXPECT_EQ(LinksOf("<a href='x.html'>t</a>"), (Links{{"'x.html'", "t"}}));
  EXPECT_EQ(LinksOf("<a href = \" sp ace \">t</a>"), (Links{{" sp ace ", "t"}}));
  EXPECT_EQ(LinksOf("<a href=\"a?b=1&amp;c=2\">t</a>"), (Links{{"a?b=1&amp;c=2", "t"}}));
  EXPECT_EQ(LinksOf("<a href=\"../up\nnext\">t</a>"), (Links{{"../up next", "t"}}));
}

TEST(LinkExtraction, MissingOrEmptyTargetsGiveNoEntry) {
  EXPECT_TRUE(LinksOf("<a href=\"\">t</a>").empty());
  EXPECT_TRUE(LinksOf("<a name=top>t</a>").empty());
  EXPECT_TRUE(LinksOf("<a href=\n>t</a>").empty());
  EXPECT_TRUE(LinksOf("<a href>t</a>").empty());
  EXPECT_TRUE(LinksOf("text <a href=\"").empty());
  // An anchor without a target still consumes its content, nested anchors too.
  EXPECT_TRUE(LinksOf("<a name=n>in <a href=x>y</a>").empty());
  EXPECT_EQ(LinksOf("<a name=n>in</a><a href=x>y</a>"), (Links{{"x", "y"}}));
}

TEST(LinkExtraction, AnchorsEndingTheDocument) {
  EXPECT_EQ(LinksOf("<a href=x>text\nmore"), (Links{{"x", "text more"}}));
  EXPECT_EQ(LinksOf("<p><a href=\"x.html"), (Links{{"x.html", "Not Available"}}));
  EXPECT_EQ(LinksOf("<a href=x>t<"), (Links{{"x", "t"}}));
}

TEST(LinkExtraction, TextIsCleanedTokenByToken) {
  EXPECT_EQ(LinksOf("<a href=x>Tom &amp; Jerry</a>"), (Links{{"x", "Tom&Jerry"}}));
  EXPECT_EQ(LinksOf("<a href=x>Hello&nbsp;World</a>"), (Links{{"x", "Hello World"}}));
  EXPECT_EQ(LinksOf("<a href=x>  one \t\r\n two  </a>"), (Links{{"x", "one two"}}));
  EXPECT_EQ(LinksOf("<a href=x>a\x01\x1f b</a>"), (Links{{"x", "a b"}}));
  EXPECT_EQ(LinksOf("<a href=x>R&eacute;sum&#233; & co</a>"),
            (Links{{"x", "R\xE9sum\xE9&co"}}));
  EXPECT_EQ(LinksOf("<a href=x>&lt;b&gt;</a>"), (Links{{"x", "<b>"}}));
}

// The cleaning in one pass equals its definition: join the lines with a
// space, collapse every run of codes 1 to 32 to one space with none at either
// end, decode references. Appended texts are cleaned on their own.
TEST(LinkExtraction, CleanedTextIsJoinCollapseDecode) {
  const std::vector<std::vector<std::string>> samples{
      {}, {""}, {"", ""}, {" a "}, {"a", "b"}, {"a ", " b"}, {"", "a", "", "b", ""}, {"\t\x01x\x1f", "\x20"},
      {"&amp;", "&nbsp;x"}, {std::string("a\0b", 3), " c"}, {"&am", "p;"}, {" \xA0\xFF "}};
  for (const auto& lines : samples) {
    TStringList list;
    for (const auto& l : lines) list.Add(l);
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) joined += (i ? " " : "") + lines[i];
    std::string collapsed;
    bool pending = false;
    for (char c : joined) {
      const unsigned char code = static_cast<unsigned char>(c);
      if (code >= 1 && code <= 32) {
        pending = !collapsed.empty();
        continue;
      }
      if (pending) collapsed += ' ';
      pending = false;
      collapsed += c;
    }
    const std::string expected = DecodeEntities(collapsed);
    EXPECT_EQ(CleanLinkText(list), expected) << joined;
    std::string appended = "  &amp;";
    AppendCleanLinkText(list, appended);
    EXPECT_EQ(appended, "  &amp;" + expected) << joined;
  }
}

TEST(LinkExtraction, OnlyTextTokensCount) {
  EXPECT_EQ(LinksOf("<a href=x>Hello <b>World</b></a>"), (Links{{"x", "HelloWorld"}}));
  EXPECT_EQ(LinksOf("<a href=x><img src=y alt=z></a>"), (Links{{"x", "Not Available"}}));
  EXPECT_EQ(LinksOf("<a href=x>a<!-- c -->b<!DOCTYPE d><script>s</script>c</a>"),
            (Links{{"x", "abc"}}));
  EXPECT_EQ(LinksOf("<a href=x>one</ a>two</a>"), (Links{{"x", "onetwo"}}));
  EXPECT_EQ(LinksOf("<a href=1>one<a href=2>two</a>"), (Links{{"1", "onetwo"}}));
}

TEST(LinkExtraction, EveryAnchorInDocumentOrder) {
  EXPECT_EQ(LinksOf("<a href=x>1</a> <a href=x>2</a>"), (Links{{"x", "1"}, {"x", "2"}}));
  std::string page;
  Links expected;
  for (int i = 0; i < 25; ++i) {
    page += "<li><a href=\"/p" + std::to_string(i) + "\">Page " + std::to_string(i) + "</a></li>\n";
    expected.emplace_back("/p" + std::to_string(i), "Page " + std::to_string(i));
  }
  EXPECT_EQ(LinksOf(page), expected);
}

TEST(LinkExtraction, TagEndsAtAGreaterThanInsideQuotes) {
  EXPECT_EQ(LinksOf("<a href=\"x>y\">Home</a>"), (Links{{"x>", "y\">Home"}}));
}

TEST(LinkExtraction, AnchorsAfterScriptsAndRawText) {
  EXPECT_EQ(LinksOf("<script src=x.js></script><a href=y>z</a>"), (Links{{"y", "z"}}));
  EXPECT_EQ(LinksOf("<script>if (a<b) document.write('<a href=no>');</script><a href=y>z</a>"),
            (Links{{"y", "z"}}));
  // In xmp a tag right at the cursor is read, but "</a>" met inside the text
  // is text; the second anchor is then nested in the first.
  EXPECT_EQ(LinksOf("<xmp><a href=x>in</a></xmp><a href=y>z</a>"), (Links{{"x", "in</a>z"}}));
}

TEST(LinkExtraction, AttributesAfterTrailingBlanksOnEarlierLines) {
  EXPECT_EQ(LinksOf("<a class=\"nav\"   \n   href=\"next.html\">Next</a>"),
            (Links{{"next.html", "Next"}}));
  EXPECT_EQ(LinksOf("<a \r\n href=a.html\r\n>A</a>"), (Links{{"a.html", "A"}}));
}

TEST(LinkExtraction, ReadsTheWholeBodyAndLeavesItAtItsEnd) {
  TMemoryStream stream;
  stream.Write("<a href=x>t</a>");
  stream.SetPosition(7);
  TLinkExtraction first = ExtractLinks(stream);
  EXPECT_EQ(stream.Position(), stream.Size());
  TLinkExtraction second = ExtractLinks(stream);
  ASSERT_TRUE(first.Succeeded);
  EXPECT_EQ(first.Targets, std::vector<std::string>{"x"});
  EXPECT_EQ(first.Targets, second.Targets);
  EXPECT_EQ(first.Texts, second.Texts);
}

TEST(LinkExtraction, HostileBytesNeverFail) {
  const std::string bodies[] = {
      std::string("<a href=x>a\0b</a>", 17), "<", "&", "<!--", "<a href=\"", "<script><",
      "<a href=x>&#99999999999;&#;&", std::string(100000, '<'), "<script>" + std::string(100000, '<'),
      "<xmp>" + std::string(50000, '-') + "<!--" + std::string(50000, '-'),
      "<a " + std::string(100000, 'x') + "=1>"};
  for (const std::string& body : bodies) {
    TMemoryStream stream;
    stream.Write(body);
    EXPECT_TRUE(ExtractLinks(stream).Succeeded) << body.substr(0, 20);
  }
}

// Handed over one by one, the anchors are the same as collected; a failure
// of the receiver ends the walk with its message.
TEST(LinkExtraction, AnchorsHandedOverAsFound) {
  const std::string body =
      "<a href=\"a long target that needs memory.html\">one</a><a href=x><img></a>"
      "<a name=n>skipped</a><A HREF=y>Tom &amp; Jerry</A>";
  TMemoryStream stream;
  stream.Write(body);
  Links handed;
  std::string error;
  EXPECT_TRUE(ExtractLinks(
      stream,
      [&](std::string_view target, std::string& text) {
        handed.emplace_back(std::string(target), text);
        text = "taken over";
      },
      error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(handed, LinksOf(body));
  EXPECT_EQ(handed, (Links{{"a long target that needs memory.html", "one"}, {"x", "Not Available"}, {"y", "Tom&Jerry"}}));

  int calls = 0;
  const auto outOfMemory = [&](std::string_view, std::string&) {
    ++calls;
    throw std::bad_alloc();
  };
  EXPECT_FALSE(ExtractLinks(stream, outOfMemory, error));
  EXPECT_EQ(error, "Out of memory");
  EXPECT_EQ(calls, 1);
  // A failure without words is a failure all the same.
  EXPECT_FALSE(ExtractLinks(stream, [](std::string_view, std::string&) { throw Exception(""); }, error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(ExtractLinks(stream, [](std::string_view, std::string&) { throw Exception("refused"); }, error));
  EXPECT_EQ(error, "refused");
}

// A UTF-8 document read with the Unicode form of references: targets as
// written, texts with the real characters, multi-byte characters untouched
// by the blank collapsing.
TEST(LinkExtraction, Utf8DocumentsGiveTheirTextsInUtf8) {
  const struct {
    const char* document;
    Links links;
  } cases[] = {
      {"<a href=\"/caf\xC3\xA9\">Caf\xC3\xA9 &eacute; &#8364;&#x20AC;</a>",
       {{"/caf\xC3\xA9", "Caf\xC3\xA9\xC3\xA9\xE2\x82\xAC\xE2\x82\xAC"}}},
      {"<A HREF=x>\xCE\xA9 \n \xE6\x97\xA5&#x1F600;</A>", {{"x", "\xCE\xA9 \xE6\x97\xA5\xF0\x9F\x98\x80"}}},
      {"<a href=\"q?a=1&amp;b=\xC3\xBC\">Tom &amp; Jerry</a>", {{"q?a=1&amp;b=\xC3\xBC", "Tom&Jerry"}}},
      {"<a href=y>&#128;&#0;</a><a href=z></a>", {{"y", "\xE2\x82\xAC\xEF\xBF\xBD"}, {"z", "Not Available"}}},
  };
  for (const auto& c : cases) {
    Links links;
    std::string error;
    const bool done = ExtractLinks(
        std::string_view(c.document), TReferenceForm::Unicode,
        [&links](std::string_view target, std::string& text) { links.emplace_back(std::string(target), text); },
        error);
    EXPECT_TRUE(done) << error;
    EXPECT_EQ(c.links, links) << c.document;
  }
}

}  // namespace
