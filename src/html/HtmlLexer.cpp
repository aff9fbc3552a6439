#include "html/HtmlLexer.h"

#include "codecs/Entities.h"
#include "codecs/Exception.h"
#include "codecs/LineUtils.h"
#include "html/CharSet.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr TCharSet TextStop("&<");
constexpr TCharSet TagStop(">");
constexpr TCharSet CommentStop("-");

// The characters that can follow "&" in a reference DecodeEntity knows: "#"
// and the first letters of the entity names. After any other character the
// table need not be searched at all, which keeps text full of "&" (scripts
// with "&&") as cheap as any other text.
const TCharSet& ReferenceStarts() {
  static const TCharSet starts = [] {
    TCharSet set("#");
    for (const TEntityEntry& entry : EntityTable) set.Include(entry.name[0]);
    return set;
  }();
  return starts;
}

// text (length characters) equals the lower-case name, ignoring ASCII case.
bool SameAsciiName(const char* text, size_t length, const char* name) {
  if (strlen(name) != length) return false;
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != name[i]) return false;
  }
  return true;
}

}  // namespace

THtmlLexer::THtmlLexer(TComponent* owner) : TComponent(owner) { lexTool_.SetLines(&lines_); }

TStringList& THtmlLexer::Lines() {
  if (lexTool_.LineViews()) {
    lines_.Refill(views_.size(), [this](size_t i, std::string& line) { line.append(views_[i]); });
    ReadFromList();
  }
  return lines_;
}

void THtmlLexer::ReadFromList() {
  lexTool_.SetLines(&lines_);
  TLexTool::TLineViews().swap(views_);  // their memory goes with them
}

void THtmlLexer::LoadFromFile(const std::string& fileName) {
  FILE* file = fopen(fileName.c_str(), "rb");
  if (!file) throw EInOutError("Cannot open file " + fileName);
  std::vector<char> data;
  char buffer[65536];
  // Bounded by the file's size: every pass reads at least one byte or stops.
  for (;;) {
    size_t got = fread(buffer, 1, sizeof buffer, file);
    if (got == 0) break;
    data.insert(data.end(), buffer, buffer + got);
  }
  const bool failed = ferror(file) != 0;
  fclose(file);
  if (failed) throw EInOutError("Cannot read file " + fileName);
  LoadCopy(data.data(), data.size());
}

void THtmlLexer::LoadFromStream(TMemoryStream& stream) {
  const int64_t size = stream.Size();
  const int64_t position = stream.Position() < size ? stream.Position() : size;
  LoadCopy(stream.Memory() + position, static_cast<size_t>(size - position));
  stream.SetPosition(size);
}

void THtmlLexer::LoadCopy(const char* data, size_t length) {
  if (length == 0) lines_.SetText(std::string());  // an empty stream may have no memory at all
  else lines_.SetText(data, length);
  ReadFromList();
  Reset();
}

void THtmlLexer::LoadInPlace(const char* data, size_t length) {
  views_.clear();
  // Counted first: one allocation of the exact size, where doubling would
  // touch about twice the memory.
  size_t count = 0;
  ForEachTextLine(data, length, [&count](std::string_view) { ++count; });
  views_.reserve(count);
  ForEachTextLine(data, length, [this](std::string_view line) { views_.push_back(line); });
  lexTool_.SetLineViews(&views_);
  lines_.Clear();
  Reset();
}

void THtmlLexer::CopyRange(TStringList& dest, int startLine, int startCol, int endLine, int endCol) const {
  const int lastLine = endLine > startLine ? endLine : startLine;
  if (startLine < 0 || lastLine >= lexTool_.LineCount()) throw EHtmlLexer::Internal("line out of range");
  ExtractRangeOf([this](int line) { return lexTool_.LineText(line); }, dest, startLine, startCol, endLine,
                 endCol);
}

void THtmlLexer::Reset() {
  lexTool_.Reset();
  states_.Clear();
  Next();
}

void THtmlLexer::Next() {
  if (token_) KeepForReuse(std::move(token_));
  token_ = GetNextToken();
}

void THtmlLexer::KeepForReuse(std::unique_ptr<TToken> token) {
  std::unique_ptr<TToken>& slot = spare_[static_cast<int>(token->Kind())];
  if (!slot) slot = std::move(token);
}

template <class T>
std::unique_ptr<T> THtmlLexer::NewToken() {
  std::unique_ptr<TToken>& slot = spare_[static_cast<int>(T::ClassKind)];
  if (!slot) return std::make_unique<T>();
  slot->Recycle();
  return std::unique_ptr<T>(static_cast<T*>(slot.release()));
}

std::unique_ptr<TToken> THtmlLexer::GetNextToken() {
  if (lexTool_.Eof()) return nullptr;
  if (lexTool_.Eol()) return ReadText();
  char c = 0;
  lexTool_.PeekChar(c);
  if (c == '<') return ReadTag();
  if (c == '&') return ReadEntity();
  return ReadText();
}

