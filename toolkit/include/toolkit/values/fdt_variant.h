// CFdtVariant: the toolkit's VARIANT holder, and the conversions every value
// goes through on its way between parameters, FDT documents, COM interfaces
// and threads.
//
// The conversion routines are static and work on plain VARIANTs; source and
// destination may be the same VARIANT. They answer HRESULTs and never raise;
// a failure leaves the destination as it was. Only the copying constructors
// raise (com::ComError with the failing code, after setting VT_ERROR).
//
// Conversion flags (all toolkit callers pass 0): 2 writes VT_BOOL as the
// platform's boolean words instead of "-1"/"0"; 4 ignores the user's locale
// overrides when parsing and writing text; the low five bits go to
// VariantChangeTypeEx unchanged.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>

#include "com/Variant.h"

struct IXMLDOMNode;

class CFdtVariant : public com::Variant {
 public:
  CFdtVariant() = default;
  // VT_UI4: the form in which command codes and identifiers travel.
  explicit CFdtVariant(ULONG value);
  // Deep copy; raises com::ComError with VariantCopy's code.
  explicit CFdtVariant(const VARIANT& other) : com::Variant(other) {}
  // VT_BSTR copy (null text: null BSTR); raises com::ComError(E_OUTOFMEMORY).
  explicit CFdtVariant(const wchar_t* text) : com::Variant(text) {}
  CFdtVariant(const CFdtVariant& other) = default;
  CFdtVariant& operator=(const CFdtVariant& other) = default;
  virtual ~CFdtVariant() = default;

  // Converts src to vartype into dest: scalars through the platform, empty
  // text as the number 0, byte arrays to and from hexadecimal text, the first
  // element of an array to a scalar, and scalars and arrays to arrays.
  static HRESULT ConvertTo(VARIANT* dest, const VARIANT* src, VARTYPE vartype, LCID lcid = 0,
                           USHORT flags = 0);
  // A new array of targetType with the dimensions and bounds of src, every
  // element converted with ConvertScalar.
  static HRESULT ConvertArray(SAFEARRAY* src, SAFEARRAY** out, VARTYPE sourceType,
                              VARTYPE targetType, LCID lcid = 0, USHORT flags = 0);
  // Converts one raw value: the data part of a VARIANT (a whole DECIMAL for
  // VT_DECIMAL), or a VARIANT when the target is VT_VARIANT. The destination
  // holds nothing yet and receives a value the caller then owns.
  static HRESULT ConvertScalar(const void* sourceData, void* destinationData, VARTYPE sourceType,
                               VARTYPE targetType, LCID lcid = 0, USHORT flags = 0);

  // VT_ARRAY|VT_UI1 (one dimension) to upper-case hexadecimal text. A value of
  // another type gives the empty text when lenient, else E_INVALIDARG.
  static HRESULT BytesToHexString(const VARIANT* value, BSTR* out, bool lenient = false);
  // Hexadecimal text (either case, no separators) to VT_ARRAY|VT_UI1. An
  // empty text clears dest, or gives an empty byte array with keepEmpty.
  static HRESULT FromHexString(VARIANT* dest, const wchar_t* text, bool keepEmpty = false);

  // Whether a parameter value changed: see the rules in the source.
  static bool IsEqual(const VARIANT& a, const VARIANT& b);

  // Typed getters: the value itself when it has the type, else a platform
  // conversion (whose failure is answered). Out-values are owned by the caller.
  static HRESULT GetUI4(const VARIANT& value, ULONG* out);
  static HRESULT GetBool(const VARIANT& value, VARIANT_BOOL* out);
  static HRESULT GetBstr(const VARIANT& value, BSTR* out);
  static HRESULT GetUnknown(const VARIANT& value, IUnknown** out);
};

// Hexadecimal text into a caller's buffer: the byte count, 0 for an empty
// text, -1 for a null buffer, an odd length, a text longer than twice the
// capacity or a character that is not a hexadecimal digit.
int HexStringToBytes(const wchar_t* text, BYTE* buffer, size_t capacity);

// Removes from text every character that occurs in characterSet (order of the
// others kept). A null set or an empty text leave it unchanged.
HRESULT RemoveChars(BSTR& text, const wchar_t* characterSet);

// The value of the node that xpath selects below node, converted to vartype.
// VT_BSTR reads nodeValue, other types nodeTypedValue. VT_R4 and VT_R8 text
// is read without locale: its first "." (else its first ",") is the decimal
// separator, so that "1.5" reads as 1.5 whatever the user's locale.
HRESULT ReadNodeValue(IXMLDOMNode* node, const wchar_t* xpath, VARIANT* out, VARTYPE vartype);

// The name under which the DTM's parts know the same reader.
inline HRESULT XmlReadTypedValue(IXMLDOMNode* node, const wchar_t* xpath, VARIANT* out,
                                 VARTYPE vartype) {
  return ReadNodeValue(node, xpath, out, vartype);
}
