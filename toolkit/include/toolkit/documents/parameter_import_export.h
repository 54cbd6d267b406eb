// IDtmImportExport: the DTM's parameter values as an Export document on a
// stream (the XML declaration and the PARAMETERS text, in the thread's ANSI
// code page, no terminating zero) and read back from one. Both report their
// progress ("Export", "Import") through the parameter handler.
//
// Both answer S_FALSE with *done false for every refusal and failure after
// the argument check: no stream, a state other than configured (8), an
// observer, a document that cannot be built, written or read, a text with a
// character the code page cannot hold (nothing is written then), a stream
// larger than kMaxImportBytes, a document with a document type declaration.
//
// A DTM class derives from CevFDT_ImportExportImpl<Class> (beside the base
// DTM and the parameter handler) and lists IDtmImportExport in its map.
#pragma once

#include <windows.h>
#include <objidl.h>

#include "com/Dispatch.h"
#include "fdt.h"
#include "toolkit/dtm/base_dtm.h"
#include "toolkit/params/param_handler.h"

// The largest Export document Import reads (bytes); a larger stream is
// refused rather than read into memory.
constexpr ULONG kMaxImportBytes = 16u << 20;

class ImportExportCore : public com::DispatchImpl<IDtmImportExport> {
 public:
  STDMETHODIMP Import(IStream* stream, VARIANT_BOOL* done) override;
  STDMETHODIMP Export(IStream* stream, VARIANT_BOOL* done) override;

 protected:
  virtual ~ImportExportCore() = default;
  virtual BaseDtm& ImportExportDtm() = 0;
  virtual CevFDT_ParameterHandlerCore& ImportExportHandler() = 0;

 private:
  bool allowed(IStream* stream);
};

template <class T>
class CevFDT_ImportExportImpl : public ImportExportCore {
 protected:
  BaseDtm& ImportExportDtm() override { return *static_cast<T*>(this); }
  CevFDT_ParameterHandlerCore& ImportExportHandler() override { return *static_cast<T*>(this); }
};
