#include "toolkit/xml/xpath_literal.h"

#include <string>

bool QuotedXPathLiteral(const wchar_t* text, BSTR* literal) {
  if (!literal) return false;
  *literal = nullptr;
  const std::wstring value = text ? text : L"";
  if (value.find(L'"') != std::wstring::npos) return false;
  const std::wstring quoted = L"\"" + value + L"\"";
  *literal = ::SysAllocStringLen(quoted.c_str(), static_cast<UINT>(quoted.size()));
  return *literal != nullptr;
}
