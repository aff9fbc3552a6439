#include "html/HtmlTagLexer.h"

#include "html/HtmlLexerError.h"
#include "html/HtmlTokens.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

TStringList LinesOf(const std::vector<std::string>& lines) {
  TStringList list;
  for (const auto& l : lines) list.Add(l);
  return list;
}

struct Part {
  THtmlTagPartKind kind;
  int startLine, startCol, endLine, endCol;
};

void ExpectParts(const THtmlTagLexer& lexer, const std::vector<Part>& expected) {
  ASSERT_EQ(lexer.PartCount(), static_cast<int>(expected.size()));
  for (int i = 0; i < lexer.PartCount(); ++i) {
    SCOPED_TRACE("part " + std::to_string(i));
    const THtmlTagPart p = lexer.GetPart(i);
    const Part& e = expected[static_cast<size_t>(i)];
    EXPECT_EQ(p.Kind, e.kind);
    EXPECT_EQ(p.StartLine, e.startLine);
    EXPECT_EQ(p.StartCol, e.startCol);
    EXPECT_EQ(p.EndLine, e.endLine);
    EXPECT_EQ(p.EndCol, e.endCol);
  }
}

// A tag token whose text is the given lines.
struct ParsedTag {
  explicit ParsedTag(const std::vector<std::string>& lines) {
    token.Text().BeginUpdate();
    for (const auto& l : lines) token.Text().Add(l);
    token.Text().EndUpdate();
  }
  std::vector<std::string> Attributes() const { return token.Attributes().Lines(); }
  THtmlTagToken token;
};

TEST(TagLexer, PartsOfOneLineTag) {
  TStringList lines = LinesOf({"<a href=\"x\">"});
  THtmlTagLexer lexer;
  EXPECT_TRUE(lexer.Tokenize(lines, 0, 1));
  ExpectParts(lexer, {{httOpenTag, 0, 1, 0, 1},
                      {httTagName, 0, 2, 0, 2},
                      {httWhiteSpace, 0, 3, 0, 3},
                      {httAttributeName, 0, 4, 0, 7},
                      {httAttributeEqual, 0, 8, 0, 8},
                      {httAttributeValue, 0, 9, 0, 11},
                      {httCloseTag, 0, 12, 0, 12}});
}

TEST(TagLexer, TrailingBlanksBeforeALineEndDoNotEndTheAttributes) {
  TStringList lines = LinesOf({"<a class=\"nav\"  ", "\thref=\"next.html\">"});
  THtmlTagLexer lexer;
  EXPECT_TRUE(lexer.Tokenize(lines, 0, 1));
  ExpectParts(lexer, {{httOpenTag, 0, 1, 0, 1},
                      {httTagName, 0, 2, 0, 2},
                      {httWhiteSpace, 0, 3, 0, 3},
                      {httAttributeName, 0, 4, 0, 8},
                      {httAttributeEqual, 0, 9, 0, 9},
                      {httAttributeValue, 0, 10, 0, 14},
                      {httWhiteSpace, 0, 15, 0, 16},
                      {httLineBreak, 0, 17, 0, 16},  // covers nothing
                      {httWhiteSpace, 1, 1, 1, 1},
                      {httAttributeName, 1, 2, 1, 5},
                      {httAttributeEqual, 1, 6, 1, 6},
                      {httAttributeValue, 1, 7, 1, 17},
                      {httCloseTag, 1, 18, 1, 18}});

  ParsedTag tag({"<a class=\"nav\"  ", "\thref=\"next.html\">"});
  EXPECT_EQ(tag.Attributes(), (std::vector<std::string>{"class=nav", "href=next.html"}));
  ParsedTag blankLines({"<a", "  ", "", " href", " =", "", "x>"});
  EXPECT_EQ(blankLines.token.GetAttribute("HREF"), "x");
}

