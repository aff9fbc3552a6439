// TLexTool: a reading cursor over a document held as a list of text lines.
//
// Conventions of this file:
// - Line is a 0-based index into Lines, Col the 1-based column of the next
//   character. A column past the line's length stands at the line end.
// - Line ends are not characters. Reading, peeking and the expect operations
//   pass over them (and over empty lines); the operations with a stopAtEol
//   flag can stop at them instead.
// - A failed match moves nothing: the cursor is where it was before the call.
#pragma once

#include "codecs/Exception.h"
#include "codecs/StringList.h"
#include "html/CharSet.h"
#include "html/Containers.h"

#include <string>
#include <string_view>
#include <vector>

// Every message is "TLexTool : " followed by the detail text.
class ELexTool : public Exception {
public:
  explicit ELexTool(const std::string& detail) : Exception("TLexTool : " + detail) {}
};

class TLexTool : public TComponent {
public:
  // A saved cursor.
  class TState : public TObject {
  public:
    TState(int line, int col, bool caseSensitive)
        : Line(line), Col(col), CaseSensitive(caseSensitive) {}
    int Line;
    int Col;
    bool CaseSensitive;
    const char* ClassName() const override { return "TState"; }
  };

  // The cursor starts at line 0, column 1, with no saved states.
  explicit TLexTool(TComponent* owner = nullptr);

  // A document held elsewhere, one view per line: a body read in place.
  using TLineViews = std::vector<std::string_view>;

  // The document, either a list or line views; not owned. Setting one
  // forgets the other. Null reads as an empty document.
  const TStringList* Lines() const { return lines_; }
  void SetLines(const TStringList* lines) {
    lines_ = lines;
    views_ = nullptr;
  }
  const TLineViews* LineViews() const { return views_; }
  void SetLineViews(const TLineViews* views) {
    views_ = views;
    lines_ = nullptr;
  }
  int LineCount() const {
    if (views_) return static_cast<int>(views_->size());
    return lines_ ? lines_->Count() : 0;
  }
  // Line index of the document, 0 <= index < LineCount().
  std::string_view LineText(int index) const {
    const size_t at = static_cast<size_t>(index);
    return views_ ? (*views_)[at] : std::string_view(lines_->Lines()[at]);
  }

  int Line() const { return line_; }
  int Col() const { return col_; }
  // A line below 0 counts as 0 and a column below 1 as 1.
  void SetLine(int line) { line_ = line < 0 ? 0 : line; }
  void SetCol(int col) { col_ = col < 1 ? 1 : col; }
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool value) { caseSensitive_ = value; }
  const TStack& States() const { return states_; }

  // At or beyond the last line's end; an empty document is always at Eof.
  bool Eof() const {
    const int count = LineCount();
    if (line_ >= count) return true;
    return line_ == count - 1 && col_ > static_cast<int>(CurrentLine().size());
  }
  // At Eof or past the current line's last character.
  bool Eol() const { return Eof() || col_ > static_cast<int>(CurrentLine().size()); }

  void Home();
  void Reset() { Home(); }
  void NextLine();
  // Passes over line ends and empty lines up to the next character, if any.
  void SkipToChar();
  // At a line end: moves to the next line and returns true.
  bool SkipEol();

  bool ReadChar(char& c) {
    // Inside a line nothing needs passing over or restoring.
    if (line_ < LineCount()) {
      const std::string_view line = CurrentLine();
      if (static_cast<size_t>(col_) <= line.size()) {
        c = line[static_cast<size_t>(col_ - 1)];
        ++col_;
        return true;
      }
    }
    return ReadCharAfterLineEnds(c);
  }
  bool PeekChar(char& c) {
    const int line = line_, col = col_;
    const bool read = ReadChar(c);
    line_ = line;
    col_ = col;
    return read;
  }
  // Equal characters; without CaseSensitive also the same letter in either case.
  // Inline: skipping a quoted value compares every character of it.
  bool SameChar(char a, char b) const {
    return a == b ||
           (!caseSensitive_ && fold_[static_cast<unsigned char>(a)] == fold_[static_cast<unsigned char>(b)]);
  }
  bool ExpectChar(char c);
  bool ExpectNotChar(char c);
  bool ExpectCharIn(const TCharSet& set);
  bool ExpectCharNotIn(const TCharSet& set);

  // Skip a run of matching characters. With stopAtEol the run stops at the
  // line end (result true); otherwise it goes on across line ends. The result
  // is false when the run ended at a character that does not match or at Eof.
  bool SkipCharsIn(const TCharSet& set, bool stopAtEol);
  bool SkipCharsNot(char c, bool stopAtEol);
  bool SkipCharsNotIn(const TCharSet& set, bool stopAtEol);

  // Reads up to (not including) the first stop character, or the line end
  // with stopAtEol, or Eof, into dest: one entry per line touched, the last
  // one added even when empty. False at Eof, dest untouched then.
  bool ReadUntil(TStringList& dest, const TCharSet& stops, bool stopAtEol);
  // Moves exactly as ReadUntil does, without collecting what it passes.
  bool SkipUntil(const TCharSet& stops, bool stopAtEol);
  // The characters up to the first stop character or the line end; empty at
  // either. False (word empty) at Eof.
  bool ReadWord(std::string& word, const TCharSet& stops, bool upperCase);

  // Save and restore the cursor (with CaseSensitive). Popping or discarding
  // with nothing saved raises ELexTool "No states to pop" / "No states to discard".
  void PushState();
  void PopState();
  void DiscardState();

  const char* ClassName() const override { return "TLexTool"; }

private:
  bool ReadCharAfterLineEnds(char& c);
  // The expect and skip operations differ only in the character they accept.
  template <class Match>
  bool ExpectMatching(Match match);
  template <class Match>
  bool SkipMatching(Match match, bool stopAtEol);
  std::string_view CurrentLine() const { return LineText(line_); }

  const TStringList* lines_ = nullptr;
  const TLineViews* views_ = nullptr;
  const unsigned char* fold_;  // the upper-case form of every code, shared by all tools
  TStack states_;
  int line_ = 0;
  int col_ = 1;
  bool caseSensitive_ = false;
};
