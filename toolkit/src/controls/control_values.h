// Small values the control base's files build often.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "com/Variant.h"

namespace control_values {

// 8-bit text (a map's names and formats) in the ANSI code page as wide text.
inline std::wstring Widen(const char* text) {
  if (!text) return std::wstring();
  const int size = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], size);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

// Wide text in an 8-bit code page (what ANSI windows and HTML Help take).
inline std::string Narrow(const wchar_t* text, UINT codePage = CP_ACP) {
  const wchar_t* wide = text ? text : L"";
  const int size = ::WideCharToMultiByte(codePage, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(codePage, 0, wide, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

}  // namespace control_values
