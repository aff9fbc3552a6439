// Fuzzes the HTML lexer and the link extraction with arbitrary bytes. Beyond
// "no crash, no leak, no hang" it checks what must hold for every input:
// - link extraction always succeeds, with as many texts as targets, and
//   reading the bytes as UTF-8 (references in their Unicode form) finds the
//   same anchors with the same targets;
// - no saved state is left between tokens;
// - the body read in place lexes token for token as its copy does;
// - outside comments, the tokens' texts put together give back the document
//   up to where the token stream ends, which is only ever a last "<", "<!"
//   or "<!-" (line ends aside);
// - on small inputs, the closing-tag check inside raw text agrees, at every
//   "<", with reading the whole tag there.
#include "FuzzSupport.h"
#include "codecs/MemoryStream.h"
#include "html/HtmlLexer.h"
#include "html/LinkExtractor.h"

#include <cstdint>
#include <string>

namespace {

std::string Joined(const TStringList& lines) {
  std::string text;
  for (int i = 0; i < lines.Count(); ++i) {
    if (i > 0) text += '\n';
    text += lines[i];
  }
  return text;
}

bool ReadingTheTagEndsRawText(const TStringList& lines, int line, int col) {
  THtmlLexer lexer;
  lexer.Lines().Add(lines[line].substr(static_cast<size_t>(col - 1)));
  for (int i = line + 1; i < lines.Count(); ++i) lexer.Lines().Add(lines[i]);
  lexer.Reset();
  const THtmlTagToken* tag = lexer.Token() ? lexer.Token()->AsTag() : nullptr;
  return tag && (tag->IsTag("/script") || tag->IsTag("/xmp"));
}

void CheckTokenStream(TMemoryStream& body) {
  THtmlLexer lexer;
  body.SetPosition(0);
  lexer.LoadFromStream(body);
  THtmlLexer inPlace;
  inPlace.LoadInPlace(body.Memory(), static_cast<size_t>(body.Size()));
  const std::string document = Joined(lexer.Lines());
  std::string rebuilt;
  bool comments = false;
  // Bounded: every token consumes at least one character of the document.
  for (size_t tokens = 0; lexer.Token(); ++tokens) {
    if (tokens > document.size() + 1) Fail("more tokens than characters");
    if (!lexer.States().IsEmpty() || !lexer.LexTool().States().IsEmpty()) Fail("state left saved");
    const TToken* other = inPlace.Token();
    if (!other || other->Kind() != lexer.Token()->Kind() || other->Line != lexer.Token()->Line ||
        other->Col != lexer.Token()->Col || other->Text().Lines() != lexer.Token()->Text().Lines())
      Fail("the body read in place lexes otherwise");
    if (dynamic_cast<TCommentToken*>(lexer.Token())) comments = true;
    rebuilt += Joined(lexer.Token()->Text());
    lexer.Next();
    inPlace.Next();
  }
  if (inPlace.Token()) Fail("the body read in place has more tokens");
  if (comments) return;
  if (document.compare(0, rebuilt.size(), rebuilt) != 0) Fail("token texts differ from the document");
  std::string rest;
  for (size_t i = rebuilt.size(); i < document.size(); ++i)
    if (document[i] != '\n') rest += document[i];
  if (!rest.empty() && rest != "<" && rest != "<!" && rest != "<!-") Fail("token stream ended early");
  if (!rest.empty() && document[rebuilt.size()] != '<') Fail("stream does not end on a <");
}

void CheckClosingTagPeek(const TStringList& lines) {
  for (int line = 0; line < lines.Count(); ++line) {
    const std::string& s = lines[line];
    for (size_t at = 0; at < s.size(); ++at) {
      if (s[at] != '<') continue;
      const int col = static_cast<int>(at) + 1;
      if (THtmlLexer::TagEndsRawText(lines, line, col) != ReadingTheTagEndsRawText(lines, line, col))
        Fail("closing-tag check disagrees with reading the tag");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream body;
  if (size > 0) body.Write(data, size);

  const TLinkExtraction links = ExtractLinks(body);
  if (!links.Succeeded) Fail(links.ErrorMessage.c_str());
  if (links.Targets.size() != links.Texts.size()) Fail("targets and texts differ in number");
  for (const std::string& target : links.Targets)
    if (target.empty()) Fail("empty target");

  // Read as UTF-8 (references giving the real character), the same anchors
  // with the same targets come out.
  size_t found = 0;
  std::string error;
  const bool walked = ExtractLinks(
      std::string_view(reinterpret_cast<const char*>(data), size), TReferenceForm::Unicode,
      [&](std::string_view target, std::string&) {
        if (found >= links.Targets.size() || target != links.Targets[found]) Fail("a UTF-8 target differs");
        ++found;
      },
      error);
  if (!walked) Fail(error.c_str());
  if (found != links.Targets.size()) Fail("the UTF-8 walk found another number of links");

  CheckTokenStream(body);

  if (size <= 2048) {
    TStringList lines;
    if (size > 0) lines.SetText(reinterpret_cast<const char*>(data), size);
    CheckClosingTagPeek(lines);
  }
  return 0;
}
