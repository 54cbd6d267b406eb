#include "toolkit/values/text_helpers.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

#include "com/Bstr.h"
#include "com/ComError.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/real_text.h"

namespace {

// Formatting buffer: the format's length plus an allowance that doubles
// until the text fits, never more than kFormatLimit characters.
constexpr size_t kFormatAllowance = 512;
constexpr size_t kFormatLimit = 0x80000;

BSTR AllocOrThrow(const wchar_t* text, size_t length) {
  BSTR s = ::SysAllocStringLen(text, static_cast<UINT>(length));
  if (!s) throw com::ComError(E_OUTOFMEMORY);
  return s;
}

// Checks a number-and-text list and gives its array, lower bound and count.
HRESULT OpenList(const VARIANT& list, SAFEARRAY** array, LONG* lower, LONG* count) {
  *count = 0;
  if (V_VT(&list) != (VT_ARRAY | VT_BSTR)) return E_INVALIDARG;
  SAFEARRAY* p = V_ARRAY(&list);
  if (!p) return E_UNEXPECTED;
  if (::SafeArrayGetDim(p) != 1) return E_INVALIDARG;
  LONG upper = -1;
  HRESULT hr = ::SafeArrayGetLBound(p, 1, lower);
  if (SUCCEEDED(hr)) hr = ::SafeArrayGetUBound(p, 1, &upper);
  if (FAILED(hr)) return hr;
  *array = p;
  *count = upper - *lower + 1;
  return S_OK;
}

// One entry "<number>;<text>": the number is decimal from the start when a
// ";" comes before any "x"/"X", hexadecimal after the "x" when that comes
// first; each "-" among its characters negates it. Without ";" or "x" the
// number is 0; the text is what follows the ";".
struct Entry {
  LONG number = 0;
  const wchar_t* text = L"";
  UINT textLength = 0;
};

int DigitValue(wchar_t c, int radix) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (radix == 16 && c >= L'A' && c <= L'F') return c - L'A' + 10;
  if (radix == 16 && c >= L'a' && c <= L'f') return c - L'a' + 10;
  return -1;
}

Entry ParseEntry(BSTR s) {
  Entry entry;
  const UINT length = ::SysStringLen(s);
  UINT mark = 0;
  while (mark < length && s[mark] != L';' && s[mark] != L'x' && s[mark] != L'X') ++mark;
  if (mark == length) return entry;
  const int radix = s[mark] == L';' ? 10 : 16;
  UINT i = radix == 10 ? 0 : mark + 1;
  ULONG value = 0;
  bool negative = false;
  for (; i < length && s[i] != L';'; ++i) {
    if (s[i] == L'-') {
      negative = !negative;
      continue;
    }
    int digit = DigitValue(s[i], radix);
    if (digit >= 0) value = value * radix + static_cast<ULONG>(digit);
  }
  entry.number = static_cast<LONG>(negative ? 0u - value : value);
  if (i < length) {
    entry.text = s + i + 1;
    entry.textLength = length - i - 1;
  }
  return entry;
}

// Visits the entries from index 0 until visit answers true; false when the
// list is not a valid, non-empty list or no entry matched.
template <typename Visit>
bool FindEntry(const VARIANT& list, Visit visit) {
  SAFEARRAY* array = nullptr;
  LONG lower = 0, count = 0;
  if (FAILED(OpenList(list, &array, &lower, &count)) || count <= 0) return false;
  BSTR* entries = nullptr;
  if (FAILED(::SafeArrayAccessData(array, reinterpret_cast<void**>(&entries)))) return false;
  bool found = false;
  for (LONG i = 0; i < count && !found; ++i) found = visit(i, ParseEntry(entries[i]));
  ::SafeArrayUnaccessData(array);
  return found;
}

// Replaces text with a cased copy; CharLowerBuffW/CharUpperBuffW work on the
// wide text itself, so characters outside the ANSI code page survive.
template <typename CaseMap>
HRESULT ChangeCase(BSTR& text, CaseMap caseMap) {
  const UINT length = ::SysStringLen(text);
  if (length == 0) return S_OK;
  BSTR result = ::SysAllocStringLen(text, length);
  if (!result) return E_OUTOFMEMORY;
  caseMap(result, length);
  ::SysFreeString(text);
  text = result;
  return S_OK;
}

}  // namespace

