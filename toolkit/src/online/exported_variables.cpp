// Applying the exported variables of a device document to the parameters,
// and IDtmParameter::SetParameters on top of it.
#include "toolkit/online/online_transfer.h"

#include "com/Guard.h"

HRESULT OnlineTransferCore::ApplyDocumentVariables(IDispatch*) { return E_NOTIMPL; }

HRESULT OnlineTransferCore::SetParameterDocument(BSTR, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return E_NOTIMPL;
}
