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
// target and text are the caller's, their memory kept from link to link.
void CollectAnchor(THtmlLexer& lexer, std::string& target, std::string& text, const TLinkFound& found) {
  const TReferenceForm form = lexer.ReferenceForm();
  // Copied before the walk moves on: the lexer hands the token out again.
  target.clear();
  target.append(static_cast<const THtmlTagToken*>(lexer.Token())->AttributeText("href"));
  text.clear();
  // Bounded by the document: every Next consumes at least one character.
  while (const TToken* token = lexer.Token()) {
    if (AsTagNamed(token, "/A")) break;
    if (token->IsText()) AppendCleanLinkText(token->Text(), text, form);
    lexer.Next();
  }
  if (target.empty()) return;
  if (text.empty()) text = "Not Available";
  found(target, text);
}

}  // namespace

std::string CleanLinkText(const TStringList& lines, TReferenceForm form) {
  std::string text;
  AppendCleanLinkText(lines, text, form);
  return text;
}

void AppendCleanLinkText(const TStringList& lines, std::string& text, TReferenceForm form) {
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
  DecodeEntitiesFrom(text, start, form);
}

bool ExtractLinks(TMemoryStream& body, const TLinkFound& found, std::string& errorMessage) noexcept {
  // The body stays as it is for the whole walk: it is read where it lies.
  body.SetPosition(body.Size());
  return ExtractLinks(std::string_view(body.Memory(), static_cast<size_t>(body.Size())), TReferenceForm::Byte,
                      found, errorMessage);
}

bool ExtractLinks(std::string_view document, TReferenceForm form, const TLinkFound& found,
                  std::string& errorMessage) noexcept {
  try {
    THtmlLexer lexer;
    lexer.SetReferenceForm(form);
    lexer.LoadInPlace(document.data(), document.size());
    std::string target, text;  // one link's, their memory kept from link to link
    // Bounded by the document: every Next consumes at least one character.
    while (lexer.Token()) {
      if (AsTagNamed(lexer.Token(), "A")) CollectAnchor(lexer, target, text, found);
      lexer.Next();  // after an anchor, past the "/A" that ended it
    }
    return true;
  } catch (const Exception& e) {
    errorMessage = e.Message();
  } catch (const std::bad_alloc&) {
    errorMessage = "Out of memory";
  } catch (const std::exception& e) {
    errorMessage = e.what();
  } catch (...) {
    errorMessage = "Unknown failure";
  }
  return false;
}

TLinkExtraction ExtractLinks(TMemoryStream& body) noexcept {
  TLinkExtraction result;
  result.Succeeded = ExtractLinks(
      body,
      [&result](std::string_view target, std::string& text) {
        result.Targets.emplace_back(target);
        result.Texts.push_back(std::move(text));
      },
      result.ErrorMessage);
  if (!result.Succeeded) {
    result.Targets.clear();
    result.Texts.clear();
  }
  return result;
}
