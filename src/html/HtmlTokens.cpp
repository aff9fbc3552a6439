#include "html/HtmlTokens.h"

#include "codecs/LineUtils.h"
#include "codecs/TextHelpers.h"
#include "html/HtmlLexerError.h"

#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// The characters of line StartLine from StartCol to EndCol.
std::string PartOfLine(const TStringList& lines, const THtmlTagPart& part) {
  if (part.CoversNothing()) return std::string();
  return CopyText(lines[part.StartLine], part.StartCol,
                  static_cast<long long>(part.EndCol) - part.StartCol + 1);
}

// The lines the part covers, joined with one space in place of each line end.
std::string PartText(const TStringList& lines, const THtmlTagPart& part) {
  if (part.CoversNothing()) return std::string();
  if (part.EndLine == part.StartLine) return PartOfLine(lines, part);
  TStringList range;
  ExtractRange(lines, range, part.StartLine, part.StartCol, part.EndLine, part.EndCol);
  return JoinLines(range, " ");
}

bool SameAsciiText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

// Builds a name=value list with the list's own rules (case-insensitive names,
// replacement in place, an empty value deletes) in time linear in the number
// of attributes, however many a tag carries: a look-up index by upper-cased
// name is kept once the list grows past a handful of entries.
class TAttributeBuilder {
public:
  // Empties the builder, keeping its memory for the next tag.
  void Clear() {
    entries_.clear();
    index_.clear();
    indexed_ = false;
  }

  void Store(const std::string& name, std::string value) {
    const long found = Find(name);
    if (!value.empty()) {
      if (found >= 0) {
        entries_[static_cast<size_t>(found)].name = name;
        entries_[static_cast<size_t>(found)].value = std::move(value);
        return;
      }
      entries_.push_back({name, std::move(value), true});
      if (indexed_) index_[AnsiUpperCase(name)] = entries_.size() - 1;
      else if (entries_.size() > LinearLimit) BuildIndex();
    } else if (found >= 0) {
      entries_[static_cast<size_t>(found)].live = false;
      if (indexed_) index_.erase(AnsiUpperCase(name));
    }
  }

  void WriteTo(TStringList& list) const {
    list.BeginUpdate();
    try {
      list.Clear();
      for (const Entry& e : entries_) {
        if (!e.live) continue;
        std::string line;
        line.reserve(e.name.size() + 1 + e.value.size());
        line.append(e.name).append(1, '=').append(e.value);
        list.Add(std::move(line));
      }
    } catch (...) {
      list.EndUpdate();
      throw;
    }
    list.EndUpdate();
  }

private:
  struct Entry {
    std::string name;
    std::string value;
    bool live;
  };
  static constexpr size_t LinearLimit = 16;

  long Find(const std::string& name) const {
    if (indexed_) {
      auto it = index_.find(AnsiUpperCase(name));
      return it == index_.end() ? -1 : static_cast<long>(it->second);
    }
    for (size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].live && AnsiSameText(entries_[i].name, name)) return static_cast<long>(i);
    return -1;
  }

  void BuildIndex() {
    indexed_ = true;
    for (size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].live) index_[AnsiUpperCase(entries_[i].name)] = i;
  }

  std::vector<Entry> entries_;
  std::unordered_map<std::string, size_t> index_;
  bool indexed_ = false;
};

// ---- TToken

TToken::TToken() {
  text_.OnChange = [this](TStringList*) { TextChanged(); };
}

void TToken::TextChanged() {
  if (textUpdates_ == 0) Parse();
}

void TToken::Recycle() {
  Line = 0;
  Col = 0;
  // Cleared under a raised count: the change must not run Parse.
  textUpdates_ = 1;
  text_.Clear();
  textUpdates_ = 0;
}

void TToken::EndTextUpdate() {
  if (textUpdates_ <= 0) return;  // an unmatched end changes nothing
  if (--textUpdates_ == 0) Parse();
}

void TToken::Assign(const TPersistent* source) {
  auto* token = dynamic_cast<const TToken*>(source);
  if (!token) {
    TPersistent::Assign(source);
    return;
  }
  if (token == this) return;
  Line = token->Line;
  Col = token->Col;
  text_.Assign(token->text_);
}

