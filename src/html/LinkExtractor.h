// Link extraction: the targets and texts of every anchor of an HTML body
// that carries a non-empty HREF value, in document order. Purely lexical: no
// tree is built, tags need not balance, targets are returned exactly as
// written (not resolved, not decoded, not trimmed).
//
// ---------------------------------------------------------------------------
// For the IConn members GetHREFs (dispatch id 25) and GetHREFNames (property
// get, dispatch id 31), which live in src/automation and call ExtractLinks:
//
// GetHREFs(VARIANT* value):
//   1. Clear TConn's Error text. VariantInit the out VARIANT: it is VT_EMPTY
//      until the very end.
//   2. Call ExtractLinks(Client.Body). It sets the body's position to 0 itself
//      and leaves it at the end; do not copy the stream. It never throws.
//   3. Failed (!result.Succeeded): Error := result.ErrorMessage; the out
//      VARIANT stays VT_EMPTY; HrefNames keeps its previous value; return S_OK.
//   4. Succeeded: the targets become a one-dimensional SAFEARRAY of VARIANT
//      (lower bound 0), each element a VT_BSTR converted from the 8-bit text
//      with CP_ACP over its whole length (the usual text conversion of the
//      interface boundary); the texts are kept for GetHREFNames, which makes
//      the same kind of array of them. Both lists have the same length;
//      element i of one pairs with element i of the other. (TConn uses the
//      walk form of ExtractLinks below and makes each target a BSTR as it
//      comes.)
//      The arrays hold exactly their items: bounds 0 to count-1, and with no
//      links an array with no elements at all (VT_ARRAY|VT_VARIANT with 0
//      elements, UBound -1 in script), never VT_EMPTY.
//      Growth rule, for arrays grown while they are filled: created with
//      bounds 0 to 10; before storing, when the upper bound equals the item
//      count, the upper bound becomes count + 10 (new elements VT_EMPTY);
//      at the end resized to the item count. Only that final size is visible
//      to scripts, so creating each array once with its final size gives the
//      same result.
//   5. HrefNames := the texts (the script must see independent arrays: each
//      GetHREFNames hands out an array of its own); out VARIANT := the
//      targets array (VT_ARRAY|VT_VARIANT). Return S_OK.
//   Any failure in steps 4-5 (SAFEARRAY or BSTR allocation, out of memory):
//   destroy what was built, Error := the failure's message ("Out of memory"
//   when a call only reports E_OUTOFMEMORY, as ExtractLinks does), out
//   VARIANT VT_EMPTY, HrefNames unchanged, return S_OK. GetHREFs never
//   returns a COM error. After a success Error stays empty (cleared in 1).
//
// GetHREFNames(VARIANT* value): clear the out VARIANT first, then give an
//   array of its own of HrefNames, the texts of the last successful GetHREFs
//   on this object; VT_EMPTY before any. GetURL does not clear it, and a
//   failed GetHREFs does not replace it.
// ---------------------------------------------------------------------------
#pragma once

#include "codecs/Entities.h"
#include "codecs/MemoryStream.h"
#include "codecs/StringList.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct TLinkExtraction {
  bool Succeeded = false;
  std::string ErrorMessage;          // the failure's message when not Succeeded
  std::vector<std::string> Targets;  // HREF values, as written
  std::vector<std::string> Texts;    // cleaned link texts, "Not Available" when empty
};

// Runs the HTML lexer over the whole body (its position is set to 0 first and
// is left at the end) and collects every anchor: a tag whose name is "A" in
// either case. Its text is the cleaned text of every text token (character
// references included) up to the next "/A" tag or the end of the document;
// other tags, nested anchors, comments, declarations and script text add
// nothing. An anchor with an empty or missing HREF adds no entry but its
// content is still consumed. Every failure, out of memory included, comes
// back as Succeeded false with the failure's message and no links.
TLinkExtraction ExtractLinks(TMemoryStream& body) noexcept;

// The same walk, handing each anchor over as it is found, for a caller that
// turns the targets into something else at once (the automation boundary
// makes BSTRs of them): target is a view valid during the call, text the
// cleaned text ("Not Available" when empty), which the callee may take over.
// False on a failure, a failure of found included, with its message.
using TLinkFound = std::function<void(std::string_view target, std::string& text)>;
bool ExtractLinks(TMemoryStream& body, const TLinkFound& found, std::string& errorMessage) noexcept;
// The same walk over a document held anywhere, read where it lies (the caller
// keeps it unchanged meanwhile). A document in UTF-8 is read with the Unicode
// form of character references: its texts come out in UTF-8.
bool ExtractLinks(std::string_view document, TReferenceForm form, const TLinkFound& found,
                  std::string& errorMessage) noexcept;

// The link text of one text token's lines: joined with single spaces, every
// run of codes 1 to 32 made one space with none left at either end, then
// character references decoded (so "&nbsp;" gives a single space).
std::string CleanLinkText(const TStringList& lines, TReferenceForm form = TReferenceForm::Byte);
// The same, appended to text: a link text gathers its tokens' texts this way.
void AppendCleanLinkText(const TStringList& lines, std::string& text, TReferenceForm form = TReferenceForm::Byte);
