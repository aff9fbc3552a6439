#include "html/HtmlTokens.h"

#include "codecs/LineUtils.h"
#include "codecs/TextHelpers.h"
#include "html/HtmlLexerError.h"

#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// The characters of line StartLine from StartCol to EndCol.
std::string_view PartOfLine(const TStringList& lines, const THtmlTagPart& part) {
  if (part.CoversNothing()) return std::string_view();
  return TextRange(lines[part.StartLine], part.StartCol,
                   static_cast<long long>(part.EndCol) - part.StartCol + 1);
}

bool SameAsciiText(std::string_view a, std::string_view b) {
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
//
// Names and values are views of the tag's text, which stays as it is while
// the tag is parsed: nothing is copied until WriteTo builds the lines. The
// builder keeps its memory from tag to tag.
class TAttributeBuilder {
public:
  void Clear() {
    used_ = 0;
    joinedUsed_ = 0;
    if (indexed_) index_.clear();
    indexed_ = false;
  }

  // The text of a part that spans lines, joined with one space in place of
  // each line end; valid until Clear.
  std::string_view Join(const TStringList& lines, const THtmlTagPart& part) {
    if (joinedUsed_ == joined_.size()) joined_.emplace_back();
    std::string& joined = joined_[joinedUsed_++];
    TStringList range;
    ExtractRange(lines, range, part.StartLine, part.StartCol, part.EndLine, part.EndCol);
    joined = JoinLines(range, " ");
    return joined;
  }

  void Store(std::string_view name, std::string_view value) {
    const long found = Find(name);
    if (!value.empty()) {
      if (found >= 0) {
        entries_[static_cast<size_t>(found)].name = name;
        entries_[static_cast<size_t>(found)].value = value;
        return;
      }
      if (used_ == entries_.size()) entries_.emplace_back();
      entries_[used_++] = {name, value, true};
      if (indexed_) index_[AnsiUpperCase(std::string(name))] = used_ - 1;
      else if (used_ > LinearLimit) BuildIndex();
    } else if (found >= 0) {
      entries_[static_cast<size_t>(found)].live = false;
      if (indexed_) index_.erase(AnsiUpperCase(std::string(name)));
    }
  }

  void WriteTo(TStringList& list) const {
    size_t live = 0;
    for (size_t i = 0; i < used_; ++i)
      if (entries_[i].live) ++live;
    size_t next = 0;
    list.Refill(live, [this, &next](size_t, std::string& line) {
      while (!entries_[next].live) ++next;
      const Entry& e = entries_[next++];
      line.reserve(e.name.size() + 1 + e.value.size());
      line.append(e.name).append(1, '=').append(e.value);
    });
  }

private:
  struct Entry {
    std::string_view name;
    std::string_view value;
    bool live = false;
  };
  static constexpr size_t LinearLimit = 16;

  long Find(std::string_view name) const {
    if (indexed_) {
      auto it = index_.find(AnsiUpperCase(std::string(name)));
      return it == index_.end() ? -1 : static_cast<long>(it->second);
    }
    for (size_t i = 0; i < used_; ++i)
      if (entries_[i].live && AnsiSameText(entries_[i].name, name)) return static_cast<long>(i);
    return -1;
  }

  void BuildIndex() {
    indexed_ = true;
    for (size_t i = 0; i < used_; ++i)
      if (entries_[i].live) index_[AnsiUpperCase(std::string(entries_[i].name))] = i;
  }

  std::vector<Entry> entries_;  // the first used_ of them belong to this tag
  size_t used_ = 0;
  // Joined values: a deque, so that growing it moves none of the strings
  // that entries view.
  std::deque<std::string> joined_;
  size_t joinedUsed_ = 0;
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

THtmlTagToken::THtmlTagToken() : builder_(std::make_unique<TAttributeBuilder>()) {}
THtmlTagToken::~THtmlTagToken() = default;

void THtmlTagToken::Recycle() {
  TToken::Recycle();
  name_.clear();
  textValid_ = false;
  tagLexer_.ClearParts();
}

bool THtmlTagToken::IsTag(std::string_view text) const { return SameAsciiText(name_, text); }

std::string_view THtmlTagToken::AttributeText(const std::string& name) const {
  const int index = ReadAttributes().IndexOfName(name);
  if (index < 0) return std::string_view();
  const std::string& line = attributes_[index];
  return std::string_view(line).substr(name.size() + 1);  // the name matched up to its "="
}

const TStringList& THtmlTagToken::GetText() {
  if (!textValid_) RebuildText();
  return Text();
}

void THtmlTagToken::RebuildText() {
  ReadAttributes();
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
  try {
    name_.append(tagLexer_.TagName(Text(), 0, 1));
  } catch (...) {
    // No tag at all: nothing of it is listed.
    tagLexer_.ClearParts();
    attributes_.Clear();
    attributesRead_ = true;
    throw;
  }
  attributesRead_ = false;
  textValid_ = true;
}

void THtmlTagToken::ParseAttributes() const {
  attributesRead_ = true;  // once, even when it fails
  TAttributeBuilder& attributes = *builder_;
  attributes.Clear();
  const TStringList& lines = Text();
  std::string_view pendingName;  // an attribute name waiting for its value
  // Attributes always receive what was built, so far when something fails.
  try {
    tagLexer_.Tokenize(lines, 0, 1);  // a short or unclosed tag still gives what it has
    const std::vector<THtmlTagPart>& parts = tagLexer_.Parts();
    const size_t count = parts.size();
    for (size_t i = 0; i < count; ++i) {
      const THtmlTagPart& part = parts[i];
      switch (part.Kind) {
        case httOpenTag:
          if (i != 0) throw EHtmlLexer("Unexpecteed httOpenTag");
          break;
        case httCloseTag:
          if (i != count - 1) throw EHtmlLexer("Unexpecteed httCloseTag");
          break;
        case httTagName:  // read by Parse already
          break;
        case httAttributeName:
          // A name without a value removes any earlier entry of that name.
          if (!pendingName.empty()) attributes.Store(pendingName, std::string_view());
          pendingName = PartOfLine(lines, part);
          break;
        case httAttributeValue: {
          if (pendingName.empty()) throw EHtmlLexer("Unexpected httAttributeValue");
          std::string_view value = part.CoversNothing() || part.EndLine == part.StartLine
                                       ? PartOfLine(lines, part)
                                       : attributes.Join(lines, part);
          if (!value.empty() && value[0] == '"') {
            value.remove_prefix(1);
            if (!value.empty() && value.back() == '"') value.remove_suffix(1);
          }
          attributes.Store(pendingName, value);
          pendingName = std::string_view();
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
    if (!pendingName.empty()) attributes.Store(pendingName, std::string_view());
  } catch (...) {
    attributes.WriteTo(attributes_);
    throw;
  }
  attributes.WriteTo(attributes_);
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
