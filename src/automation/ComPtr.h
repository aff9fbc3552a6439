// TComPtr: owns one reference on a COM interface and releases it once.
#pragma once

#include <utility>

template <class T>
class TComPtr {
public:
  TComPtr() = default;
  // Takes over a reference the caller already holds.
  explicit TComPtr(T* p) : p_(p) {}
  TComPtr(const TComPtr& other) : p_(other.p_) { if (p_) p_->AddRef(); }
  TComPtr(TComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  TComPtr& operator=(TComPtr other) noexcept { std::swap(p_, other.p_); return *this; }
  ~TComPtr() { if (p_) p_->Release(); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out parameters: drops the current reference and gives its slot.
  T** Receive() { Reset(); return &p_; }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  void Reset() { if (p_) std::exchange(p_, nullptr)->Release(); }
  // Hands a new reference to the caller.
  T* Copy() const { if (p_) p_->AddRef(); return p_; }

private:
  T* p_ = nullptr;
};
