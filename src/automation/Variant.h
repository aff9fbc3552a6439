// TVariant: owns one automation VARIANT (arrays of link texts, byte arrays)
// and frees it once. It starts as VT_EMPTY.
#pragma once

#include <windows.h>
#include <oleauto.h>

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