TEST(TagLexer, ShortAndUnclosedTags) {
  THtmlTagLexer lexer;
  TStringList empty;
  EXPECT_FALSE(lexer.Tokenize(empty, 0, 1));
  EXPECT_EQ(lexer.PartCount(), 0);

  TStringList lone = LinesOf({"<"});
  EXPECT_FALSE(lexer.Tokenize(lone, 0, 1));
  ExpectParts(lexer, {{httOpenTag, 0, 1, 0, 1}});

  TStringList noName = LinesOf({"<>"});
  EXPECT_FALSE(lexer.Tokenize(noName, 0, 1));
  ExpectParts(lexer, {{httOpenTag, 0, 1, 0, 1}});

  TStringList nameOnly = LinesOf({"<ab"});
  EXPECT_TRUE(lexer.Tokenize(nameOnly, 0, 1));
  ExpectParts(lexer, {{httOpenTag, 0, 1, 0, 1}, {httTagName, 0, 2, 0, 3}});

  TStringList trailingBlank = LinesOf({"<ab "});
  EXPECT_FALSE(lexer.Tokenize(trailingBlank, 0, 1));

  TStringList emptyName = LinesOf({"<a =x>"});
  EXPECT_FALSE(lexer.Tokenize(emptyName, 0, 1));

  TStringList openQuote = LinesOf({"<a href=\"x", "y"});
  EXPECT_TRUE(lexer.Tokenize(openQuote, 0, 1));
  EXPECT_EQ(lexer.GetPart(lexer.PartCount() - 1).Kind, httAttributeValue);
  EXPECT_EQ(lexer.GetPart(lexer.PartCount() - 1).EndLine, 1);
  EXPECT_EQ(lexer.GetPart(lexer.PartCount() - 1).EndCol, 1);
  EXPECT_THROW(lexer.GetPart(lexer.PartCount()), Exception);
}

TEST(TagLexer, StartsAtTheGivenPositionAndRequiresTheOpeningSign) {
  TStringList lines = LinesOf({"text <b>"});
  THtmlTagLexer lexer;
  EXPECT_TRUE(lexer.Tokenize(lines, 0, 6));
  ExpectParts(lexer, {{httOpenTag, 0, 6, 0, 6}, {httTagName, 0, 7, 0, 7}, {httCloseTag, 0, 8, 0, 8}});
  try {
    lexer.Tokenize(lines, 0, 1);
    FAIL() << "no failure";
  } catch (const EHtmlLexer& e) {
    EXPECT_STREQ(e.what(), "HTML token should begin with <");
  }
  EXPECT_EQ(lexer.PartCount(), 0);
}

// A tag's name is read on its own, ahead of the rest of the tag: it must be
// the name part that splitting the whole tag finds, whatever the tag holds.
TEST(TagLexer, TheNameAloneIsTheNamePartOfTheWholeTag) {
  const std::vector<std::string> pieces{"<", " ", "\t", "a", "A", "/", "=", ">", "\"", "x", "", "b c", "<!"};
  std::mt19937 random(15);
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::string> lines{"<"};
    const int count = static_cast<int>(random() % 8);
    for (int i = 0; i < count; ++i) {
      if (random() % 5 == 0) lines.emplace_back();
      lines.back() += pieces[random() % pieces.size()];
    }
    if (random() % 4 == 0) lines.insert(lines.begin(), "");
    TStringList text = LinesOf(lines);
    THtmlTagLexer whole;
    whole.Tokenize(text, 0, 1);
    std::string expected;
    for (const THtmlTagPart& part : whole.Parts())
      if (part.Kind == httTagName && !part.CoversNothing())
        expected = text[part.StartLine].substr(part.StartCol - 1, part.EndCol - part.StartCol + 1);
    THtmlTagLexer alone;
    ASSERT_EQ(std::string(alone.TagName(text, 0, 1)), expected) << text.Text();
    EXPECT_EQ(alone.PartCount(), 0);
  }
  THtmlTagLexer lexer;
  EXPECT_EQ(lexer.TagName(LinesOf({}), 0, 1), "");
  EXPECT_THROW(lexer.TagName(LinesOf({"a<"}), 0, 1), EHtmlLexer);
}

