// The DTM's parameters as one FDT document (IDtmParameter::GetParameters):
// the DTM's storage and data-set state, its tag, data text and channel
// references from a fixed template, and, when that text loads, the
// exported parameters under ExportedVariables, nested in the groups their
// group paths name.
//
// A DTM class derives from CevFDT_ParameterDocumentImpl<Class> (beside the
// base DTM and the parameter handler) and lists IDtmParameter in its map.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/Dispatch.h"
#include "fdt.h"
#include "toolkit/dtm/base_dtm.h"

// The document-variable line of one parameter for the function
// documentation: "\t\t\t<DocumentVariable fdt:name="<display name>
// (<VT name>)" fdt:display="<value>" />". Both texts are escaped.
// E_INVALIDARG for a null out pointer, E_FAIL when the object has no
// IevFdtParameterHandler4; the handler's failure for an unknown id.
HRESULT BuildDocumentVariables(IUnknown* dtmObject, ULONG parameterId, BSTR* line);

class ParameterDocumentCore : public com::DispatchImpl<IDtmParameter> {
 public:
  // The path is not used: the whole set is written. "" and S_FALSE outside
  // the states 6 to 12.
  STDMETHODIMP GetParameters(BSTR path, BSTR* document) override;
  // Applying a document's exported variables belongs to the online transfer
  // part (IevFdtOnlineTransfer of the DTM object); without it: E_NOTIMPL.
  STDMETHODIMP SetParameters(BSTR path, BSTR document, VARIANT_BOOL* result) override;

 protected:
  virtual ~ParameterDocumentCore() = default;
  virtual BaseDtm& DocumentDtm() = 0;
  // The data state of the parameter handler (0..3).
  virtual ULONG DocumentDataState() = 0;
  // The storage flag (0 persistent, 1 transient). Default: 0.
  virtual LONG DocumentStorageFlag() { return 0; }
  // The DTM's data text (the data set's first item, its device type),
  // inserted as markup. The template gives the base DTM's data-set
  // reference.
  virtual HRESULT DocumentDataText(BSTR* text);
  virtual HRESULT OnSetParameters(BSTR path, BSTR document, VARIANT_BOOL* result);
};

template <class T>
class CevFDT_ParameterDocumentImpl : public ParameterDocumentCore {
 protected:
  BaseDtm& DocumentDtm() override { return *static_cast<T*>(this); }
  ULONG DocumentDataState() override { return static_cast<T*>(this)->GetDataState(); }
  HRESULT DocumentDataText(BSTR* text) override {
    return static_cast<T*>(this)->GetDataSetReference(text);
  }
};
