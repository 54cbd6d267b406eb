// Small text helpers shared by every part of the DTM: formatting into BSTRs,
// number-and-text lists, hexadecimal, GUID and time-stamp texts, and VARIANT
// and VARTYPE texts for traces.
//
// All answer HRESULTs unless said otherwise; out-strings are new BSTRs that
// the caller frees.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdarg>
#include <cstddef>
#include <string>

// printf-style wide formatting into a new BSTR, with the platform's wide
// conventions: %s and %c take wide text, %S and %C 8-bit text; %ls and %hs
// say it explicitly. The buffer grows until the text fits; E_FAIL when it
// does not fit in 524,288 characters (nothing is ever cut silently).
// E_POINTER for a null out pointer or format. Raises com::ComError
// (E_OUTOFMEMORY) when the BSTR cannot be allocated.
HRESULT FormatBstr(BSTR* out, const wchar_t* format, ...);
HRESULT FormatBstrV(BSTR* out, const wchar_t* format, va_list args);

// Number-and-text lists: VT_ARRAY|VT_BSTR, one dimension, each entry
// "<number>;<text>" where the number is decimal, or hexadecimal after an "x"
// ("0x1F;Mode"), and every "-" in it negates it.
//
// The entry at index (from 0): its number and text. E_INVALIDARG for another
// type or shape, E_UNEXPECTED for a null array or an index out of range.
HRESULT BstrArrayGetAt(const VARIANT& list, LONG index, LONG* number, BSTR* text);
// The first entry whose text equals text (VarBstrCmp, user locale): its index
// and number. False for a wrong list or no match.
bool BstrArrayFind(const VARIANT& list, const wchar_t* text, LONG* index, LONG* number);
// The first entry whose number equals number: its index and text.
bool BstrArrayGetAtChecked(const VARIANT& list, LONG number, LONG* index, BSTR* text);
// The number of entries (0 first, then E_INVALIDARG / E_UNEXPECTED as above).
HRESULT BstrArrayGetLowerBound(const VARIANT& list, LONG* count);

// Bytes as upper-case hexadecimal text, two digits per byte, no separators.
// E_POINTER for null bytes or out, E_INVALIDARG for a count of 0.
HRESULT BytesToHexString(const BYTE* bytes, ULONG count, BSTR* out);

// The current UTC time as "YYYY-MM-DDThh:mm:ss" (null when out of memory).
BSTR FormatIsoTimestamp();

// Lower- or upper-cases the text in place (a new BSTR replaces the old one);
// a null or empty text stays as it is.
HRESULT BstrToLower(BSTR& text);
HRESULT BstrToUpper(BSTR& text);

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", upper case, no braces.
HRESULT GuidToString(const GUID* guid, BSTR* out);

// VARTYPE names ("VT_UI1 | VT_ARRAY"): see the table in fdt_texts.cpp.
HRESULT VarTypeFromString(const wchar_t* text, VARTYPE* out);
BSTR VarTypeToStringEx(VARTYPE vartype);  // null when out of memory

// A value as trace text. VariantToStringN writes it as 8-bit text into the
// caller's buffer of maximum characters (0 means 260) when it fits with its
// terminator, else leaves the buffer empty; it returns buffer.
HRESULT VariantToString(const VARIANT* value, BSTR* out);
char* VariantToStringN(const VARIANT* value, char* buffer, size_t maximum);

// length characters of text in the thread's ANSI code page (CP_THREAD_ACP),
// for a stored text that must be 8-bit. false, *bytes unchanged, when a
// character has no place in that code page: as "?" or a look-alike it
// would be lost without a word.
bool ToThreadCodePage(const wchar_t* text, size_t length, std::string* bytes);

// 8-bit text in a code page (the ANSI one unless given) as wide text, and
// back: the 8-bit names and formats of the DTM's tables, and what ANSI
// windows, traces and HTML Help take. Empty for a null text or one that
// does not convert.
std::wstring WideFromAnsi(const char* text, UINT codePage = CP_ACP);
std::string AnsiFromWide(const wchar_t* text, UINT codePage = CP_ACP);

// E_POINTER for a null pointer, else S_OK.
inline HRESULT CheckPointer(const void* p) { return p ? S_OK : E_POINTER; }
