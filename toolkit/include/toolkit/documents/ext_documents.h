// The material that accompanies a DTM, per device type: documents (files,
// web pages, programs), device bitmaps and device icons from the DTM
// class's document list (IevFdtExtDocument, whose fragments the information
// document embeds), and the documentation of a printable function's
// parameters (IDtmDocumentation).
//
// A DTM class derives from CevFDT_ExtDocumentMgr<Class> (beside the base DTM)
// and lists IevFdtExtDocument and IDtmDocumentation in its map.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/Dispatch.h"
#include "fdt.h"
#include "toolkit.h"
#include "toolkit/dtm/base_dtm.h"

// True when the reference is a file name relative to the DTM's module: it
// holds none of "http://", "ftp://", "file://", ":\" and ":/" (in any case).
bool ClassifyDocumentReference(const wchar_t* reference);

class ExtDocumentCore : public com::DispatchImpl<IevFdtExtDocument>,
                        public com::DispatchImpl<IDtmDocumentation> {
 public:
  // Each: the fragments of the records of its kinds whose device type id is
  // empty or the one asked for, in list order ("" when none). Every text is
  // escaped; relative paths are made absolute against the module's folder.
  STDMETHODIMP GetDocuments(BSTR deviceTypeId, BSTR* fragment) override;
  STDMETHODIMP GetDeviceBitmaps(BSTR deviceTypeId, BSTR* fragment) override;
  STDMETHODIMP GetDeviceIcons(BSTR deviceTypeId, BSTR* fragment) override;

  // The parameters the called function's control shows, as document
  // variables. S_FALSE outside the states 8 to 12; "" and S_FALSE for an
  // observer; E_POINTER for a null out pointer.
  STDMETHODIMP GetDocumentation(BSTR functionCall, BSTR* document) override;

  // The documentation of one function: none (E_FAIL) without a table entry,
  // "" for a function that is not printable. The control named by the
  // entry's ProgID is created in process without a container and asked for
  // its parameter ids; without one, every persistent parameter is listed.
  HRESULT BuildDocumentation(LONG functionId, BSTR* out);

 protected:
  virtual ~ExtDocumentCore() = default;
  virtual BaseDtm& ExtDocumentDtm() = 0;

 private:
  HRESULT fragments(BSTR deviceTypeId, ULONG kindLow, ULONG kindHigh, BSTR* out);
};

template <class T>
class CevFDT_ExtDocumentMgr : public ExtDocumentCore {
 protected:
  BaseDtm& ExtDocumentDtm() override { return *static_cast<T*>(this); }
};
