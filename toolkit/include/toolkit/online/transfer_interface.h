// The DTM object's online transfer part as the parameter handler and the
// base DTM reach it: a C++ interface answered from QueryInterface of the DTM
// object in its own apartment (no proxy), so that no DTM class forwards the
// IevFdtBaseDTM and handler operations to it itself. A DTM without the part
// answers those operations E_NOTIMPL.
#pragma once

#include <windows.h>
#include <oaidl.h>

struct IevFdtOnlineTransfer : public IUnknown {
  // The download of every device parameter (the handler's download request).
  virtual HRESULT STDMETHODCALLTYPE DownloadParameterSet(VARIANT_BOOL* done) = 0;
  // The upload of every device parameter; S_OK when all were read.
  virtual HRESULT STDMETHODCALLTYPE UploadParameterSet() = 0;
  // The DTM's own comparison of the compared parameters with the device.
  virtual HRESULT STDMETHODCALLTYPE CompareDevice(BSTR* text, VARIANT_BOOL* equal) = 0;
  virtual HRESULT STDMETHODCALLTYPE CompareDeviceEx(const VARIANT& argument, BSTR* text,
                                                    VARIANT_BOOL* equal) = 0;
  // Applies the exported variables of a device document (a DOM node).
  virtual HRESULT STDMETHODCALLTYPE ApplyDocumentVariables(IDispatch* documentNode) = 0;
  // IDtmParameter::SetParameters of the DTM.
  virtual HRESULT STDMETHODCALLTYPE SetParameterDocument(BSTR document,
                                                         VARIANT_BOOL* result) = 0;

 protected:
  ~IevFdtOnlineTransfer() = default;
};

// Identifier chosen by this project.
inline const IID IID_IevFdtOnlineTransfer = {
    0x4d1c7a28, 0x93b5, 0x4e61, {0xa2, 0x0f, 0x7c, 0x3e, 0x58, 0x14, 0xd9, 0x6b}};
__CRT_UUID_DECL(IevFdtOnlineTransfer, 0x4d1c7a28, 0x93b5, 0x4e61, 0xa2, 0x0f, 0x7c, 0x3e, 0x58,
                0x14, 0xd9, 0x6b)
