// THtmlTagLexer: splits the text of one tag into parts: the opening sign, the
// tag name, blanks and line ends, attribute names, equals signs, attribute
// values and the closing sign. Purely lexical; it never reads beyond the
// tag's lines.
//
// A part's end is inclusive and derived from where the next part starts; a
// part whose end lies before its start covers nothing.
#pragma once

#include "codecs/StringList.h"
#include "html/LexTool.h"
#include "html/Persistent.h"

#include <cstdint>
#include <string_view>
#include <vector>

enum THtmlTagPartKind : uint8_t {
  httOpenTag,         // the "<" that starts the tag
  httCloseTag,        // the ">" that ends the tag
  httTagName,         // the tag name
  httAttributeName,   // one attribute name
  httAttributeValue,  // one attribute value, with its quotes when quoted
  httAttributeEqual,  // the "=" after an attribute name
  httWhiteSpace,      // a run of blanks on one line
  httLineBreak,       // a line end inside the tag
};

struct THtmlTagPart {
  THtmlTagPartKind Kind = httOpenTag;
  int StartLine = 0;  // 0-based index into the tag's lines
  int StartCol = 1;   // 1-based
  int EndLine = 0;
  int EndCol = 0;

  bool CoversNothing() const {
    return EndLine < StartLine || (EndLine == StartLine && EndCol < StartCol);
  }
};

class THtmlTagLexer : public TComponent {
public:
  explicit THtmlTagLexer(TComponent* owner = nullptr) : TComponent(owner) {}

  // Fills Parts from the tag starting at (startLine, startCol). False when the
  // list is empty, when no tag name follows the "<" and its blanks, when the
  // text runs out where a ">" or an attribute could follow, or when an
  // attribute name would be empty (a "=" with no name before it).
  // Raises EHtmlLexer "HTML token should begin with <" (Parts empty then).
  bool Tokenize(const TStringList& lines, int startLine, int startCol);

  // The tag's name alone, as Tokenize finds it, without splitting the rest
  // of the tag: a view of lines, empty when no name follows the "<" and its
  // blanks. Leaves Parts as they were. Raises EHtmlLexer "HTML token should
  // begin with <" as Tokenize does.
  std::string_view TagName(const TStringList& lines, int startLine, int startCol);

  int PartCount() const { return static_cast<int>(parts_.size()); }
  // Raises Exception "List index out of bounds (<index>)" outside the list.
  THtmlTagPart GetPart(int index) const;
  const std::vector<THtmlTagPart>& Parts() const { return parts_; }
  void AddPart(const THtmlTagPart& part) { parts_.push_back(part); }
  void ClearParts() { parts_.clear(); }

  const char* ClassName() const override { return "THtmlTagLexer"; }

private:
  void StartPart(THtmlTagPartKind kind);
  void AddCurrentPart() { AddPart(current_); }
  // Passes over blanks and line ends, adding a part for each run when asked.
  void SkipBlanks(bool addParts = true);
  void CloseRanges(const TStringList& lines);

  TLexTool tool_;  // the cursor of Tokenize, kept from tag to tag
  THtmlTagPart current_;
  std::vector<THtmlTagPart> parts_;
};
