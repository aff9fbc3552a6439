#include "html/HtmlTagLexer.h"

#include "codecs/Exception.h"
#include "codecs/TextHelpers.h"
#include "html/CharSet.h"
#include "html/HtmlLexerError.h"
#include "html/LexTool.h"

#include <string>

namespace {

constexpr TCharSet Blanks("\t ");
constexpr TCharSet TagNameStop("\t >");
constexpr TCharSet AttributeNameStop("\t =>");
constexpr TCharSet UnquotedValueStop("\t >");

}  // namespace

THtmlTagPart THtmlTagLexer::GetPart(int index) const {
  if (index < 0 || index >= PartCount())
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
  return parts_[static_cast<size_t>(index)];
}

std::string_view THtmlTagLexer::TagName(const TStringList& lines, int startLine, int startCol) {
  if (lines.Empty()) return std::string_view();
  tool_.SetLines(&lines);
  tool_.SetLine(startLine);
  tool_.SetCol(startCol);
  if (!tool_.ExpectChar('<')) throw EHtmlLexer("HTML token should begin with <");
  SkipBlanks(false);
  // As in Tokenize: the name runs on its line up to a blank, a ">" or the
  // line end, and the part after it starts right there.
  char c;
  if (!tool_.PeekChar(c) || TagNameStop.Contains(c)) return std::string_view();
  const int line = tool_.Line();
  const int start = tool_.Col();
  tool_.SkipCharsNotIn(TagNameStop, true);
  return TextRange(lines[line], start, tool_.Col() - start);
}

void THtmlTagLexer::StartPart(THtmlTagPartKind kind) {
  current_.Kind = kind;
  current_.StartLine = tool_.Line();
  current_.StartCol = tool_.Col();
}

bool THtmlTagLexer::Tokenize(const TStringList& lines, int startLine, int startCol) {
  ClearParts();
  if (lines.Empty()) return false;
  parts_.reserve(16);  // room for an ordinary tag in one allocation
  tool_.SetLines(&lines);
  tool_.SetLine(startLine);
  tool_.SetCol(startCol);

  StartPart(httOpenTag);
  if (!tool_.ExpectChar('<')) throw EHtmlLexer("HTML token should begin with <");
  AddCurrentPart();
  SkipBlanks();

  bool result = false;
  char c;
  StartPart(httTagName);
  if (tool_.PeekChar(c) && !TagNameStop.Contains(c)) {
    tool_.SkipCharsNotIn(TagNameStop, true);
    AddCurrentPart();
    result = true;
    // Bounded by the tag's text: every pass that goes on has consumed at
    // least one character of an attribute name.
    while (!tool_.Eof()) {
      SkipBlanks();
      StartPart(httCloseTag);
      if (!tool_.PeekChar(c)) {
        result = false;
        break;
      }
      if (c == '>') {  // left unread: the close part ends where it starts
        AddCurrentPart();
        break;
      }
      StartPart(httAttributeName);
      std::string name;
      if (!tool_.ReadWord(name, AttributeNameStop, false)) break;
      if (name.empty()) {
        result = false;
        break;
      }
      AddCurrentPart();

      SkipBlanks();
      StartPart(httAttributeEqual);
      if (!tool_.ExpectChar('=')) continue;  // an attribute without a value
      AddCurrentPart();

      SkipBlanks();
      StartPart(httAttributeValue);
      if (tool_.PeekChar(c) && c == '"') {
        tool_.ExpectChar('"');
        tool_.SkipCharsNot('"', false);
        tool_.ExpectChar('"');  // absent when the text ends inside the quotes
      } else {
        tool_.SkipCharsNotIn(UnquotedValueStop, true);
      }
      AddCurrentPart();
    }
  }
  CloseRanges(lines);
  return result;
}

void THtmlTagLexer::SkipBlanks(bool addParts) {
  // Blanks and line ends alike: a run of blanks that ends a line does not end
  // the tag, its attributes go on on the next line. One part per run of
  // blanks and one per line end; bounded by the tag's text, since every pass
  // that goes on consumes a line end or at least one blank.
  for (;;) {
    if (tool_.Eof()) return;
    if (tool_.Eol()) {
      StartPart(httLineBreak);
      tool_.SkipEol();
      if (addParts) AddCurrentPart();
      continue;
    }
    char c;
    if (!tool_.PeekChar(c) || !Blanks.Contains(c)) return;
    StartPart(httWhiteSpace);
    tool_.SkipCharsIn(Blanks, true);
    if (addParts) AddCurrentPart();
  }
}

void THtmlTagLexer::CloseRanges(const TStringList& lines) {
  if (parts_.empty()) return;
  const int count = lines.Count();
  auto lineLength = [&lines, count](int line) {
    return line >= 0 && line < count ? static_cast<int>(lines[line].size()) : 0;
  };

  THtmlTagPart& last = parts_.back();
  if (tool_.Eof()) {
    last.EndLine = count - 1;
    last.EndCol = lineLength(count - 1);
  } else {
    last.EndLine = last.StartLine;
    last.EndCol = last.StartCol;
  }
  for (size_t i = 0; i + 1 < parts_.size(); ++i) {
    const THtmlTagPart& next = parts_[i + 1];
    parts_[i].EndLine = next.StartLine;
    parts_[i].EndCol = next.StartCol - 1;
    if (parts_[i].EndCol < 1) {
      parts_[i].EndLine = next.StartLine - 1;
      parts_[i].EndCol = lineLength(next.StartLine - 1);
    }
  }
}
