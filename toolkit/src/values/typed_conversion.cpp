// The platform's typed conversion (VarXxxFromYyy) of every pair of value
// types that CFdtVariant converts between. Going through the typed functions
// rather than VariantChangeTypeEx keeps their range checks: a value outside
// the target's range is refused with DISP_E_OVERFLOW, never wrapped.
#include "typed_conversion.h"

HRESULT TypedConversion(const VARIANT& s, VARTYPE target, void* out, LCID lcid,
                        ULONG textFlags) {
  VARIANT& v = const_cast<VARIANT&>(s);
  switch (target) {
    case VT_I2: {
      auto* o = static_cast<SHORT*>(out);
      switch (V_VT(&v)) {
        case VT_I4: return VarI2FromI4(V_I4(&v), o);
        case VT_R4: return VarI2FromR4(V_R4(&v), o);
        case VT_R8: return VarI2FromR8(V_R8(&v), o);
        case VT_CY: return VarI2FromCy(V_CY(&v), o);
        case VT_DATE: return VarI2FromDate(V_DATE(&v), o);
        case VT_BSTR: return VarI2FromStr(V_BSTR(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarI2FromDisp(V_DISPATCH(&v), lcid, o);
        case VT_BOOL: return VarI2FromBool(V_BOOL(&v), o);
        case VT_DECIMAL: return VarI2FromDec(&V_DECIMAL(&v), o);
        case VT_I1: return VarI2FromI1(V_I1(&v), o);
        case VT_UI1: return VarI2FromUI1(V_UI1(&v), o);
        case VT_UI2: return VarI2FromUI2(V_UI2(&v), o);
        case VT_UI4: return VarI2FromUI4(V_UI4(&v), o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    case VT_I4: {
      auto* o = static_cast<LONG*>(out);
      switch (V_VT(&v)) {
        case VT_I2: return VarI4FromI2(V_I2(&v), o);
        case VT_R4: return VarI4FromR4(V_R4(&v), o);
        case VT_R8: return VarI4FromR8(V_R8(&v), o);
        case VT_CY: return VarI4FromCy(V_CY(&v), o);
        case VT_DATE: return VarI4FromDate(V_DATE(&v), o);
        case VT_BSTR: return VarI4FromStr(V_BSTR(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarI4FromDisp(V_DISPATCH(&v), lcid, o);
        case VT_BOOL: return VarI4FromBool(V_BOOL(&v), o);
        case VT_DECIMAL: return VarI4FromDec(&V_DECIMAL(&v), o);
        case VT_I1: return VarI4FromI1(V_I1(&v), o);
        case VT_UI1: return VarI4FromUI1(V_UI1(&v), o);
        case VT_UI2: return VarI4FromUI2(V_UI2(&v), o);
        case VT_UI4: return VarI4FromUI4(V_UI4(&v), o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    case VT_R4: {
      auto* o = static_cast<FLOAT*>(out);
      switch (V_VT(&v)) {
        case VT_I2: return VarR4FromI2(V_I2(&v), o);
        case VT_I4: return VarR4FromI4(V_I4(&v), o);
        case VT_R8: return VarR4FromR8(V_R8(&v), o);
        case VT_CY: return VarR4FromCy(V_CY(&v), o);
        case VT_DATE: return VarR4FromDate(V_DATE(&v), o);
        case VT_BSTR: return VarR4FromStr(V_BSTR(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarR4FromDisp(V_DISPATCH(&v), lcid, o);
        case VT_BOOL: return VarR4FromBool(V_BOOL(&v), o);
        case VT_DECIMAL: return VarR4FromDec(&V_DECIMAL(&v), o);
        case VT_I1: return VarR4FromI1(V_I1(&v), o);
        case VT_UI1: return VarR4FromUI1(V_UI1(&v), o);
        case VT_UI2: return VarR4FromUI2(V_UI2(&v), o);
        case VT_UI4: return VarR4FromUI4(V_UI4(&v), o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    case VT_R8: {
      auto* o = static_cast<DOUBLE*>(out);
      switch (V_VT(&v)) {
        case VT_I2: return VarR8FromI2(V_I2(&v), o);
        case VT_I4: return VarR8FromI4(V_I4(&v), o);
        case VT_R4: return VarR8FromR4(V_R4(&v), o);
        case VT_CY: return VarR8FromCy(V_CY(&v), o);
        case VT_DATE: return VarR8FromDate(V_DATE(&v), o);
        case VT_BSTR: return VarR8FromStr(V_BSTR(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarR8FromDisp(V_DISPATCH(&v), lcid, o);
        case VT_BOOL: return VarR8FromBool(V_BOOL(&v), o);
        case VT_DECIMAL: return VarR8FromDec(&V_DECIMAL(&v), o);
        case VT_I1: return VarR8FromI1(V_I1(&v), o);
        case VT_UI1: return VarR8FromUI1(V_UI1(&v), o);
        case VT_UI2: return VarR8FromUI2(V_UI2(&v), o);
        case VT_UI4: return VarR8FromUI4(V_UI4(&v), o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    case VT_CY: {
      auto* o = static_cast<CY*>(out);
      switch (V_VT(&v)) {
        case VT_I2: return VarCyFromI2(V_I2(&v), o);
        case VT_I4: return VarCyFromI4(V_I4(&v), o);
        case VT_R4: return VarCyFromR4(V_R4(&v), o);
        case VT_R8: return VarCyFromR8(V_R8(&v), o);
        case VT_DATE: return VarCyFromDate(V_DATE(&v), o);
        case VT_BSTR: return VarCyFromStr(V_BSTR(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarCyFromDisp(V_DISPATCH(&v), lcid, o);
        case VT_BOOL: return VarCyFromBool(V_BOOL(&v), o);
        case VT_DECIMAL: return VarCyFromDec(&V_DECIMAL(&v), o);
        case VT_I1: return VarCyFromI1(V_I1(&v), o);
        case VT_UI1: return VarCyFromUI1(V_UI1(&v), o);
        case VT_UI2: return VarCyFromUI2(V_UI2(&v), o);
        case VT_UI4: return VarCyFromUI4(V_UI4(&v), o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    case VT_DATE: {
      auto* o = static_cast<DATE*>(out);
      switch (V_VT(&v)) {
        case VT_I2: return VarDateFromI2(V_I2(&v), o);
        case VT_I4: return VarDateFromI4(V_I4(&v), o);
        case VT_R4: return VarDateFromR4(V_R4(&v), o);
        case VT_R8: return VarDateFromR8(V_R8(&v), o);
        case VT_CY: return VarDateFromCy(V_CY(&v), o);
        case VT_BSTR: return VarDateFromStr(V_BSTR(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarDateFromDisp(V_DISPATCH(&v), lcid, o);
        case VT_BOOL: return VarDateFromBool(V_BOOL(&v), o);
        case VT_DECIMAL: return VarDateFromDec(&V_DECIMAL(&v), o);
        case VT_I1: return VarDateFromI1(V_I1(&v), o);
        case VT_UI1: return VarDateFromUI1(V_UI1(&v), o);
        case VT_UI2: return VarDateFromUI2(V_UI2(&v), o);
        case VT_UI4: return VarDateFromUI4(V_UI4(&v), o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    case VT_BOOL: {
      auto* o = static_cast<VARIANT_BOOL*>(out);
      switch (V_VT(&v)) {
        case VT_I2: return VarBoolFromI2(V_I2(&v), o);
        case VT_I4: return VarBoolFromI4(V_I4(&v), o);
        case VT_R4: return VarBoolFromR4(V_R4(&v), o);
        case VT_R8: return VarBoolFromR8(V_R8(&v), o);
        case VT_CY: return VarBoolFromCy(V_CY(&v), o);
        case VT_DATE: return VarBoolFromDate(V_DATE(&v), o);
        case VT_BSTR: return VarBoolFromStr(V_BSTR(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarBoolFromDisp(V_DISPATCH(&v), lcid, o);
        case VT_DECIMAL: return VarBoolFromDec(&V_DECIMAL(&v), o);
        case VT_I1: return VarBoolFromI1(V_I1(&v), o);
        case VT_UI1: return VarBoolFromUI1(V_UI1(&v), o);
        case VT_UI2: return VarBoolFromUI2(V_UI2(&v), o);
        case VT_UI4: return VarBoolFromUI4(V_UI4(&v), o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    case VT_DECIMAL: {
      auto* o = static_cast<DECIMAL*>(out);
      switch (V_VT(&v)) {
        case VT_I2: return VarDecFromI2(V_I2(&v), o);
        case VT_I4: return VarDecFromI4(V_I4(&v), o);
        case VT_R4: return VarDecFromR4(V_R4(&v), o);
        case VT_R8: return VarDecFromR8(V_R8(&v), o);
        case VT_CY: return VarDecFromCy(V_CY(&v), o);
        case VT_DATE: return VarDecFromDate(V_DATE(&v), o);
        case VT_BSTR: return VarDecFromStr(V_BSTR(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarDecFromDisp(V_DISPATCH(&v), lcid, o);
        case VT_BOOL: return VarDecFromBool(V_BOOL(&v), o);
        case VT_I1: return VarDecFromI1(V_I1(&v), o);
        case VT_UI1: return VarDecFromUI1(V_UI1(&v), o);
        case VT_UI2: return VarDecFromUI2(V_UI2(&v), o);
        case VT_UI4: return VarDecFromUI4(V_UI4(&v), o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    case VT_I1: {
      auto* o = static_cast<CHAR*>(out);
      switch (V_VT(&v)) {
        case VT_I2: return VarI1FromI2(V_I2(&v), o);
        case VT_I4: return VarI1FromI4(V_I4(&v), o);
        case VT_R4: return VarI1FromR4(V_R4(&v), o);
        case VT_R8: return VarI1FromR8(V_R8(&v), o);
        case VT_CY: return VarI1FromCy(V_CY(&v), o);
        case VT_DATE: return VarI1FromDate(V_DATE(&v), o);
        case VT_BSTR: return VarI1FromStr(V_BSTR(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarI1FromDisp(V_DISPATCH(&v), lcid, o);
        case VT_BOOL: return VarI1FromBool(V_BOOL(&v), o);
        case VT_DECIMAL: return VarI1FromDec(&V_DECIMAL(&v), o);
        case VT_UI1: return VarI1FromUI1(V_UI1(&v), o);
        case VT_UI2: return VarI1FromUI2(V_UI2(&v), o);
        case VT_UI4: return VarI1FromUI4(V_UI4(&v), o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    case VT_UI1: {
      auto* o = static_cast<BYTE*>(out);
      switch (V_VT(&v)) {
        case VT_I2: return VarUI1FromI2(V_I2(&v), o);
        case VT_I4: return VarUI1FromI4(V_I4(&v), o);
        case VT_R4: return VarUI1FromR4(V_R4(&v), o);
        case VT_R8: return VarUI1FromR8(V_R8(&v), o);
        case VT_CY: return VarUI1FromCy(V_CY(&v), o);
        case VT_DATE: return VarUI1FromDate(V_DATE(&v), o);
        case VT_BSTR: return VarUI1FromStr(V_BSTR(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarUI1FromDisp(V_DISPATCH(&v), lcid, o);
        case VT_BOOL: return VarUI1FromBool(V_BOOL(&v), o);
        case VT_DECIMAL: return VarUI1FromDec(&V_DECIMAL(&v), o);
        case VT_I1: return VarUI1FromI1(V_I1(&v), o);
        case VT_UI2: return VarUI1FromUI2(V_UI2(&v), o);
        case VT_UI4: return VarUI1FromUI4(V_UI4(&v), o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    case VT_UI2: {
      auto* o = static_cast<USHORT*>(out);
      switch (V_VT(&v)) {
        case VT_I2: return VarUI2FromI2(V_I2(&v), o);
        case VT_I4: return VarUI2FromI4(V_I4(&v), o);
        case VT_R4: return VarUI2FromR4(V_R4(&v), o);
        case VT_R8: return VarUI2FromR8(V_R8(&v), o);
        case VT_CY: return VarUI2FromCy(V_CY(&v), o);
        case VT_DATE: return VarUI2FromDate(V_DATE(&v), o);
        case VT_BSTR: return VarUI2FromStr(V_BSTR(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarUI2FromDisp(V_DISPATCH(&v), lcid, o);
        case VT_BOOL: return VarUI2FromBool(V_BOOL(&v), o);
        case VT_DECIMAL: return VarUI2FromDec(&V_DECIMAL(&v), o);
        case VT_I1: return VarUI2FromI1(V_I1(&v), o);
        case VT_UI1: return VarUI2FromUI1(V_UI1(&v), o);
        case VT_UI4: return VarUI2FromUI4(V_UI4(&v), o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    case VT_UI4: {
      auto* o = static_cast<ULONG*>(out);
      switch (V_VT(&v)) {
        case VT_I2: return VarUI4FromI2(V_I2(&v), o);
        case VT_I4: return VarUI4FromI4(V_I4(&v), o);
        case VT_R4: return VarUI4FromR4(V_R4(&v), o);
        case VT_R8: return VarUI4FromR8(V_R8(&v), o);
        case VT_CY: return VarUI4FromCy(V_CY(&v), o);
        case VT_DATE: return VarUI4FromDate(V_DATE(&v), o);
        case VT_BSTR: return VarUI4FromStr(V_BSTR(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarUI4FromDisp(V_DISPATCH(&v), lcid, o);
        case VT_BOOL: return VarUI4FromBool(V_BOOL(&v), o);
        case VT_DECIMAL: return VarUI4FromDec(&V_DECIMAL(&v), o);
        case VT_I1: return VarUI4FromI1(V_I1(&v), o);
        case VT_UI1: return VarUI4FromUI1(V_UI1(&v), o);
        case VT_UI2: return VarUI4FromUI2(V_UI2(&v), o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    case VT_BSTR: {
      auto* o = static_cast<BSTR*>(out);
      switch (V_VT(&v)) {
        case VT_I2: return VarBstrFromI2(V_I2(&v), lcid, textFlags, o);
        case VT_I4: return VarBstrFromI4(V_I4(&v), lcid, textFlags, o);
        case VT_R4: return VarBstrFromR4(V_R4(&v), lcid, textFlags, o);
        case VT_R8: return VarBstrFromR8(V_R8(&v), lcid, textFlags, o);
        case VT_CY: return VarBstrFromCy(V_CY(&v), lcid, textFlags, o);
        case VT_DATE: return VarBstrFromDate(V_DATE(&v), lcid, textFlags, o);
        case VT_DISPATCH: return VarBstrFromDisp(V_DISPATCH(&v), lcid, textFlags, o);
        case VT_BOOL: return VarBstrFromBool(V_BOOL(&v), lcid, textFlags, o);
        case VT_DECIMAL: return VarBstrFromDec(&V_DECIMAL(&v), lcid, textFlags, o);
        case VT_I1: return VarBstrFromI1(V_I1(&v), lcid, textFlags, o);
        case VT_UI1: return VarBstrFromUI1(V_UI1(&v), lcid, textFlags, o);
        case VT_UI2: return VarBstrFromUI2(V_UI2(&v), lcid, textFlags, o);
        case VT_UI4: return VarBstrFromUI4(V_UI4(&v), lcid, textFlags, o);
        default: return DISP_E_TYPEMISMATCH;
      }
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}
