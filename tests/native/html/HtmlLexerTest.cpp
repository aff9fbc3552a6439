#include "html/HtmlLexer.h"

#include "codecs/Entities.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// One delivered token, every field copied out.
struct Lexed {
  std::string kind;
  int line = 0;
  int col = 0;
  std::vector<std::string> text;
  std::string name;      // tags
  std::string language;  // script text
  bool numeric = false;  // references
  std::string entity;
  int character = -1;
};

Lexed Snapshot(const TToken& token) {
  Lexed l;
  l.kind = token.ClassName();
  l.line = token.Line;
  l.col = token.Col;
  l.text = token.Text().Lines();
  if (auto* tag = dynamic_cast<const THtmlTagToken*>(&token)) l.name = tag->Name();
  if (auto* script = dynamic_cast<const TScriptToken*>(&token)) l.language = script->Language;
  if (auto* symbol = dynamic_cast<const TSpecialSymbolToken*>(&token)) {
    l.numeric = symbol->IsNumeric;
    l.entity = symbol->EntityName;
    l.character = symbol->Character;
  }
  return l;
}

std::vector<Lexed> LexAll(THtmlLexer& lexer) {
  std::vector<Lexed> tokens;
  for (int guard = 0; lexer.Token() && guard < 10000; ++guard) {
    tokens.push_back(Snapshot(*lexer.Token()));
    EXPECT_TRUE(lexer.States().IsEmpty());
    lexer.Next();
  }
  EXPECT_EQ(lexer.Token(), nullptr);
  return tokens;
}

std::vector<Lexed> Lex(const std::string& document) {
  THtmlLexer lexer;
  TMemoryStream stream;
  stream.Write(document);
  stream.SetPosition(0);
  lexer.LoadFromStream(stream);
  return LexAll(lexer);
}

void ExpectToken(const std::vector<Lexed>& tokens, size_t index, const std::string& kind, int line,
                 int col, const std::vector<std::string>& text) {
  SCOPED_TRACE("token " + std::to_string(index));
  ASSERT_LT(index, tokens.size());
  const Lexed& t = tokens[index];
  EXPECT_EQ(t.kind, kind);
  EXPECT_EQ(t.line, line);
  EXPECT_EQ(t.col, col);
  EXPECT_EQ(t.text, text);
}

TEST(HtmlLexer, EmptyDocumentHasNoToken) {
  EXPECT_TRUE(Lex("").empty());
  THtmlLexer lexer;
  TMemoryStream empty;
  lexer.LoadFromStream(empty);
  EXPECT_EQ(lexer.Token(), nullptr);
}

TEST(HtmlLexer, BareLessThanStartsATagUpToTheNextGreaterThan) {
  auto t = Lex("a < b > c");
  ASSERT_EQ(t.size(), 3u);
  ExpectToken(t, 0, "TTextToken", 0, 1, {"a "});
  ExpectToken(t, 1, "THtmlTagToken", 0, 3, {"< b >"});
  EXPECT_EQ(t[1].name, "b");
  ExpectToken(t, 2, "TTextToken", 0, 8, {" c"});
}