std::unique_ptr<TToken> THtmlLexer::ReadTag() {
  // The class is decided by reading up to three characters ahead. Reading
  // changes no flag, so saving the cursor alone restores everything.
  const int line = lexTool_.Line();
  const int col = lexTool_.Col();
  auto restore = [this, line, col] {
    lexTool_.SetLine(line);
    lexTool_.SetCol(col);
  };
  if (!lexTool_.ExpectChar('<')) throw EHtmlLexer::Internal("< expected");

  // A document that ends first ends the token stream, with the cursor left
  // on the "<".
  enum class TKind { Tag, Comment, Sgml } kind = TKind::Tag;
  char c;
  if (!lexTool_.ReadChar(c)) {
    restore();
    return nullptr;
  }
  if (c == '!') {
    if (!lexTool_.ReadChar(c)) {
      restore();
      return nullptr;
    }
    kind = TKind::Sgml;
    if (c == '-') {
      if (!lexTool_.ReadChar(c)) {
        restore();
        return nullptr;
      }
      if (c == '-') kind = TKind::Comment;
    }
  }
  restore();

  std::unique_ptr<TToken> token;
  switch (kind) {
    case TKind::Tag: token = NewToken<THtmlTagToken>(); break;
    case TKind::Comment: token = NewToken<TCommentToken>(); break;
    case TKind::Sgml: token = NewToken<TSgmlToken>(); break;
  }
  token->Line = lexTool_.Line();
  token->Col = lexTool_.Col();

  // The whole reading lands in Text as one change; for a tag that change
  // runs the tag parse. A failure frees the half-read token unparsed.
  TStringList& text = token->Text();
  text.BeginUpdate();
  if (kind == TKind::Comment) {
    ReadComment(*token);
  } else {
    // Everything up to the first ">" and that ">" itself, one entry per
    // line; a ">" inside a quoted attribute value ends the tag like any other.
    const int startLine = lexTool_.Line();
    const int startCol = lexTool_.Col();
    lexTool_.SkipUntil(TagStop, false);
    lexTool_.ReadChar(c);  // the ">", unless the document ended first
    CopyRange(text, startLine, startCol, lexTool_.Line(), lexTool_.Col() - 1);
  }
  text.EndUpdate();

  if (const THtmlTagToken* tag = token->AsTag()) AdjustElementState(*tag);
  return token;
}

void THtmlLexer::AdjustElementState(const THtmlTagToken& tag) {
  if (tag.IsTag("xmp")) {
    rawText_ = true;
  } else if (tag.IsTag("script")) {
    rawText_ = true;
    inScript_ = true;
    scriptLanguage_ = tag.GetAttribute("language");
  } else if (tag.IsTag("/script")) {
    inScript_ = false;
    scriptLanguage_.clear();
    rawText_ = false;
  } else if (tag.IsTag("/xmp")) {
    rawText_ = false;
  }
}

void THtmlLexer::ReadComment(TToken& token) {
  if (!(lexTool_.ExpectChar('<') && lexTool_.ExpectChar('!') && lexTool_.ExpectChar('-') &&
        lexTool_.ExpectChar('-')))
    throw EHtmlLexer::Internal("<!-- expected");

  // Find the first "-->"; the line ends inside it are passed over. An
  // unclosed comment runs to the end of the document.
  const int bodyLine = lexTool_.Line();
  const int bodyCol = lexTool_.Col();
  bool closed = false;
  // Bounded by the text: every pass consumes at least one "-" or ends.
  while (!lexTool_.Eof()) {
    lexTool_.SkipUntil(CommentStop, false);
    if (lexTool_.Eof()) break;
    // Only characters are read ahead: saving the cursor restores everything.
    const int line = lexTool_.Line();
    const int col = lexTool_.Col();
    closed = lexTool_.ExpectChar('-') && lexTool_.ExpectChar('-') && lexTool_.ExpectChar('>');
    lexTool_.SetLine(line);
    lexTool_.SetCol(col);
    if (closed) break;
    char dash;
    lexTool_.ReadChar(dash);
  }

  // The body goes into Text in one piece: appending piece by piece would
  // copy the growing last line again at every "-". The opening "<!--" leads
  // its first line and the closing "-->" ends its last.
  TStringList& text = token.Text();
  CopyRange(text, bodyLine, bodyCol, lexTool_.Line(), lexTool_.Col() - 1);
  text.Put(0, "<!--" + text[0]);
  if (closed) {
    char c;
    lexTool_.ReadChar(c);
    lexTool_.ReadChar(c);
    lexTool_.ReadChar(c);
    const int last = text.Count() - 1;
    text.Put(last, text[last] + "-->");
  }
}

