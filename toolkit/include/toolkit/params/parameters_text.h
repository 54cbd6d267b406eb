// The PARAMETERS text: the flat list of parameter values that export,
// import, the persisted data's change notice and the channel collection
// carry, and the value texts in it.
//
//   <PARAMETERS> \r\n
//   <Parameter \r\n\tid    ="1" \r\n\tname  ="DTM Tag" \r\n\ttype  ="VT_BSTR" \r\n\tvalue ="x" \r\n/> \r\n
//   ...
//   </PARAMETERS> \r\n
//
// Names and values are escaped as attribute text, so any name or value
// keeps the document well formed. Value texts depend neither on the user's
// locale nor on the one a frame gave the C runtime: reals are written with
// enough digits to read back the same number ("%.9g", "%.17g" in the C
// locale's form), dates, currency and decimals in the invariant locale.
#pragma once

#include <windows.h>
#include <oleauto.h>

// One Parameter entry: id, name (the display name), the value's VARTYPE name
// and the value's text.
HRESULT FormatParametersEntry(ULONG id, const wchar_t* name, const VARIANT& value, BSTR* out);
// The list around concatenated entries.
HRESULT FormatParametersList(const wchar_t* entries, BSTR* out);

// A value as the text written into a value attribute (not yet escaped):
// booleans "True"/"False", integers in decimal, byte arrays as hexadecimal
// text, reals in round-trip form, dates, currency and decimals in the
// invariant locale.
HRESULT ParametersValueText(const VARIANT& value, BSTR* out);
// The text read back as vartype: the inverse of ParametersValueText
// (hexadecimal text may contain " .,:;" separators). The conversion error
// when the text does not read as that type.
HRESULT ParametersValueFromText(const wchar_t* text, VARTYPE vartype, VARIANT* out);
