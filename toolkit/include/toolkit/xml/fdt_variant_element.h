// The FDT value document fdt:Variant (writer and reader) and the value
// element of a range bound: the one place where a value becomes FDT value
// text and back. The parameter document, data access and the exported
// variables all go through here.
//
// Numbers and dates are written and read in the invariant locale, never the
// user's: a document written on one machine reads the same on any other
// (with the user's locale, 2.5 became "2,5" and read back as 25, and a date
// did not read back at all). A real is written with the platform's 7
// (float) or 15 (double) significant digits where they read back to the
// same value, else with as many more as it takes (at most 9 or 17), and a
// real in plain decimal form is read correctly rounded: a value that a
// frame reads and writes back stays the same to the last bit; -0 keeps its
// sign, and infinities and NaN are written and read in XML Schema's forms
// "INF", "-INF" and "NaN" (a NaN comes back as NaN, its payload is not
// kept). Byte arrays
// are upper-case hexadecimal text, strings are written unchanged (escaped as
// XML attribute text).
#pragma once

#include <windows.h>
#include <oaidl.h>

struct IXMLDOMNode;

// The fdt:Variant document of a value:
//   <fdt:Variant xmlns:fdt="x-schema:FDTDataTypesSchema.xml" dataType="double">
//   <fdt:NumberData number="2.5" /></fdt:Variant>
// for VT_UI1 "byte", VT_UI4 "unsigned", VT_I4 "int", VT_R4 "float",
// VT_R8 "double" (NumberData), VT_DATE "dateAndTime" (TimeData), VT_BSTR
// "ascii" and VT_ARRAY|VT_UI1 "hexString" (StringData). S_FALSE (and *out
// null) for any other type; E_INVALIDARG for a null out pointer.
HRESULT BuildFdtVariant(const VARIANT& value, BSTR* out);

// A range bound's value element ("<fdt:NumberData number="..." />" and the
// like) for dates, numbers of any width, text and byte arrays; S_FALSE for
// other types, E_INVALIDARG for a null out pointer.
HRESULT BuildFdtValueElement(const VARIANT& value, BSTR* out);

// Reads an fdt:Variant element (matched by local names) into a value of its
// data type; a missing attribute, an unknown type name or text that does
// not convert fails and leaves *value empty.
HRESULT ParseFdtVariant(IXMLDOMNode* variantNode, VARIANT* value);
