// FDT enumeration texts, FDT data-type names, and the identifier text that
// the frame application may supply. CevFDT_BaseDTMImpl's EnumToText and
// sibling lookups, DataTypeName, DataTypeFromName and BytesToHex answer
// through these.
//
// Text comparison is exact and case-sensitive. Out-strings are new BSTRs.
#pragma once

#include <windows.h>
#include <oleauto.h>

// Value to text: E_POINTER for a null out pointer, E_FAIL for a value that
// is not in the table.
HRESULT ApplicationIdToText(LONG value, BSTR* out);  // "fdtAdjustSetValue" ...
HRESULT StatusToText(LONG value, BSTR* out);         // "ok" ...
HRESULT StorageToText(LONG value, BSTR* out);        // "persistent", "transient"
HRESULT DataStateToText(LONG value, BSTR* out);      // "default" ...

// Text to value: E_POINTER for a null out pointer, E_FAIL when no text
// matches.
HRESULT ApplicationIdFromText(const wchar_t* text, LONG* value);
HRESULT ApplicationBitFromText(const wchar_t* text, LONG* value);  // "engineering" ...

// VARTYPE to FDT data-type name. Types without a name of their own (text,
// byte arrays, dates and everything else) give "hexString" with S_FALSE;
// VT_EMPTY gives E_FAIL; a null out pointer E_INVALIDARG.
HRESULT DataTypeName(VARTYPE vartype, BSTR* out);
// FDT data-type name to VARTYPE; false for a name that is not known.
bool DataTypeFromName(const wchar_t* name, VARTYPE* out);

// An identifier as text. The DTM interface is asked for the frame's
// identifier-text interface; without it the text is value as "%08X", with it
// the frame's answer (an array of VT_UI4) as "%08X" each, concatenated.
// kind selects the frame's kind 1 (true) or 2 (false). E_UNEXPECTED for any
// other answer of the frame; E_POINTER for a null out pointer.
HRESULT BytesToHex(IUnknown* dtmInterface, ULONG value, bool kind, BSTR* out);
