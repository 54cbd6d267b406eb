// Owning pointer to a COM interface.
//
// Construction from a raw pointer and copying add a reference (the pointer
// is shared); attach() takes over a reference the caller already owns.
// put() hands the slot to an API that fills it; as() and queryFrom() ask for
// another interface and answer the HRESULT of QueryInterface.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace com {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ~ComPtr() { reset(); }

  ComPtr& operator=(const ComPtr& other) {
    if (this != &other) reset(other.p_);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  ComPtr& operator=(T* p) {
    reset(p);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // Releases what is held and holds p with a reference of its own.
  void reset(T* p = nullptr) {
    if (p) p->AddRef();
    T* old = p_;
    p_ = p;
    if (old) old->Release();
  }
  // Takes over a reference that the caller owns (no AddRef).
  void attach(T* p) {
    T* old = p_;
    p_ = p;
    if (old) old->Release();
  }
  // Gives up the held reference to the caller.
  T* detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  // Releases what is held and returns the slot for an out-parameter.
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

  // Hands out a new reference through an out-parameter.
  HRESULT copyTo(T** out) const {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

  // Asks the held object for interface U.
  template <typename U>
  HRESULT as(ComPtr<U>& out) const {
    ComPtr<U> result;  // out may be this very pointer
    HRESULT hr = p_ ? p_->QueryInterface(__uuidof(U), result.putVoid()) : E_POINTER;
    out = std::move(result);
    return hr;
  }
  HRESULT as(REFIID iid, void** out) const {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out);
  }

  // Holds the T interface of another object (released on failure).
  HRESULT queryFrom(IUnknown* unknown) {
    ComPtr result;  // unknown may be the object held here
    HRESULT hr = unknown ? unknown->QueryInterface(__uuidof(T), result.putVoid()) : E_POINTER;
    *this = std::move(result);
    return hr;
  }

  HRESULT createInstance(REFCLSID clsid, IUnknown* outer = nullptr,
                         DWORD context = CLSCTX_ALL) {
    return ::CoCreateInstance(clsid, outer, context, __uuidof(T), putVoid());
  }

 private:
  T* p_ = nullptr;
};

template <typename T, typename U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) {
  return a.get() == b.get();
}
template <typename T, typename U>
bool operator!=(const ComPtr<T>& a, const ComPtr<U>& b) {
  return a.get() != b.get();
}

// The interface I of an object; null for a null object or one that does
// not answer I.
template <typename I>
ComPtr<I> query(IUnknown* object) {
  ComPtr<I> out;
  if (object) object->QueryInterface(__uuidof(I), out.putVoid());
  return out;
}

// COM identity: two pointers name the same object when their IUnknowns match.
bool sameObject(IUnknown* a, IUnknown* b);

}  // namespace com
