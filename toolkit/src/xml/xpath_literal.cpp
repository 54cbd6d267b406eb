#include "toolkit/xml/xpath_literal.h"

#include <string>

bool QuotedXPathLiteral(const wchar_t* text, BSTR* literal) {
  if (!literal) return false;
  *literal = nullptr;
  const std::wstring value = text ? text : L"";
  wchar_t quote = L'"';
  if (value.find(L'"') != std::wstring::npos) {
    if (value.find(L'\'') != std::wstring::npos) return false;
    quote = L'\'';
  }
  const std::wstring quoted = quote + value + quote;
  *literal = ::SysAllocStringLen(quoted.c_str(), static_cast<UINT>(quoted.size()));
  return *literal != nullptr;
}
