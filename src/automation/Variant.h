// TVariant: owns one automation VARIANT (arrays of link texts, byte arrays)
// and frees it once. It starts as VT_EMPTY.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "TextBoundary.h"
#include "codecs/PackedTexts.h"

class TVariant {
public:
  TVariant() { VariantInit(&value_); }
  // Deep copy (arrays included); throws EOleSysError when the copy fails.
  TVariant(const TVariant& other);
  TVariant(TVariant&& other) noexcept;
  TVariant& operator=(TVariant other) noexcept;
  ~TVariant() { VariantClear(&value_); }

  static TVariant Null();

  VARTYPE Type() const { return value_.vt; }
  const VARIANT& Value() const { return value_; }
  // Frees the current value and gives the slot to fill, e.g. with an array.
  VARIANT* Receive();
  // Moves the value into an out parameter, whose old content is not freed,
  // and leaves this VT_EMPTY.
  void MoveTo(VARIANT* target) noexcept;

private:
  VARIANT value_;
};

// Array builders. Each gives a one-dimensional array with lower bound 0 that
// holds exactly its items (no elements at all for none), and throws
// Exception "Error creating variant array" when the array cannot be made.

// VT_ARRAY | VT_UI1 with a copy of the bytes.
TVariant MakeByteArray(const char* data, size_t size);
// VT_ARRAY | VT_VARIANT, each element a VT_BSTR converted from the 8-bit text
// in the form given (the system code page unless said otherwise); an empty
// text is a null BSTR.
TVariant MakeTextArray(const TPackedTexts& texts, TTextForm form = TTextForm::Ansi);

// Texts made BSTRs one by one as they come, for an array whose size is known
// only at the end; frees those it still holds.
class TBstrList {
public:
  explicit TBstrList(TTextForm form = TTextForm::Ansi) : form_(form) {}
  TBstrList(const TBstrList&) = delete;
  TBstrList& operator=(const TBstrList&) = delete;
  ~TBstrList();

  // Converted from the list's form; throws std::bad_alloc.
  void Add(std::string_view text);
  // Room for count texts in all, when the count is known ahead.
  void Reserve(size_t count) { items_.reserve(count); }
  // The texts as MakeTextArray gives them; the array owns them from then on.
  TVariant TakeArray();

private:
  TTextForm form_;
  std::vector<BSTR> items_;
};