TEST(HtmlLexer, CharacterReferences) {
  auto t = Lex("x &amp; y");
  ASSERT_EQ(t.size(), 3u);
  ExpectToken(t, 0, "TTextToken", 0, 1, {"x "});
  ExpectToken(t, 1, "TSpecialSymbolToken", 0, 3, {"&amp;"});
  EXPECT_EQ(t[1].character, 38);
  EXPECT_EQ(t[1].entity, "amp");
  EXPECT_FALSE(t[1].numeric);
  ExpectToken(t, 2, "TTextToken", 0, 8, {" y"});

  t = Lex("x & y");  // a lone "&" is text of its own, placed just after it
  ASSERT_EQ(t.size(), 3u);
  ExpectToken(t, 0, "TTextToken", 0, 1, {"x "});
  ExpectToken(t, 1, "TTextToken", 0, 4, {"&"});
  ExpectToken(t, 2, "TTextToken", 0, 4, {" y"});

  t = Lex("&#65;&#321&ampx&#x41;");
  ASSERT_EQ(t.size(), 6u);
  ExpectToken(t, 0, "TSpecialSymbolToken", 0, 1, {"&#65;"});
  EXPECT_TRUE(t[0].numeric);
  EXPECT_EQ(t[0].entity, "");
  EXPECT_EQ(t[0].character, 65);
  ExpectToken(t, 1, "TSpecialSymbolToken", 0, 6, {"&#321"});
  EXPECT_EQ(t[1].character, 65);  // low 8 bits
  ExpectToken(t, 2, "TSpecialSymbolToken", 0, 11, {"&amp"});
  ExpectToken(t, 3, "TTextToken", 0, 15, {"x"});
  ExpectToken(t, 4, "TTextToken", 0, 17, {"&"});  // hexadecimal references are not read
  ExpectToken(t, 5, "TTextToken", 0, 17, {"#x41;"});
  // Whatever follows the "&", the lexer finds exactly the references the
  // entity decoder finds.
  for (int c = 1; c < 256; ++c) {
    for (const char* rest : {"", "mp;", "9;", "acute"}) {
      const std::string doc = std::string("&") + static_cast<char>(c) + rest;
      if (c == '\r' || c == '\n') continue;
      const TDecodedEntity expected = DecodeEntity(doc, 1);
      t = Lex(doc);
      ASSERT_FALSE(t.empty());
      EXPECT_EQ(t[0].kind, expected.found ? "TSpecialSymbolToken" : "TTextToken") << doc;
      if (expected.found) {
        EXPECT_EQ(t[0].text[0].size(), static_cast<size_t>(expected.length)) << doc;
      }
    }
  }
  ASSERT_EQ(Lex("a&").size(), 2u);
  ExpectToken(Lex("a&"), 1, "TTextToken", 0, 3, {"&"});
}

TEST(HtmlLexer, TokensAcrossLines) {
  auto t = Lex("a<a\r\nhref=x\n>b\rc");
  ASSERT_EQ(t.size(), 3u);
  ExpectToken(t, 0, "TTextToken", 0, 1, {"a"});
  ExpectToken(t, 1, "THtmlTagToken", 0, 2, {"<a", "href=x", ">"});
  EXPECT_EQ(t[1].name, "a");
  ExpectToken(t, 2, "TTextToken", 2, 2, {"b", "c"});

  t = Lex("<p>\n\n<br>");  // the line ends between tags are text
  ASSERT_EQ(t.size(), 3u);
  ExpectToken(t, 1, "TTextToken", 0, 4, {"", "", ""});
  ExpectToken(t, 2, "THtmlTagToken", 2, 1, {"<br>"});
}

TEST(HtmlLexer, CommentsAndDeclarations) {
  auto t = Lex("<!DOCTYPE html><!-- a -- b --><!-x>");
  ASSERT_EQ(t.size(), 3u);
  ExpectToken(t, 0, "TSgmlToken", 0, 1, {"<!DOCTYPE html>"});
  ExpectToken(t, 1, "TCommentToken", 0, 16, {"<!-- a -- b -->"});
  ExpectToken(t, 2, "TSgmlToken", 0, 31, {"<!-x>"});

  t = Lex("<!-- a - b --->z");
  ASSERT_EQ(t.size(), 2u);
  ExpectToken(t, 0, "TCommentToken", 0, 1, {"<!-- a - b --->"});
  ExpectToken(t, 1, "TTextToken", 0, 16, {"z"});

  t = Lex("<!-- one\ntwo <b> --\n> three");  // line ends inside "-->" are not kept
  ASSERT_EQ(t.size(), 2u);
  ExpectToken(t, 0, "TCommentToken", 0, 1, {"<!-- one", "two <b> -->"});
  ExpectToken(t, 1, "TTextToken", 2, 2, {" three"});

  t = Lex("<!\n-\n- x -- y\nz");  // unclosed: runs to the end of the document
  ASSERT_EQ(t.size(), 1u);
  ExpectToken(t, 0, "TCommentToken", 0, 1, {"<!-- x -- y", "z"});

  t = Lex("<!---->");
  ExpectToken(t, 0, "TCommentToken", 0, 1, {"<!---->"});
}

