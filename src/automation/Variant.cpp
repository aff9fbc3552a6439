#include "Variant.h"

#include <cstring>

#include "ComError.h"

TVariant::TVariant(const TVariant& other)
{
  VariantInit(&value_);
  const HRESULT hr = VariantCopy(&value_, const_cast<VARIANT*>(&other.value_));
  if (FAILED(hr)) throw EOleSysError("Error copying variant", hr);
}

TVariant::TVariant(TVariant&& other) noexcept
{
  std::memcpy(&value_, &other.value_, sizeof value_);
  VariantInit(&other.value_);
}

TVariant& TVariant::operator=(TVariant other) noexcept
{
  VARIANT swap;
  std::memcpy(&swap, &value_, sizeof swap);
  std::memcpy(&value_, &other.value_, sizeof value_);
  std::memcpy(&other.value_, &swap, sizeof swap);
  return *this;
}

TVariant TVariant::Null()
{
  TVariant result;
  result.value_.vt = VT_NULL;
  return result;
}

VARIANT* TVariant::Receive()
{
  VariantClear(&value_);
  VariantInit(&value_);
  return &value_;
}

void TVariant::MoveTo(VARIANT* target) noexcept
{
  std::memcpy(target, &value_, sizeof value_);
  VariantInit(&value_);
}
