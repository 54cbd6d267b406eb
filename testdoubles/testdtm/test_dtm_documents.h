// The test DTM's rows for relations, update lists and exported variables,
// its document list, and the settings function's control double.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>

#include "com/Dispatch.h"
#include "com/Object.h"
#include "fdtidl/ToolkitHooks.h"
#include "toolkit.h"

// Declares the rows of test_dtm_ids.h from kRelationSource on.
void DeclareDocumentRows(IevFdtParameterStore* store);

// The document list: files, a URL, a program, bitmaps and an icon, some for
// every device type, some for "TypeA" or "TypeB" only.
const DocumentListRecord* TestDocumentList(size_t* count);

// The choices the test DTM answers for a kind-4 relation of the choices
// target: {"0;Low", "1;Mid", "2;High"}.
HRESULT TestRelationChoices(ULONG target, VARIANT* choices);

// The settings function's control: no window, no container; GetInfo(16)
// answers the ids of the parameters it shows (VT_ARRAY|VT_UI4).
class CTestSettingsControl : public com::ObjectRoot,
                             public com::DispatchImpl<IevFdtActiveXInfo> {
 public:
  static const com::InterfaceEntry* interfaceMap();
  STDMETHODIMP GetInfo(VARIANT what, VARIANT* result) override;
  STDMETHODIMP SetInfo(VARIANT what, VARIANT value) override;
  STDMETHODIMP SetFrameContainer(IUnknown* frameContainer) override;
};