TEST(HtmlLexer, ScriptTextCarriesTheLanguage) {
  auto t = Lex("<script language=Lang1>if (a<b) x();</script>z");
  ASSERT_EQ(t.size(), 4u);
  ExpectToken(t, 0, "THtmlTagToken", 0, 1, {"<script language=Lang1>"});
  ExpectToken(t, 1, "TScriptToken", 0, 24, {"if (a<b) x();"});
  EXPECT_EQ(t[1].language, "Lang1");
  ExpectToken(t, 2, "THtmlTagToken", 0, 37, {"</script>"});
  ExpectToken(t, 3, "TTextToken", 0, 46, {"z"});

  // References end script text too; the rest is script text again.
  t = Lex("<SCRIPT>a&lt;b\n</Script >");
  ASSERT_EQ(t.size(), 5u);
  ExpectToken(t, 1, "TScriptToken", 0, 9, {"a"});
  ExpectToken(t, 2, "TSpecialSymbolToken", 0, 10, {"&lt;"});
  ExpectToken(t, 3, "TScriptToken", 0, 14, {"b", ""});
  EXPECT_EQ(t[3].language, "");
  EXPECT_EQ(t[4].name, "/Script");
}

// The lexer hands finished token objects out again: nothing of one token
// may show in the next of its class.
TEST(HtmlLexer, TokensOfOneClassInARowShareNothing) {
  THtmlLexer lexer;
  TMemoryStream stream;
  stream.Write(std::string("<a href=x.html title=t><b>&amp;&#65;<script language=L1>s</script>"
                           "<script>u</script>"));
  stream.SetPosition(0);
  lexer.LoadFromStream(stream);
  std::vector<std::string> attributes;  // name=value lines of each tag, joined
  std::vector<std::string> languages;
  std::vector<std::string> entities;
  for (int guard = 0; lexer.Token() && guard < 100; ++guard, lexer.Next()) {
    if (const THtmlTagToken* tag = lexer.Token()->AsTag()) {
      std::string all;
      for (int i = 0; i < tag->AttributeCount(); ++i) all += tag->Attributes()[i] + ";";
      attributes.push_back(tag->Name() + ":" + all);
    } else if (auto* script = dynamic_cast<const TScriptToken*>(lexer.Token())) {
      languages.push_back(script->Language);
    } else if (auto* symbol = dynamic_cast<const TSpecialSymbolToken*>(lexer.Token())) {
      entities.push_back(symbol->EntityName + "/" + std::to_string(symbol->IsNumeric) + "/" +
                         std::to_string(symbol->Character));
    }
  }
  EXPECT_EQ(attributes, (std::vector<std::string>{"a:href=x.html;title=t;", "b:", "script:language=L1;",
                                                  "/script:", "script:", "/script:"}));
  EXPECT_EQ(languages, (std::vector<std::string>{"L1", ""}));
  EXPECT_EQ(entities, (std::vector<std::string>{"amp/0/38", "/1/65"}));
}