// ---- THtmlTagToken

THtmlTagToken::THtmlTagToken() = default;
THtmlTagToken::~THtmlTagToken() = default;

void THtmlTagToken::Recycle() {
  TToken::Recycle();
  name_.clear();
  attributes_.Clear();
  textValid_ = false;
  tagLexer_.ClearParts();
}

bool THtmlTagToken::IsTag(const std::string& text) const { return SameAsciiText(name_, text); }

const TStringList& THtmlTagToken::GetText() {
  if (!textValid_) RebuildText();
  return Text();
}

void THtmlTagToken::RebuildText() {
  std::string line = "<" + name_;
  for (int i = 0; i < attributes_.Count(); ++i)
    line += " " + attributes_.Names(i) + "=\"" + attributes_.ValueFromIndex(i) + "\"";
  line += ">";
  BeginTextUpdate();
  try {
    Text().Clear();
    Text().Add(line);
  } catch (...) {
    EndTextUpdate();
    throw;
  }
  EndTextUpdate();
}

void THtmlTagToken::Parse() {
  name_.clear();
  attributes_.Clear();
  const TStringList& lines = Text();
  tagLexer_.Tokenize(lines, 0, 1);  // a short or unclosed tag still gives what it has

  // Kept by the token: a lexer reuses its tokens, and with them this memory.
  if (!builder_) builder_ = std::make_unique<TAttributeBuilder>();
  TAttributeBuilder& attributes = *builder_;
  attributes.Clear();
  std::string pendingName;
  try {
    const int count = tagLexer_.PartCount();
    for (int i = 0; i < count; ++i) {
      const THtmlTagPart part = tagLexer_.GetPart(i);
      switch (part.Kind) {
        case httOpenTag:
          if (i != 0) throw EHtmlLexer("Unexpecteed httOpenTag");
          break;
        case httCloseTag:
          if (i != count - 1) throw EHtmlLexer("Unexpecteed httCloseTag");
          break;
        case httTagName:
          name_ = PartOfLine(lines, part);
          break;
        case httAttributeName:
          // A name without a value removes any earlier entry of that name.
          if (!pendingName.empty()) attributes.Store(pendingName, std::string());
          pendingName = PartOfLine(lines, part);
          break;
        case httAttributeValue: {
          if (pendingName.empty()) throw EHtmlLexer("Unexpected httAttributeValue");
          std::string value = PartText(lines, part);
          if (!value.empty() && value[0] == '"') {
            value.erase(0, 1);
            if (!value.empty() && value.back() == '"') value.pop_back();
          }
          attributes.Store(pendingName, std::move(value));
          pendingName.clear();
          break;
        }
        case httAttributeEqual:
          if (pendingName.empty()) throw EHtmlLexer("Unexpected httAttributeEqual");
          break;
        case httWhiteSpace:
        case httLineBreak:
          break;
      }
    }
    if (!pendingName.empty()) attributes.Store(pendingName, std::string());
  } catch (...) {
    attributes.WriteTo(attributes_);  // what was built so far
    throw;
  }
  attributes.WriteTo(attributes_);
  textValid_ = true;
}

// ---- TSpecialSymbolToken, TScriptToken

void TSpecialSymbolToken::Recycle() {
  TTextToken::Recycle();
  IsNumeric = false;
  EntityName.clear();
  Character = 0;
}

void TScriptToken::Recycle() {
  TToken::Recycle();
  Language.clear();
}

void TSpecialSymbolToken::Assign(const TPersistent* source) {
  if (auto* symbol = dynamic_cast<const TSpecialSymbolToken*>(source)) {
    IsNumeric = symbol->IsNumeric;
    EntityName = symbol->EntityName;
    Character = symbol->Character;
  }
  TTextToken::Assign(source);
}

void TScriptToken::Assign(const TPersistent* source) {
  if (auto* script = dynamic_cast<const TScriptToken*>(source)) Language = script->Language;
  TToken::Assign(source);
}