// Attributes are read when first asked for, from the text the tag has then;
// the name is there at once.
TEST(TagParse, AttributesReadWhenAskedFor) {
  THtmlTagToken token;
  token.Text().Add("<A href=x>");
  EXPECT_EQ(token.Name(), "A");
  EXPECT_TRUE(token.TextValid());
  token.Text().Put(0, "<b id=1 class=c>");
  EXPECT_EQ(token.Name(), "b");
  EXPECT_EQ(token.TagLexer().PartCount(), 11);
  EXPECT_EQ(token.GetAttribute("href"), "");
  EXPECT_EQ(token.Attributes().Lines(), (std::vector<std::string>{"id=1", "class=c"}));
  token.Text().Put(0, "<i>");
  EXPECT_EQ(token.AttributeCount(), 0);
  EXPECT_EQ(token.TagLexer().PartCount(), 3);
}

TEST(TagParse, NamesKeepTheirCaseAndClosingSlash) {
  ParsedTag closing({"</A>"});
  EXPECT_EQ(closing.token.Name(), "/A");
  EXPECT_TRUE(closing.token.IsTag("/a"));
  EXPECT_TRUE(closing.token.TextValid());

  ParsedTag spaced({"</ a>"});  // the name is "/" with a value-less attribute a
  EXPECT_EQ(spaced.token.Name(), "/");
  EXPECT_EQ(spaced.token.AttributeCount(), 0);

  ParsedTag selfClosing({"<a/>"});
  EXPECT_EQ(selfClosing.token.Name(), "a/");
  EXPECT_FALSE(selfClosing.token.IsTag("a"));

  ParsedTag latin({"<\xE9>"});
  EXPECT_FALSE(latin.token.IsTag("\xC9"));  // only ASCII letters fold

  ParsedTag nextLine({"<", "td>"});
  EXPECT_EQ(nextLine.token.Name(), "td");
}

TEST(TagParse, AttributeValues) {
  EXPECT_EQ(ParsedTag({"<a href = x>"}).token.GetAttribute("href"), "x");
  EXPECT_EQ(ParsedTag({"<a href\t=\t\"x y\">"}).token.GetAttribute("href"), "x y");
  EXPECT_EQ(ParsedTag({"<a href='x'>"}).token.GetAttribute("href"), "'x'");
  EXPECT_EQ(ParsedTag({"<a href=x\">"}).token.GetAttribute("href"), "x\"");
  EXPECT_EQ(ParsedTag({"<a href=\"a&amp;b\">"}).token.GetAttribute("href"), "a&amp;b");
  EXPECT_EQ(ParsedTag({"<a title=\"one", "two\">"}).token.GetAttribute("title"), "one two");
  EXPECT_EQ(ParsedTag({"<a href=\"x.html"}).token.GetAttribute("href"), "x.html");

  // Empty values are never listed.
  EXPECT_TRUE(ParsedTag({"<a href=\"\">"}).Attributes().empty());
  EXPECT_TRUE(ParsedTag({"<a href=\""}).Attributes().empty());
  EXPECT_TRUE(ParsedTag({"<a href=", ">"}).Attributes().empty());
  EXPECT_TRUE(ParsedTag({"<a href=>"}).Attributes().empty());
  EXPECT_TRUE(ParsedTag({"<a name>"}).Attributes().empty());
}

TEST(TagParse, AttributeTextIsTheValueInPlace) {
  ParsedTag tag({"<a HREF=\"x y\" title=t=u empty=\"\">"});
  EXPECT_EQ(tag.token.AttributeText("href"), "x y");
  EXPECT_EQ(tag.token.AttributeText("TITLE"), "t=u");
  EXPECT_EQ(tag.token.AttributeText("empty"), "");
  EXPECT_EQ(tag.token.AttributeText("none"), "");
  EXPECT_EQ(tag.token.AttributeText("href").data(), tag.token.Attributes()[0].data() + 5);
}