// A token handed out again takes exactly its own lines and attributes,
// whether the one before it of its class had more or fewer.
TEST(HtmlLexer, ReusedTokensTakeOnlyTheirOwnLines) {
  auto t = Lex("<a href=\"x\"\ntitle=\"t\" id=i>one\ntwo<b>&amp;x<!-- c\nd\ne -->"
               "<i>&lt;y<!--f-->z<!x\ny><!z>");
  ExpectToken(t, 0, "THtmlTagToken", 0, 1, {"<a href=\"x\"", "title=\"t\" id=i>"});
  ExpectToken(t, 1, "TTextToken", 1, 16, {"one", "two"});
  ExpectToken(t, 2, "THtmlTagToken", 2, 4, {"<b>"});
  ExpectToken(t, 3, "TSpecialSymbolToken", 2, 7, {"&amp;"});
  ExpectToken(t, 4, "TTextToken", 2, 12, {"x"});
  ExpectToken(t, 5, "TCommentToken", 2, 13, {"<!-- c", "d", "e -->"});
  ExpectToken(t, 6, "THtmlTagToken", 4, 6, {"<i>"});
  ExpectToken(t, 7, "TSpecialSymbolToken", 4, 9, {"&lt;"});
  ExpectToken(t, 8, "TTextToken", 4, 13, {"y"});
  ExpectToken(t, 9, "TCommentToken", 4, 14, {"<!--f-->"});
  ExpectToken(t, 10, "TTextToken", 4, 22, {"z"});
  ExpectToken(t, 11, "TSgmlToken", 4, 23, {"<!x", "y>"});
  ExpectToken(t, 12, "TSgmlToken", 5, 3, {"<!z>"});
  EXPECT_EQ(t.size(), 13u);

  THtmlLexer lexer;
  lexer.Lines().Add("<a href=x title=\"a title long enough to need memory\" id=i><b><p class=c>");
  lexer.Reset();
  std::vector<std::vector<std::string>> attributes;
  for (int guard = 0; lexer.Token() && guard < 10; ++guard, lexer.Next())
    attributes.push_back(lexer.Token()->AsTag()->Attributes().Lines());
  EXPECT_EQ(attributes, (std::vector<std::vector<std::string>>{
                            {"href=x", "title=a title long enough to need memory", "id=i"}, {}, {"class=c"}}));
}

TEST(HtmlLexer, RawTextEndsOnlyAtAClosingXmpOrScriptTag) {
  auto t = Lex("<script src=x.js></script><a href=y>");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[1].name, "/script");
  ExpectToken(t, 2, "THtmlTagToken", 0, 27, {"<a href=y>"});

  t = Lex("<xmp><b>bold</b></xmp>");
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].name, "xmp");
  EXPECT_EQ(t[1].name, "b");  // a "<" right at the cursor always starts a tag
  ExpectToken(t, 2, "TTextToken", 0, 9, {"bold</b>"});
  ExpectToken(t, 3, "THtmlTagToken", 0, 17, {"</xmp>"});

  t = Lex("<script><!-- if (a<b) --></script>");
  ASSERT_EQ(t.size(), 3u);
  ExpectToken(t, 1, "TCommentToken", 0, 9, {"<!-- if (a<b) -->"});

  // The closing tag may be spelt in any case, after blanks and line ends.
  t = Lex("<script>a</scripts>b<\n /SCRIPT\n>c");
  ASSERT_EQ(t.size(), 4u);
  ExpectToken(t, 1, "TScriptToken", 0, 9, {"a</scripts>b"});
  ExpectToken(t, 2, "THtmlTagToken", 0, 21, {"<", " /SCRIPT", ">"});
  ExpectToken(t, 3, "TTextToken", 2, 2, {"c"});
  t = Lex("<script>x< / script>y</script>");  // a tag named "/" closes nothing
  ASSERT_EQ(t.size(), 3u);
  ExpectToken(t, 1, "TScriptToken", 0, 9, {"x< / script>y"});

  // "</xmp>" inside a script ends raw text but not the script.
  t = Lex("<script>a</xmp>b<i>c");
  ASSERT_EQ(t.size(), 6u);
  ExpectToken(t, 1, "TScriptToken", 0, 9, {"a"});
  EXPECT_EQ(t[2].name, "/xmp");
  ExpectToken(t, 3, "TScriptToken", 0, 16, {"b"});
  EXPECT_EQ(t[4].name, "i");
  ExpectToken(t, 5, "TScriptToken", 0, 20, {"c"});

  // Many "<" and no ">" in a script: all one script text.
  std::string body;
  for (int i = 0; i < 2000; ++i) body += "a<b ";
  t = Lex("<script>" + body);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[1].text, std::vector<std::string>{body});
}

