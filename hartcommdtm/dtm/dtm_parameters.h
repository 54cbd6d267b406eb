// The DTM's parameter table and the two declaration functions with which
// the DTM (and the channel, for its own parameter) declare rows.
//
// A row gives id, name, VARTYPE, lower and upper limit, default and initial
// value, then the toolkit's three attribute words (persist, access flags,
// lowest writing role) and the extra attribute word.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "fdtidl/ToolkitHooks.h"

struct ParameterAttributes {
  ULONG persist;
  ULONG flags;
  ULONG storage;
  ULONG extra;
};

// Limits, default and initial value as doubles, changed to vt. A value that
// does not convert, a lower limit above the upper one, or (when the upper
// limit is above the lower one) a default or initial value outside them
// marks the row invalid (flag 0x04); equal limits mean no range.
HRESULT DeclareNumericParameter(IevFdtParameterStore* store, ULONG id, const char* name,
                                VARTYPE vt, double lower, double upper, double defaultValue,
                                double initialValue, const ParameterAttributes& attributes);

// Limits, default and initial value as texts. For VT_BSTR (and array) rows
// the limits become VT_UI4 lengths; limits that are not numbers are changed
// to vt instead. Any of those texts that does not convert (limits that are
// no lengths, a default or initial value that is no vt) marks the row with
// 0x08, never with 0x04. No range check.
HRESULT DeclareTextParameter(IevFdtParameterStore* store, ULONG id, const char* name,
                             VARTYPE vt, const char* lower, const char* upper,
                             const char* defaultValue, const char* initialValue,
                             const ParameterAttributes& attributes);

// Declares the DTM's rows in their order; *count (when given) receives the
// number of parameters in the store afterwards.
HRESULT CreateDtmParameterTable(IevFdtParameterStore* store, ULONG* count);
