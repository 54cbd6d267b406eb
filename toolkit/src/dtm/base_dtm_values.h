// Small values that the base DTM's files build often.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "com/Bstr.h"
#include "com/Variant.h"
#include "toolkit.h"

namespace base_dtm {

inline com::Variant I4(LONG value) { return com::Variant(value); }

// Calls visit(id) for every parameter, in index (ascending id) order; the
// first failure ends the walk and is returned.
template <class Visit>
HRESULT ForEachParameter(IevFdtParameterInfo* info, Visit visit) {
  com::Variant count;
  HRESULT hr = info->GetCount(count.get());
  if (FAILED(hr)) return hr;
  hr = count.changeType(VT_UI4);
  if (FAILED(hr)) return hr;
  for (ULONG i = 0; i < V_UI4(count.get()); ++i) {
    com::Variant id;
    hr = info->GetParameterId(*com::ui4(i).get(), id.get());
    if (FAILED(hr)) return hr;
    hr = visit(*id.get());
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace base_dtm
