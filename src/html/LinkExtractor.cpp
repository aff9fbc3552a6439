#include "html/LinkExtractor.h"

#include "codecs/Entities.h"
#include "codecs/Exception.h"
#include "html/HtmlLexer.h"

#include <new>
#include <string_view>
#include <utility>

namespace {

const THtmlTagToken* AsTagNamed(const TToken* token, std::string_view name) {
  const THtmlTagToken* tag = token->AsTag();
  return tag && tag->IsTag(name) ? tag : nullptr;
}

// One anchor: the inner walk from the anchor token itself up to (not past)
// the "/A" tag or the end of the document.
void CollectAnchor(THtmlLexer& lexer, TLinkExtraction& result) {
  std::string target = static_cast<const THtmlTagToken*>(lexer.Token())->GetAttribute("href");
  std::string text;
  // Bounded by the document: every Next consumes at least one character.
  while (const TToken* token = lexer.Token()) {
    if (AsTagNamed(token, "/A")) break;
    if (token->IsText()) AppendCleanLinkText(token->Text(), text);
    lexer.Next();
  }
  if (target.empty()) return;
  result.Targets.push_back(std::move(target));
  result.Texts.push_back(text.empty() ? std::string("Not Available") : std::move(text));
}

}  // namespace

std::string CleanLinkText(const TStringList& lines) {
  std::string text;
  AppendCleanLinkText(lines, text);
  return text;
}

void AppendCleanLinkText(const TStringList& lines, std::string& text) {
  // The lines are joined with a space, itself a blank, and every run of
  // blanks (codes 1 to 32) becomes one space, none at either end: one pass
  // over the lines does both.
  const size_t start = text.size();
  bool pendingSpace = false;
  bool firstLine = true;
  for (const std::string& line : lines.Lines()) {
    if (!firstLine) pendingSpace = text.size() > start;
    firstLine = false;
    for (char c : line) {
      const unsigned char code = static_cast<unsigned char>(c);
      if (code >= 1 && code <= 32) {
        pendingSpace = text.size() > start;
        continue;
      }
      if (pendingSpace) text += ' ';
      pendingSpace = false;
      text += c;
    }
  }
  DecodeEntitiesFrom(text, start);
}

TLinkExtraction ExtractLinks(TMemoryStream& body) noexcept {
  TLinkExtraction result;
  try {
    THtmlLexer lexer;
    body.SetPosition(0);
    lexer.LoadFromStream(body);
    // Bounded by the document: every Next consumes at least one character.
    while (lexer.Token()) {
      if (AsTagNamed(lexer.Token(), "A")) CollectAnchor(lexer, result);
      lexer.Next();  // after an anchor, past the "/A" that ended it
    }
    result.Succeeded = true;
  } catch (const Exception& e) {
    result.ErrorMessage = e.Message();
  } catch (const std::bad_alloc&) {
    result.ErrorMessage = "Out of memory";
  } catch (const std::exception& e) {
    result.ErrorMessage = e.what();
  } catch (...) {
    result.ErrorMessage = "Unknown failure";
  }
  if (!result.Succeeded) {
    result.Targets.clear();
    result.Texts.clear();
  }
  return result;
}
