// Owner of one SAFEARRAY, and a scoped lock on its data.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace com {

class SafeArray {
 public:
  SafeArray() = default;
  explicit SafeArray(SAFEARRAY* array) : array_(array) {}  // takes ownership
  SafeArray(const SafeArray&) = delete;
  SafeArray& operator=(const SafeArray&) = delete;
  SafeArray(SafeArray&& other) noexcept : array_(other.detach()) {}
  SafeArray& operator=(SafeArray&& other) noexcept {
    if (this != &other) reset(other.detach());
    return *this;
  }
  ~SafeArray() { reset(); }

  // A one-dimensional array of count elements of type vt, lower bound 0.
  HRESULT createVector(VARTYPE vt, ULONG count) {
    SAFEARRAY* array = ::SafeArrayCreateVector(vt, 0, count);
    if (!array) return E_OUTOFMEMORY;
    reset(array);
    return S_OK;
  }

  SAFEARRAY* get() const { return array_; }
  SAFEARRAY** put() {
    reset();
    return &array_;
  }
  SAFEARRAY* detach() {
    SAFEARRAY* array = array_;
    array_ = nullptr;
    return array;
  }
  void reset(SAFEARRAY* array = nullptr) {
    if (array_ && array_ != array) ::SafeArrayDestroy(array_);
    array_ = array;
  }
  // Number of elements of a one-dimensional array (0 for none).
  ULONG count() const { return countOf(array_); }
  static ULONG countOf(const SAFEARRAY* array) {
    if (!array || ::SafeArrayGetDim(const_cast<SAFEARRAY*>(array)) != 1) return 0;
    return array->rgsabound[0].cElements;
  }

 private:
  SAFEARRAY* array_ = nullptr;
};

// Access to the elements while the scope lasts (SafeArrayAccessData).
template <typename T>
class SafeArrayData {
 public:
  explicit SafeArrayData(SAFEARRAY* array) : array_(array) {
    void* data = nullptr;
    hr_ = array ? ::SafeArrayAccessData(array, &data) : E_POINTER;
    if (SUCCEEDED(hr_)) data_ = static_cast<T*>(data);
  }
  ~SafeArrayData() {
    if (data_) ::SafeArrayUnaccessData(array_);
  }
  SafeArrayData(const SafeArrayData&) = delete;
  SafeArrayData& operator=(const SafeArrayData&) = delete;

  HRESULT result() const { return hr_; }
  T* data() const { return data_; }
  T& operator[](ULONG i) const { return data_[i]; }

 private:
  SAFEARRAY* array_;
  T* data_ = nullptr;
  HRESULT hr_;
};

}  // namespace com
