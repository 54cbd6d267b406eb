// The parameter section of a persisted stream (the DTM's and each channel's).
//
// Layout, every item in the VARIANT stream form (2-byte VARTYPE, then the
// value; see com/StreamForm.h; a byte array VT_ARRAY|VT_UI1 is written as
// 0x2011 followed by its upper-case hexadecimal text in the BSTR form):
//
//   count                       VT_I4: the number of persistent parameters
//   per persistent parameter, ascending id:
//     id                        VT_UI4
//     value                     changed to the parameter's VARTYPE
//     minimum, maximum, default only with ParamHandlerOptions::saveLimits
//     flags                     VT_UI4
//     extra5                    only with ParamHandlerOptions::saveExtra5
//
// The reader must use the writer's options.
#pragma once

#include <windows.h>
#include <objidl.h>

#include "com/Variant.h"
#include "fdtidl/ToolkitHooks.h"

struct ParamStreamOptions {
  bool saveLimits = false;
  bool saveExtra5 = false;
};

// Writes the section of the parameters in store. Stream write errors are
// answered (nothing written is taken back); a record that cannot be read
// ends the save with its HRESULT.
HRESULT SaveParameterSection(IStream* stream, IevFdtParameterStore* store,
                             const ParamStreamOptions& options);

// Reads a section and applies it to store: each stored parameter that store
// holds gets the stored value, flags (and, by the options, limits and
// extra5); ids that store does not hold are dropped. A read error, a
// negative count or a malformed item ends the load before anything is
// applied: store stays as it was, and the stream is moved back to where the
// section began.
HRESULT LoadParameterSection(IStream* stream, IevFdtParameterStore* store,
                             const ParamStreamOptions& options);

// One value in the section's stream form, and back (a byte array as hex text).
HRESULT WriteParamValue(IStream* stream, const VARIANT& value);
HRESULT ReadParamValue(IStream* stream, com::Variant& value);