HRESULT FormatBstrV(BSTR* out, const wchar_t* format, va_list args) {
  if (!out || !format) return E_POINTER;
  *out = nullptr;
  const size_t formatLength = std::wcslen(format);
  for (size_t allowance = kFormatAllowance;; allowance *= 2) {
    const size_t size = std::min(formatLength + allowance, kFormatLimit);
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[size]);
    if (!buffer) return E_OUTOFMEMORY;
    va_list pass;
    va_copy(pass, args);
    // The CRT's own form, so that %s takes wide text as on the platform. It
    // answers -1 when the text does not fit and leaves out the terminator
    // when the text fills the buffer exactly: both count as not fitting.
    const int written = ::_vsnwprintf(buffer.get(), size, format, pass);
    va_end(pass);
    if (written >= 0 && static_cast<size_t>(written) < size) {
      *out = AllocOrThrow(buffer.get(), static_cast<size_t>(written));
      return S_OK;
    }
    if (size >= kFormatLimit) return E_FAIL;
  }
}

HRESULT FormatBstr(BSTR* out, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  HRESULT hr = FormatBstrV(out, format, args);
  va_end(args);
  return hr;
}

HRESULT BstrArrayGetAt(const VARIANT& list, LONG index, LONG* number, BSTR* text) {
  if (text) *text = nullptr;
  SAFEARRAY* array = nullptr;
  LONG lower = 0, count = 0;
  HRESULT hr = OpenList(list, &array, &lower, &count);
  if (FAILED(hr)) return hr;
  if (index < 0 || index >= count) return E_UNEXPECTED;
  BSTR* entries = nullptr;
  hr = ::SafeArrayAccessData(array, reinterpret_cast<void**>(&entries));
  if (FAILED(hr)) return hr;
  const Entry entry = ParseEntry(entries[index]);
  if (number) *number = entry.number;
  if (text) {
    *text = ::SysAllocStringLen(entry.text, entry.textLength);
    if (!*text) hr = E_OUTOFMEMORY;
  }
  ::SafeArrayUnaccessData(array);
  return hr;
}

bool BstrArrayFind(const VARIANT& list, const wchar_t* text, LONG* index, LONG* number) {
  com::Bstr wanted(text ? text : L"");  // raises com::ComError(E_OUTOFMEMORY)
  return FindEntry(list, [&](LONG i, const Entry& entry) {
    com::Bstr entryText(entry.text, entry.textLength);
    if (::VarBstrCmp(entryText.get(), wanted.get(), LOCALE_USER_DEFAULT, 0) != VARCMP_EQ)
      return false;
    if (index) *index = i;
    if (number) *number = entry.number;
    return true;
  });
}

bool BstrArrayGetAtChecked(const VARIANT& list, LONG number, LONG* index, BSTR* text) {
  return FindEntry(list, [&](LONG i, const Entry& entry) {
    if (entry.number != number) return false;
    if (index) *index = i;
    if (text) *text = AllocOrThrow(entry.text, entry.textLength);
    return true;
  });
}

HRESULT BstrArrayGetLowerBound(const VARIANT& list, LONG* count) {
  if (!count) return E_POINTER;
  SAFEARRAY* array = nullptr;
  LONG lower = 0;
  return OpenList(list, &array, &lower, count);
}

HRESULT BytesToHexString(const BYTE* bytes, ULONG count, BSTR* out) {
  if (!bytes || !out) return E_POINTER;
  *out = nullptr;
  if (count == 0) return E_INVALIDARG;
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  BSTR text = ::SysAllocStringLen(nullptr, count * 2);
  if (!text) return E_OUTOFMEMORY;
  for (ULONG i = 0; i < count; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0xF];
  }
  *out = text;
  return S_OK;
}

BSTR FormatIsoTimestamp() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  BSTR text = nullptr;
  FormatBstr(&text, L"%04u-%02u-%02uT%02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond);
  return text;
}

HRESULT BstrToLower(BSTR& text) {
  return ChangeCase(text, [](wchar_t* s, UINT n) { ::CharLowerBuffW(s, n); });
}

HRESULT BstrToUpper(BSTR& text) {
  return ChangeCase(text, [](wchar_t* s, UINT n) { ::CharUpperBuffW(s, n); });
}

HRESULT GuidToString(const GUID* guid, BSTR* out) {
  if (!guid || !out) return E_POINTER;
  *out = nullptr;
  wchar_t braced[40];
  if (::StringFromGUID2(*guid, braced, 40) != 39) return E_FAIL;
  BSTR text = ::SysAllocStringLen(braced + 1, 36);  // without the braces
  if (!text) return E_OUTOFMEMORY;
  ::CharUpperBuffW(text, 36);
  *out = text;
  return S_OK;
}