TEST(HtmlLexer, DocumentEndingInsideATagStartEndsTheStream) {
  for (const char* doc : {"ab<", "ab<!", "ab<!-", "ab<\n\n", "ab<!\n-"}) {
    SCOPED_TRACE(doc);
    auto t = Lex(doc);
    ASSERT_EQ(t.size(), 1u);
    ExpectToken(t, 0, "TTextToken", 0, 1, {"ab"});
  }
  auto t = Lex("ab<c");  // an unclosed tag runs to the end
  ASSERT_EQ(t.size(), 2u);
  ExpectToken(t, 1, "THtmlTagToken", 0, 3, {"<c"});
  EXPECT_EQ(t[1].name, "c");
  t = Lex("<a href=\"x>y\">");  // a ">" inside quotes ends the tag
  ASSERT_EQ(t.size(), 2u);
  ExpectToken(t, 0, "THtmlTagToken", 0, 1, {"<a href=\"x>"});
  ExpectToken(t, 1, "TTextToken", 0, 12, {"y\">"});
}

TEST(HtmlLexer, NulByteEndsTheDocument) {
  auto t = Lex(std::string("ab\0<a href=x>", 13));
  ASSERT_EQ(t.size(), 1u);
  ExpectToken(t, 0, "TTextToken", 0, 1, {"ab"});
  EXPECT_TRUE(Lex(std::string("\0abc", 4)).empty());
}

TEST(HtmlLexer, LoadingAndStates) {
  THtmlLexer lexer;
  TMemoryStream stream;
  stream.Write("xx<script>");
  stream.SetPosition(2);  // loads from the stream's position on
  lexer.LoadFromStream(stream);
  EXPECT_EQ(stream.Position(), stream.Size());
  ASSERT_NE(lexer.Token(), nullptr);
  EXPECT_EQ(Snapshot(*lexer.Token()).name, "script");
  lexer.Next();
  EXPECT_EQ(lexer.Token(), nullptr);
  EXPECT_TRUE(lexer.InScript());

  // Loading again restarts at the first line; the element flags carry over.
  stream.Clear();
  stream.Write("a<b>");
  stream.SetPosition(0);
  lexer.LoadFromStream(stream);
  auto t = LexAll(lexer);
  ASSERT_EQ(t.size(), 1u);
  ExpectToken(t, 0, "TScriptToken", 0, 1, {"a<b>"});

  try {
    lexer.PopState();
    FAIL() << "no failure";
  } catch (const EHtmlLexer& e) {
    EXPECT_STREQ(e.what(), "No states to Pop");
  }
  try {
    lexer.DiscardState();
    FAIL() << "no failure";
  } catch (const EHtmlLexer& e) {
    EXPECT_STREQ(e.what(), "No states to discard");
  }
  lexer.PushState();
  lexer.PushState();
  lexer.DiscardState();
  lexer.PopState();
  EXPECT_TRUE(lexer.States().IsEmpty());
  EXPECT_TRUE(lexer.LexTool().States().IsEmpty());
}

// A body read where it lies must lex exactly as its copy does, whatever its
// line ends, NULs and markup; and asking for its lines turns it into a copy
// from which reading goes on.
TEST(HtmlLexer, ReadingInPlaceLexesAsTheCopyDoes) {
  std::mt19937 random(20261209);
  const std::string pieces[] = {"<a href=\"x\">", "</a>", "<script language=js>", "</script>", "<xmp>",
                                "</xmp>", "<!-- c -->", "<!--", "-->", "<!x>", "&amp;", "&#65;", "&", "<",
                                ">", "text", " ", "\r\n", "\r", "\n", "\n\n", std::string(1, '\0')};
  auto same = [](const std::vector<Lexed>& a, const std::vector<Lexed>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i].kind != b[i].kind || a[i].line != b[i].line || a[i].col != b[i].col || a[i].text != b[i].text ||
          a[i].name != b[i].name || a[i].language != b[i].language || a[i].entity != b[i].entity ||
          a[i].character != b[i].character)
        return false;
    return true;
  };
  for (int round = 0; round < 2000; ++round) {
    std::string document;
    const int count = static_cast<int>(random() % 12);
    for (int i = 0; i < count; ++i) document += pieces[random() % (sizeof pieces / sizeof pieces[0])];
    THtmlLexer lexer;
    lexer.LoadInPlace(document.data(), document.size());
    ASSERT_TRUE(same(LexAll(lexer), Lex(document))) << "document: " << document;
  }

  const std::string document = "one<b>\r\ntwo &amp; <i>\rthree";
  THtmlLexer lexer;
  lexer.LoadInPlace(document.data(), document.size());
  lexer.Next();  // on the "<b>"
  EXPECT_EQ(lexer.Lines().Lines(), (std::vector<std::string>{"one<b>", "two &amp; <i>", "three"}));
  lexer.Lines().Add("<u>");
  std::vector<std::string> names;
  for (int guard = 0; lexer.Token() && guard < 20; ++guard, lexer.Next()) names.push_back(Snapshot(*lexer.Token()).name);
  EXPECT_EQ(names, (std::vector<std::string>{"b", "", "", "", "i", "", "u"}));

  // Loading a stream afterwards reads the stream, not the old text.
  TMemoryStream stream;
  stream.Write("<p>");
  stream.SetPosition(0);
  lexer.LoadFromStream(stream);
  ASSERT_NE(lexer.Token(), nullptr);
  EXPECT_EQ(Snapshot(*lexer.Token()).name, "p");
  lexer.LoadInPlace(nullptr, 0);
  EXPECT_EQ(lexer.Token(), nullptr);
}