std::unique_ptr<TToken> THtmlLexer::ReadEntity() {
  const int line = lexTool_.Line();
  const int col = lexTool_.Col();
  const std::string_view source = lexTool_.LineText(line);
  const size_t next = static_cast<size_t>(col);  // 0-based index just after the "&"
  TDecodedEntity entity;
  if (next < source.size() && ReferenceStarts().Contains(source[next]))
    entity = DecodeEntity(source, col, referenceForm_);
  if (entity.found) {
    auto token = NewToken<TSpecialSymbolToken>();
    token->Line = line;
    token->Col = col;
    token->IsNumeric = entity.numeric;
    token->EntityName = entity.name;
    token->Character = static_cast<unsigned char>(entity.character);
    const std::string_view reference =
        std::string_view(source).substr(static_cast<size_t>(col - 1), static_cast<size_t>(entity.length));
    token->Text().Refill(1, [reference](size_t, std::string& line) { line.append(reference); });
    lexTool_.SetCol(col + entity.length);
    return token;
  }
  // A lone "&" is text of its own; its position is just after the "&".
  lexTool_.ExpectChar('&');
  auto token = NewToken<TTextToken>();
  token->Line = lexTool_.Line();
  token->Col = lexTool_.Col();
  token->Text().Refill(1, [](size_t, std::string& line) { line.push_back('&'); });
  return token;
}

std::unique_ptr<TToken> THtmlLexer::ReadText() {
  std::unique_ptr<TToken> token;
  if (inScript_) {
    auto script = NewToken<TScriptToken>();
    script->Language = scriptLanguage_;
    token = std::move(script);
  } else {
    token = NewToken<TTextToken>();
  }
  const int startLine = lexTool_.Line();
  const int startCol = lexTool_.Col();
  token->Line = startLine;
  token->Col = startCol;

  // Text ends at "&", at "<" outside raw text, and in raw text at the "<" of
  // a closing xmp or script tag. Bounded by the text: every pass that goes on
  // has consumed at least the "<".
  while (!lexTool_.Eof()) {
    lexTool_.SkipUntil(TextStop, false);
    char c;
    if (!lexTool_.PeekChar(c) || c == '&') break;
    if (rawText_) CheckRawTextEnd();
    if (!rawText_) break;  // the "<" begins the next token
    lexTool_.ReadChar(c);
  }

  // Everything read lands in Text in one piece: appending at every "<" of a
  // long raw-text line would copy that line again each time.
  TStringList& text = token->Text();
  text.BeginUpdate();
  CopyRange(text, startLine, startCol, lexTool_.Line(), lexTool_.Col() - 1);
  text.EndUpdate();
  return token;
}

void THtmlLexer::CheckRawTextEnd() {
  // Peeking the whole tag would read up to its ">", which lies at the end of
  // the document for a script full of "<" and no ">": the tag's name alone
  // decides, and it lies within a few characters of the "<".
  if (TagEndsRawText(lexTool_, lexTool_.Line(), lexTool_.Col())) rawText_ = false;
}

bool THtmlLexer::TagEndsRawText(const TStringList& lines, int line, int col) {
  TLexTool document;
  document.SetLines(&lines);
  return TagEndsRawText(document, line, col);
}

bool THtmlLexer::TagEndsRawText(const TLexTool& document, int line, int col) {
  if (line < 0 || col < 1) return false;
  size_t row = static_cast<size_t>(line);
  size_t at = static_cast<size_t>(col);  // 0-based index just after the "<"
  // The tag lexer passes over blanks and line ends before the name. Bounded
  // by the document: every pass moves one character or one line on.
  for (;;) {
    if (row >= static_cast<size_t>(document.LineCount())) return false;
    const std::string_view s = document.LineText(static_cast<int>(row));
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t')) ++at;
    if (at < s.size()) break;
    ++row;
    at = 0;
  }
  // The name runs to a blank, a ">" or the line end; "/script" is the
  // longest that matters, so eight characters settle it.
  const std::string_view s = document.LineText(static_cast<int>(row));
  const size_t start = at;
  while (at < s.size() && at - start < 8 && s[at] != ' ' && s[at] != '\t' && s[at] != '>') ++at;
  const size_t length = at - start;
  if (length == 8) return false;
  const char* name = s.data() + start;
  return SameAsciiName(name, length, "/xmp") || SameAsciiName(name, length, "/script");
}

void THtmlLexer::PushState() {
  PushOwned(states_, new TState(rawText_, inScript_, scriptLanguage_));
  lexTool_.PushState();
}

void THtmlLexer::PopState() {
  if (states_.IsEmpty()) throw EHtmlLexer("No states to Pop");
  const auto* state = static_cast<const TState*>(states_.Top());
  rawText_ = state->RawText;
  inScript_ = state->InScript;
  scriptLanguage_ = state->ScriptLanguage;
  states_.Pop();
  lexTool_.PopState();
}

void THtmlLexer::DiscardState() {
  if (states_.IsEmpty()) throw EHtmlLexer("No states to discard");
  states_.Pop();
  lexTool_.DiscardState();
}
