// THtmlLexer: turns an HTML document into a stream of tokens, one at a time.
//
// Conventions of this file:
// - "Read" functions (ReadTag, ReadComment, ReadEntity, ReadText) start at the
//   cursor of the lexer's TLexTool, consume exactly their token's characters
//   and return the new token, owned by the caller.
// - Look-ahead puts the cursor back where it was: a saved cursor where only
//   characters are read, PushState/PopState (the element flags with the
//   tool's cursor) where more is done; no state is left saved once a token
//   has been delivered.
// - Malformed input is data: every byte sequence yields some token stream.
//
// Six token classes come out: tags, text, character references, comments,
// declarations and script text. Inside "xmp" and "script" elements (raw
// text) a "<" met while reading text continues the text unless it starts a
// closing xmp or script tag; a "<" directly at the cursor always starts a tag.
#pragma once

#include "codecs/Entities.h"
#include "codecs/MemoryStream.h"
#include "codecs/StringList.h"
#include "html/Containers.h"
#include "html/HtmlLexerError.h"
#include "html/HtmlTokens.h"
#include "html/LexTool.h"

#include <memory>
#include <string>

class THtmlLexer : public TComponent {
public:
  // The element flags saved by PushState.
  class TState : public TObject {
  public:
    TState(bool rawText, bool inScript, const std::string& scriptLanguage)
        : RawText(rawText), InScript(inScript), ScriptLanguage(scriptLanguage) {}
    bool RawText;
    bool InScript;
    std::string ScriptLanguage;
    const char* ClassName() const override { return "TState"; }
  };

  explicit THtmlLexer(TComponent* owner = nullptr);

  // The document, one entry per line. A document read in place is copied
  // into the list at the first call, and the list is the document from then on.
  TStringList& Lines();

  // Load the document (split at CR LF, lone CR and lone LF; a NUL ends it),
  // then Reset. The element flags carry over from an earlier document.
  // LoadFromFile raises EInOutError "Cannot open file <name>".
  void LoadFromFile(const std::string& fileName);
  // From the stream's position to its end; the stream is left at its end.
  void LoadFromStream(TMemoryStream& stream);
  // Reads the text where it lies, copying none of it: the caller keeps it
  // unchanged until the lexer is done with it or loads another document.
  // A page's lines, each a string of its own, cost more memory than the page.
  void LoadInPlace(const char* data, size_t length);
  // Back to the first line, no saved states, and the first token read.
  void Reset();
  // How character references are read: 8-bit (the default) for text in the
  // system code page, Unicode for UTF-8 text (Entities.h). Set before loading.
  void SetReferenceForm(TReferenceForm form) { referenceForm_ = form; }
  TReferenceForm ReferenceForm() const { return referenceForm_; }

  // The current token, owned by the lexer; null at the end of the document.
  // Valid until the next Next: the lexer may hand the object out again.
  TToken* Token() const { return token_.get(); }
  // Done with the current token; reads the next one.
  void Next();
  // Reads one token at the cursor; null at the end of the document, or when
  // it ends right after "<", "<!" or "<!-" (the cursor stays on the "<").
  std::unique_ptr<TToken> GetNextToken();

  // Raise EHtmlLexer "No states to Pop" / "No states to discard" with
  // nothing saved.
  void PushState();
  void PopState();
  void DiscardState();

  bool RawText() const { return rawText_; }
  bool InScript() const { return inScript_; }
  const std::string& ScriptLanguage() const { return scriptLanguage_; }
  const TLexTool& LexTool() const { return lexTool_; }
  const TStack& States() const { return states_; }

  // Whether the tag that starts at the "<" at (line, col) of lines is named
  // "/xmp" or "/script" (ASCII case ignored): what reading that whole tag
  // would tell, found from the few characters after the "<" alone.
  static bool TagEndsRawText(const TStringList& lines, int line, int col);
  static bool TagEndsRawText(const TLexTool& document, int line, int col);

  const char* ClassName() const override { return "THtmlLexer"; }

private:
  std::unique_ptr<TToken> ReadTag();
  void ReadComment(TToken& token);
  std::unique_ptr<TToken> ReadEntity();
  std::unique_ptr<TToken> ReadText();
  void CheckRawTextEnd();
  // A token of class T: a finished one of that class reused when there is one.
  template <class T>
  std::unique_ptr<T> NewToken();
  void KeepForReuse(std::unique_ptr<TToken> token);
  void AdjustElementState(const THtmlTagToken& tag);
  // The document := a copy of the text, read from the start.
  void LoadCopy(const char* data, size_t length);
  // The list is the document from now on; line views are forgotten.
  void ReadFromList();
  // Dest := the document's text from (startLine, startCol) to (endLine,
  // endCol), both inclusive, one entry per line.
  void CopyRange(TStringList& dest, int startLine, int startCol, int endLine, int endCol) const;

  TStringList lines_;
  TLexTool::TLineViews views_;  // the lines of a document read in place
  bool rawText_ = false;
  bool inScript_ = false;
  TReferenceForm referenceForm_ = TReferenceForm::Byte;
  std::string scriptLanguage_;
  std::unique_ptr<TToken> token_;
  // One finished token per class, kept for reuse: a page has hundreds of
  // thousands of tokens, and allocating each anew costs more than reading it.
  std::unique_ptr<TToken> spare_[6];
  TLexTool lexTool_;
  TStack states_;
};