TEST(TagParse, RepeatedNamesFollowTheNameValueRules) {
  EXPECT_EQ(ParsedTag({"<a href=x HREF=y id=z>"}).Attributes(),
            (std::vector<std::string>{"HREF=y", "id=z"}));
  EXPECT_EQ(ParsedTag({"<a href=x id=z HREF>"}).Attributes(), std::vector<std::string>{"id=z"});

  // The same rules hold for a tag with many attributes.
  std::string text = "<p";
  for (int i = 0; i < 40; ++i) text += " a" + std::to_string(i) + "=v" + std::to_string(i);
  text += " a5 A7=new a40=w a5=back>";
  ParsedTag many({text});
  ASSERT_EQ(many.token.AttributeCount(), 41);
  EXPECT_EQ(many.token.AttributeName(6), "A7");
  EXPECT_EQ(many.token.AttributeValue(6), "new");
  EXPECT_EQ(many.token.AttributeName(39), "a40");
  EXPECT_EQ(many.token.AttributeName(40), "a5");
  EXPECT_EQ(many.token.GetAttribute("A5"), "back");
  EXPECT_EQ(many.token.GetAttribute("a4"), "v4");
}

TEST(TagParse, SeveralValuesSpanningLines) {
  ParsedTag tag({"<a title=\"one", "two\" alt=\"three", "four", "five\" href=\"x", "y\" title=\"again", "more\">"});
  EXPECT_EQ(tag.Attributes(), (std::vector<std::string>{"title=again more", "alt=three four five", "href=x y"}));

  // Past the handful of attributes where names are looked up by index.
  std::vector<std::string> lines{"<p"};
  for (int i = 0; i < 20; ++i) {
    lines.back() += " v" + std::to_string(i) + "=\"a" + std::to_string(i);
    lines.push_back("b\"");
  }
  lines.back() += ">";
  ParsedTag many(lines);
  ASSERT_EQ(many.token.AttributeCount(), 20);
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(many.token.GetAttribute("V" + std::to_string(i)), "a" + std::to_string(i) + " b");
}

TEST(TagParse, AParseKeepsNothingOfThePreviousOne) {
  THtmlTagToken token;
  token.Text().Add("<a href=x title=\"a long title of the first tag\" id=one>");
  EXPECT_EQ(token.AttributeCount(), 3);
  token.Text().Put(0, "<b class=c>");
  EXPECT_EQ(token.Name(), "b");
  EXPECT_EQ(token.Attributes().Lines(), std::vector<std::string>{"class=c"});
  token.Text().Put(0, "<br>");
  EXPECT_EQ(token.AttributeCount(), 0);
  token.Text().Put(0, "<img src=s alt=\"t\">");
  EXPECT_EQ(token.Attributes().Lines(), (std::vector<std::string>{"src=s", "alt=t"}));
  // A failing parse leaves only what it built.
  EXPECT_THROW(token.Text().Put(0, "no tag"), EHtmlLexer);
  EXPECT_EQ(token.AttributeCount(), 0);
  EXPECT_EQ(token.Name(), "");
}

TEST(TagParse, RebuiltTextReadsBackTheSame) {
  ParsedTag tag({"<A  HREF = x", "  class=\"c d\">"});
  tag.token.RebuildText();
  EXPECT_EQ(tag.token.Text().Lines(), std::vector<std::string>{"<A HREF=\"x\" class=\"c d\">"});
  EXPECT_EQ(tag.token.Name(), "A");
  EXPECT_EQ(tag.Attributes(), (std::vector<std::string>{"HREF=x", "class=c d"}));

  THtmlTagToken fresh;
  EXPECT_FALSE(fresh.TextValid());
  EXPECT_EQ(fresh.GetText().Lines(), std::vector<std::string>{"<>"});
  EXPECT_TRUE(fresh.TextValid());
}

TEST(TagParse, ParseRunsOnceAfterEachUpdate) {
  THtmlTagToken token;
  token.BeginTextUpdate();
  token.Text().Add("<b");
  token.Text().Add("id=1>");
  EXPECT_EQ(token.Name(), "");
  token.EndTextUpdate();
  EXPECT_EQ(token.Name(), "b");
  EXPECT_EQ(token.GetAttribute("id"), "1");
  token.Text().Put(0, "<i");  // a change outside a bracket parses at once
  EXPECT_EQ(token.Name(), "i");
}

}  // namespace
