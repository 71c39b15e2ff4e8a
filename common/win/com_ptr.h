#pragma once
// A small owning COM pointer: one reference held, released exactly once.
#include <objbase.h>

#include <utility>

namespace win {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already owns.
  static ComPtr Attach(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  // Adds a reference of its own (for borrowed pointers).
  static ComPtr Retain(T* p) {
    if (p) p->AddRef();
    return Attach(p);
  }
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out-parameters (QueryInterface, CoCreateInstance): releases the current pointer first.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  T* detach() { return std::exchange(p_, nullptr); }
  void reset() {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }

  template <typename U>
  HRESULT As(REFIID iid, ComPtr<U>* out) const {
    return p_ ? p_->QueryInterface(iid, out->put_void()) : E_POINTER;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace win