TEST(HtmlLexer, LoadFromFile) {
  const std::string name = ::testing::TempDir() + "kestrel_html_lexer_test.html";
  FILE* f = fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs("<b>bold</b>", f);
  fclose(f);
  THtmlLexer lexer;
  lexer.LoadFromFile(name);
  auto t = LexAll(lexer);
  ASSERT_EQ(t.size(), 3u);
  ExpectToken(t, 1, "TTextToken", 0, 4, {"bold"});
  remove(name.c_str());
  EXPECT_THROW(lexer.LoadFromFile(name), EInOutError);
}

TEST(HtmlLexer, GetNextTokenHandsTheTokenToTheCaller) {
  THtmlLexer lexer;
  lexer.Lines().Add("a<b>");
  lexer.Reset();
  std::unique_ptr<TToken> next = lexer.GetNextToken();
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(Snapshot(*next).name, "b");
  EXPECT_EQ(Snapshot(*lexer.Token()).text, std::vector<std::string>{"a"});
}

// The closing-tag check inside raw text looks at the few characters after the
// "<"; it must agree with reading the whole tag there.
bool ReadingTheTagEndsRawText(const std::vector<std::string>& lines, size_t line, size_t col) {
  THtmlLexer lexer;
  lexer.Lines().Add(lines[line].substr(col - 1));
  for (size_t i = line + 1; i < lines.size(); ++i) lexer.Lines().Add(lines[i]);
  lexer.Reset();
  auto* tag = dynamic_cast<THtmlTagToken*>(lexer.Token());
  return tag && (tag->IsTag("/script") || tag->IsTag("/xmp"));
}

TEST(HtmlLexer, ClosingTagCheckAgreesWithReadingTheTag) {
  std::mt19937 random(20240611);
  const std::string pieces[] = {"<", "/", "script", "SCRIPT", "xmp", "Xm", "s", " ", "\t", "\n",
                                ">", "!", "-", "a", "=", "\"", "/script>", "\n\n", "</xmp"};
  int checked = 0, ending = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string text = "<";
    const int count = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < count; ++i) text += pieces[random() % (sizeof pieces / sizeof pieces[0])];
    TStringList lines;
    lines.SetText(text);
    for (size_t line = 0; line < lines.Lines().size(); ++line) {
      const std::string& s = lines.Lines()[line];
      for (size_t at = 0; at < s.size(); ++at) {
        if (s[at] != '<') continue;
        const bool expected = ReadingTheTagEndsRawText(lines.Lines(), line, at + 1);
        ASSERT_EQ(THtmlLexer::TagEndsRawText(lines, static_cast<int>(line), static_cast<int>(at + 1)),
                  expected)
            << "text: " << text << " line " << line << " col " << at + 1;
        ++checked;
        ending += expected;
      }
    }
  }
  EXPECT_GT(checked, 4000);
  EXPECT_GT(ending, 100);  // the check met closing tags often enough to matter
}

}  // namespace
