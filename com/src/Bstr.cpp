#include "com/Bstr.h"

#include <cwchar>

namespace com {

namespace {

// A copy of text, or null; *failed tells a failed allocation from a null text.
BSTR copyText(const wchar_t* text, UINT length, bool* failed) {
  *failed = false;
  if (!text) return nullptr;
  BSTR s = ::SysAllocStringLen(text, length);
  if (!s) *failed = true;
  return s;
}

UINT textLength(const wchar_t* text) {
  return text ? static_cast<UINT>(std::wcslen(text)) : 0;
}

}  // namespace

Bstr::Bstr(const wchar_t* text) : Bstr(text, textLength(text)) {}

Bstr::Bstr(const wchar_t* text, UINT length) {
  bool failed;
  s_ = copyText(text, length, &failed);
  if (failed) throw ComError(E_OUTOFMEMORY);
}

Bstr::Bstr(const Bstr& other) {
  bool failed;
  s_ = copyText(other.s_, other.length(), &failed);
  if (failed) throw ComError(E_OUTOFMEMORY);
}

Bstr& Bstr::operator=(const Bstr& other) {
  if (this != &other) {
    Bstr copy(other);
    *this = static_cast<Bstr&&>(copy);
  }
  return *this;
}

Bstr& Bstr::operator=(Bstr&& other) noexcept {
  if (this != &other) {
    reset(other.s_);
    other.s_ = nullptr;
  }
  return *this;
}

void Bstr::reset(BSTR s) {
  if (s_ && s_ != s) ::SysFreeString(s_);
  s_ = s;
}

BSTR Bstr::detach() {
  BSTR s = s_;
  s_ = nullptr;
  return s;
}

BSTR* Bstr::put() {
  reset();
  return &s_;
}

HRESULT Bstr::assign(const wchar_t* text) { return assign(text, textLength(text)); }

HRESULT Bstr::assign(const wchar_t* text, UINT length) {
  bool failed;
  BSTR s = copyText(text, length, &failed);
  if (failed) return E_OUTOFMEMORY;
  reset(s);
  return S_OK;
}

HRESULT Bstr::assignMultiByte(const char* text, UINT codePage) {
  if (!text) {
    reset();
    return S_OK;
  }
  int length = ::MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
  if (length <= 0) return HRESULT_FROM_WIN32(::GetLastError());
  // length counts the terminating zero, which SysAllocStringLen adds itself.
  BSTR s = ::SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
  if (!s) return E_OUTOFMEMORY;
  if (::MultiByteToWideChar(codePage, 0, text, -1, s, length) != length) {
    HRESULT hr = HRESULT_FROM_WIN32(::GetLastError());
    ::SysFreeString(s);
    return FAILED(hr) ? hr : E_FAIL;
  }
  reset(s);
  return S_OK;
}

HRESULT Bstr::append(const wchar_t* text) {
  UINT extra = textLength(text);
  if (extra == 0) return S_OK;
  UINT old = length();
  BSTR s = ::SysAllocStringLen(nullptr, old + extra);
  if (!s) return E_OUTOFMEMORY;
  if (old) std::wmemcpy(s, s_, old);
  std::wmemcpy(s + old, text, extra);
  reset(s);
  return S_OK;
}

HRESULT Bstr::copyTo(BSTR* out) const {
  if (!out) return E_POINTER;
  *out = nullptr;
  bool failed;
  *out = copyText(s_, length(), &failed);
  return failed ? E_OUTOFMEMORY : S_OK;
}

bool operator==(const Bstr& a, const Bstr& b) {
  UINT length = a.length();
  return length == b.length() && std::wmemcmp(a.c_str(), b.c_str(), length) == 0;
}

}  // namespace com
