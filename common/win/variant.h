#pragma once
// An owning VARIANT: initialised on construction, cleared exactly once.
#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace win {

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  Variant(Variant&& other) noexcept : v_(other.Detach()) {}
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      VariantClear(&v_);
      v_ = other.Detach();
    }
    return *this;
  }
  ~Variant() { VariantClear(&v_); }

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARTYPE vt() const { return v_.vt; }
  // For out-parameters: clears the current value first.
  VARIANT* put() {
    VariantClear(&v_);
    return &v_;
  }
  // Hands the value, and the ownership of what it holds, to the caller.
  VARIANT Detach() {
    VARIANT out = v_;
    VariantInit(&v_);
    return out;
  }

 private:
  VARIANT v_;
};

}  // namespace win
