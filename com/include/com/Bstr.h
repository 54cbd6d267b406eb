// Owner of one BSTR.
//
// The copying constructors (from text and from another Bstr) raise
// ComError(E_OUTOFMEMORY) when the copy cannot be allocated; everything else
// answers an HRESULT. A null BSTR is a valid, empty value.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "com/ComError.h"

namespace com {

class Bstr {
 public:
  Bstr() = default;
  // Copies text (null stays null); raises E_OUTOFMEMORY.
  explicit Bstr(const wchar_t* text);
  // Copies length characters (text may hold zeros); raises E_OUTOFMEMORY.
  Bstr(const wchar_t* text, UINT length);
  Bstr(const Bstr& other);
  Bstr& operator=(const Bstr& other);
  Bstr(Bstr&& other) noexcept : s_(other.s_) { other.s_ = nullptr; }
  Bstr& operator=(Bstr&& other) noexcept;
  ~Bstr() { reset(); }

  BSTR get() const { return s_; }
  // The text, or "" for a null BSTR.
  const wchar_t* c_str() const { return s_ ? s_ : L""; }
  UINT length() const { return ::SysStringLen(s_); }
  bool empty() const { return length() == 0; }

  void reset(BSTR s = nullptr);
  void attach(BSTR s) { reset(s); }
  BSTR detach();
  // Frees what is held and returns the slot for an out-parameter.
  BSTR* put();

  // Replaces the text with a copy; E_OUTOFMEMORY leaves the old text.
  HRESULT assign(const wchar_t* text);
  HRESULT assign(const wchar_t* text, UINT length);
  // Converts 8-bit text in the given code page (a null text gives null).
  HRESULT assignMultiByte(const char* text, UINT codePage = CP_ACP);
  HRESULT append(const wchar_t* text);
  // A new copy for an out-parameter; *out is null on failure.
  HRESULT copyTo(BSTR* out) const;

 private:
  BSTR s_ = nullptr;
};

// Compares the texts; null and "" are equal.
bool operator==(const Bstr& a, const Bstr& b);
inline bool operator!=(const Bstr& a, const Bstr& b) { return !(a == b); }

}  // namespace com
