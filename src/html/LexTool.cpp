#include "html/LexTool.h"

#include <utility>
#include <vector>

namespace {

// Upper-case form of every code under the platform's case-insensitive
// comparison, so that comparing one character costs one table look-up.
struct TCharFold {
  unsigned char upper[256];
  TCharFold() {
    for (int c = 0; c < 256; ++c)
      upper[c] = static_cast<unsigned char>(AnsiUpperCase(std::string(1, static_cast<char>(c)))[0]);
  }
};

const TCharFold& CharFold() {
  static const TCharFold fold;
  return fold;
}

}  // namespace

TLexTool::TLexTool(TComponent* owner) : TComponent(owner), fold_(CharFold().upper) { Home(); }

void TLexTool::Home() {
  line_ = 0;
  col_ = 1;
}

void TLexTool::NextLine() {
  ++line_;
  col_ = 1;
}

void TLexTool::SkipToChar() {
  // Bounded by the number of lines: every pass moves one line down.
  while (!Eof() && Eol()) NextLine();
}

bool TLexTool::SkipEol() {
  if (!Eol()) return false;
  NextLine();
  return true;
}

bool TLexTool::ReadCharAfterLineEnds(char& c) {
  const int line = line_, col = col_;
  SkipToChar();
  if (Eof()) {
    line_ = line;
    col_ = col;
    return false;
  }
  c = CurrentLine()[static_cast<size_t>(col_ - 1)];
  ++col_;
  return true;
}

template <class Match>
bool TLexTool::ExpectMatching(Match match) {
  const int line = line_, col = col_;
  char read;
  if (ReadChar(read) && match(read)) return true;
  line_ = line;
  col_ = col;
  return false;
}

template <class Match>
bool TLexTool::SkipMatching(Match match, bool stopAtEol) {
  // Bounded by the text: every pass consumes the rest of a run on one line,
  // or one character after a line end, or stops.
  for (;;) {
    // Within the current line a run needs no saving and restoring.
    if (line_ < LineCount()) {
      const std::string_view line = CurrentLine();
      size_t at = static_cast<size_t>(col_ - 1);
      if (at < line.size()) {
        while (at < line.size() && match(line[at])) ++at;
        col_ = static_cast<int>(at) + 1;
        if (at < line.size()) return false;  // on a character that does not match
      }
    }
    if (stopAtEol && Eol()) return true;
    if (!ExpectMatching(match)) return false;
  }
}

bool TLexTool::ExpectChar(char c) {
  return ExpectMatching([this, c](char read) { return SameChar(read, c); });
}

bool TLexTool::ExpectNotChar(char c) {
  return ExpectMatching([this, c](char read) { return !SameChar(read, c); });
}

bool TLexTool::ExpectCharIn(const TCharSet& set) {
  return ExpectMatching([&set](char read) { return set.Contains(read); });
}

bool TLexTool::ExpectCharNotIn(const TCharSet& set) {
  return ExpectMatching([&set](char read) { return !set.Contains(read); });
}

bool TLexTool::SkipCharsIn(const TCharSet& set, bool stopAtEol) {
  return SkipMatching([&set](char read) { return set.Contains(read); }, stopAtEol);
}

bool TLexTool::SkipCharsNot(char c, bool stopAtEol) {
  return SkipMatching([this, c](char read) { return !SameChar(read, c); }, stopAtEol);
}

bool TLexTool::SkipCharsNotIn(const TCharSet& set, bool stopAtEol) {
  return SkipMatching([&set](char read) { return !set.Contains(read); }, stopAtEol);
}

bool TLexTool::ReadUntil(TStringList& dest, const TCharSet& stops, bool stopAtEol) {
  if (Eof()) return false;
  // The pieces are gathered first: dest may even be the document itself.
  std::vector<std::string> pieces;
  std::string piece;
  // Bounded by the text: every pass either consumes the rest of a line up to
  // a stop character or moves one line down.
  for (;;) {
    if (Eof() || (stopAtEol && Eol())) break;
    const std::string_view line = CurrentLine();
    const size_t length = line.size();
    if (static_cast<size_t>(col_) > length) {
      pieces.push_back(std::move(piece));
      piece.clear();
      NextLine();
      continue;
    }
    const size_t start = static_cast<size_t>(col_ - 1);
    size_t stop = start;
    while (stop < length && !stops.Contains(line[stop])) ++stop;
    piece.append(line.substr(start, stop - start));
    col_ = static_cast<int>(stop) + 1;
    if (stop < length) break;  // on a stop character, which stays unread
  }
  pieces.push_back(std::move(piece));

  dest.BeginUpdate();
  try {
    dest.Clear();
    for (std::string& p : pieces) dest.Add(std::move(p));
  } catch (...) {
    dest.EndUpdate();
    throw;
  }
  dest.EndUpdate();
  return true;
}

bool TLexTool::SkipUntil(const TCharSet& stops, bool stopAtEol) {
  if (Eof()) return false;
  // Bounded by the text, as in ReadUntil.
  for (;;) {
    if (Eof() || (stopAtEol && Eol())) return true;
    const std::string_view line = CurrentLine();
    const size_t length = line.size();
    if (static_cast<size_t>(col_) > length) {
      NextLine();
      continue;
    }
    size_t stop = static_cast<size_t>(col_ - 1);
    while (stop < length && !stops.Contains(line[stop])) ++stop;
    col_ = static_cast<int>(stop) + 1;
    if (stop < length) return true;
  }
}

bool TLexTool::ReadWord(std::string& word, const TCharSet& stops, bool upperCase) {
  word.clear();
  if (Eof()) return false;
  if (!Eol()) {
    const std::string_view line = CurrentLine();
    const size_t start = static_cast<size_t>(col_ - 1);
    size_t stop = start;
    while (stop < line.size() && !stops.Contains(line[stop])) ++stop;
    word.append(line.substr(start, stop - start));
    col_ = static_cast<int>(stop) + 1;
  }
  if (upperCase) word = AnsiUpperCase(word);
  return true;
}

void TLexTool::PushState() {
  PushOwned(states_, new TState(line_, col_, caseSensitive_));
}

void TLexTool::PopState() {
  if (states_.IsEmpty()) throw ELexTool("No states to pop");
  const auto* state = static_cast<const TState*>(states_.Top());
  line_ = state->Line;
  col_ = state->Col;
  caseSensitive_ = state->CaseSensitive;
  states_.Pop();
}

void TLexTool::DiscardState() {
  if (states_.IsEmpty()) throw ELexTool("No states to discard");
  states_.Pop();
}
