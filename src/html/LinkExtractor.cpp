#include "html/LinkExtractor.h"

#include "codecs/Entities.h"
#include "codecs/Exception.h"
#include "codecs/LineUtils.h"
#include "codecs/WordUtils.h"
#include "html/HtmlLexer.h"

#include <new>

namespace {

const THtmlTagToken* AsTagNamed(const TToken* token, const char* name) {
  const THtmlTagToken* tag = token->AsTag();
  return tag && tag->IsTag(name) ? tag : nullptr;
}

// Collapses every run of codes 1 to 32 to one space, dropping runs at the start
// and a space left at the end.
std::string CollapseBlanks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool pendingSpace = false;
  for (char c : text) {
    const unsigned char code = static_cast<unsigned char>(c);
    if (code >= 1 && code <= 32) {
      pendingSpace = !out.empty();
      continue;
    }
    if (pendingSpace) out += ' ';
    pendingSpace = false;
    out += c;
  }
  return out;
}

// One anchor: the inner walk from the anchor token itself up to (not past)
// the "/A" tag or the end of the document.
void CollectAnchor(THtmlLexer& lexer, TLinkExtraction& result) {
  const std::string target = static_cast<const THtmlTagToken*>(lexer.Token())->GetAttribute("href");
  std::string text;
  // Bounded by the document: every Next consumes at least one character.
  while (const TToken* token = lexer.Token()) {
    if (AsTagNamed(token, "/A")) break;
    if (token->IsText()) text += CleanLinkText(token->Text());
    lexer.Next();
  }
  if (target.empty()) return;
  result.Targets.push_back(target);
  result.Texts.push_back(ChooseText(!text.empty(), text, "Not Available"));
}

}  // namespace

std::string CleanLinkText(const TStringList& lines) {
  return DecodeEntities(CollapseBlanks(JoinLines(lines, " ")));
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
