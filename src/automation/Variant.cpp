#include "Variant.h"

#include <climits>
#include <cstring>

#include "ComError.h"
#include "TextBoundary.h"
#include "platform/Pieces.h"

namespace {

const char* const SErrorCreatingArray = "Error creating variant array";

// The array is owned by the caller until it is placed into a variant.
SAFEARRAY* CreateVector(VARTYPE type, size_t count)
{
  if (count > ULONG_MAX) throw Exception(SErrorCreatingArray);
  SAFEARRAY* array = SafeArrayCreateVector(type, 0, static_cast<ULONG>(count));
  if (!array) throw Exception(SErrorCreatingArray);
  return array;
}

// A vector of count bytes whose elements are left unfilled. Creating it with
// its elements fills them with zeros first: a first write to every fresh page
// on one thread, before the copy writes them all again. The elements come
// from the task allocator, which frees an array's own elements.
SAFEARRAY* CreateUnfilledBytes(size_t count)
{
  if (count > ULONG_MAX) throw Exception(SErrorCreatingArray);
  SAFEARRAY* array = nullptr;
  if (FAILED(SafeArrayAllocDescriptorEx(VT_UI1, 1, &array))) throw Exception(SErrorCreatingArray);
  array->cbElements = 1;
  array->rgsabound[0].cElements = static_cast<ULONG>(count);
  array->rgsabound[0].lLbound = 0;
  array->pvData = CoTaskMemAlloc(count);
  if (!array->pvData) {
    SafeArrayDestroyDescriptor(array);
    throw Exception(SErrorCreatingArray);
  }
  return array;
}

// Hands the array to a variant, which frees it from then on.
TVariant Wrap(SAFEARRAY* array, VARTYPE type)
{
  TVariant result;
  VARIANT* slot = result.Receive();
  V_VT(slot) = VT_ARRAY | type;
  V_ARRAY(slot) = array;
  return result;
}

}  // namespace

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

TVariant MakeByteArray(const char* data, size_t size)
{
  if (size == 0) return Wrap(CreateVector(VT_UI1, 0), VT_UI1);
  SAFEARRAY* array = CreateUnfilledBytes(size);
  TVariant result = Wrap(array, VT_UI1);
  char* elements = static_cast<char*>(array->pvData);
  auto copy = [&](size_t begin, size_t end) { std::memcpy(elements + begin, data + begin, end - begin); };
  RunInPieces(size, PieceBytes, copy);
  return result;
}

TVariant MakeTextArray(const TPackedTexts& texts, TTextForm form)
{
  TBstrList list(form);
  list.Reserve(texts.Count());
  for (size_t i = 0; i < texts.Count(); ++i) list.Add(texts[i]);
  return list.TakeArray();
}

TBstrList::~TBstrList()
{
  for (BSTR item : items_) SysFreeString(item);
}

void TBstrList::Add(std::string_view text)
{
  items_.push_back(nullptr);  // the room first: a failed push leaks nothing
  items_.back() = TextToBstr(text, form_);
}

TVariant TBstrList::TakeArray()
{
  SAFEARRAY* array = CreateVector(VT_VARIANT, items_.size());
  TVariant result = Wrap(array, VT_VARIANT);
  if (items_.empty()) return result;
  VARIANT* elements = nullptr;
  if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&elements))))
    throw Exception(SErrorCreatingArray);
  for (size_t i = 0; i < items_.size(); ++i) {
    V_BSTR(&elements[i]) = items_[i];
    V_VT(&elements[i]) = VT_BSTR;
  }
  SafeArrayUnaccessData(array);
  items_.clear();
  return result;
}