HRESULT VariantToString(const VARIANT* value, BSTR* out) {
  if (!value || !out) return E_POINTER;
  *out = nullptr;
  switch (V_VT(value)) {
    case VT_ARRAY | VT_UI1:
      return CFdtVariant::BytesToHexString(value, out, true);
    case VT_EMPTY: case VT_NULL: case VT_VOID:
      return FormatBstr(out, L"");
    case VT_I2:
      return FormatBstr(out, L"%i", static_cast<int>(V_I2(value)));
    case VT_I4: case VT_INT:
      return FormatBstr(out, L"%li", static_cast<long>(V_I4(value)));
    // "%f" in the C locale's form, whatever locale the C runtime has.
    case VT_R4:
      return FormatBstr(out, L"%s", FixedRealText(V_R4(value), 6).c_str());
    case VT_R8:
      return FormatBstr(out, L"%s", FixedRealText(V_R8(value), 6).c_str());
    case VT_BSTR:
      *out = AllocOrThrow(V_BSTR(value), ::SysStringLen(V_BSTR(value)));
      return S_OK;
    case VT_ERROR:
      return FormatBstr(out, L"0x%08X", static_cast<unsigned>(V_ERROR(value)));
    case VT_BOOL:
      return FormatBstr(out, V_BOOL(value) == VARIANT_TRUE ? L"True" : L"False");
    case VT_I1:
      return FormatBstr(out, L"%i", static_cast<int>(V_I1(value)));
    case VT_UI1:
      return FormatBstr(out, L"%u", static_cast<unsigned>(V_UI1(value)));
    case VT_UI2:
      return FormatBstr(out, L"%u", static_cast<unsigned>(V_UI2(value)));
    case VT_UI4: case VT_UINT:
      return FormatBstr(out, L"%lu", static_cast<unsigned long>(V_UI4(value)));
    default:
      return FormatBstr(out, L"...");
  }
}

char* VariantToStringN(const VARIANT* value, char* buffer, size_t maximum) {
  if (!buffer) return buffer;
  if (maximum == 0) maximum = MAX_PATH;
  buffer[0] = '\0';
  com::Bstr text;
  if (FAILED(VariantToString(value, text.put()))) return buffer;
  const int length = static_cast<int>(text.length());
  if (length == 0) return buffer;
  const int needed = ::WideCharToMultiByte(CP_ACP, 0, text.get(), length, nullptr, 0, nullptr,
                                           nullptr);
  if (needed > 0 && static_cast<size_t>(needed) < maximum) {
    ::WideCharToMultiByte(CP_ACP, 0, text.get(), length, buffer, needed, nullptr, nullptr);
    buffer[needed] = '\0';
  }
  return buffer;
}

bool ToThreadCodePage(const wchar_t* text, size_t length, std::string* bytes) {
  if (!bytes) return false;
  if (length == 0) {
    bytes->clear();
    return true;
  }
  if (!text || length > 0x7FFFFFFF) return false;
  const int count = static_cast<int>(length);
  BOOL lost = FALSE;
  int size = ::WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, text, count, nullptr, 0,
                                   nullptr, &lost);
  if (size <= 0 && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    // A code page without a default character (UTF-8) takes every character.
    size = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, count, nullptr, 0, nullptr, nullptr);
    lost = FALSE;
  }
  if (size <= 0 || lost) return false;
  std::string out(static_cast<size_t>(size), '\0');
  if (::WideCharToMultiByte(CP_THREAD_ACP, 0, text, count, &out[0], size, nullptr, nullptr) != size)
    return false;
  *bytes = std::move(out);
  return true;
}

std::wstring WideFromAnsi(const char* text, UINT codePage) {
  if (!text || !*text) return std::wstring();
  const int size = ::MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(size), L'\0');
  if (::MultiByteToWideChar(codePage, 0, text, -1, &out[0], size) != size) return std::wstring();
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

std::string AnsiFromWide(const wchar_t* text, UINT codePage) {
  if (!text || !*text) return std::string();
  const int size = ::WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  if (::WideCharToMultiByte(codePage, 0, text, -1, &out[0], size, nullptr, nullptr) != size) return std::string();
  out.resize(static_cast<size_t>(size - 1));
  return out;
}
