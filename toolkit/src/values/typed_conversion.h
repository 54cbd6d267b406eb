// Internal to the toolkit's value conversions.
#pragma once

#include <windows.h>
#include <oleauto.h>

// Converts the value of source (a scalar of VT_I2, VT_I4, VT_R4, VT_R8, VT_CY,
// VT_DATE, VT_BSTR, VT_DISPATCH, VT_BOOL, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2 or
// VT_UI4) to target (the same list without VT_DISPATCH) into out, which
// points to a value of the target's own C type (BSTR for VT_BSTR, DECIMAL for
// VT_DECIMAL). textFlags (LOCALE_NOUSEROVERRIDE or 0) reach the text
// conversions. DISP_E_TYPEMISMATCH for a pair outside the table or equal
// types.
HRESULT TypedConversion(const VARIANT& source, VARTYPE target, void* out, LCID lcid,
                        ULONG textFlags);
