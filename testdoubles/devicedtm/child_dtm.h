// A device DTM double as the frame places it below a channel: answers
// IDtmParameter with a parameter document that the test sets (the same
// document for every path), takes a new document unless told to refuse it,
// and records every call.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "fdt.h"
#include "win32/unique_handle.h"

namespace devicedtm_double {

class ChildDtm : public com::ObjectRoot, public com::DispatchImpl<IDtmParameter> {
 public:
  static const com::InterfaceEntry* interfaceMap();

  void setDocument(const std::wstring& document);
  std::wstring document() const;
  // SetParameters: the HRESULT and the answer it gives; a refused document
  // is not kept.
  void setSetAnswer(HRESULT result, VARIANT_BOOL accepted);
  // Run inside every SetParameters before it answers, as a device DTM that
  // serves its thread's messages meanwhile (one in another apartment, or
  // one that asks its user).
  void duringSetParameters(std::function<void()> call);
  // Paths asked for by GetParameters, and documents offered to
  // SetParameters (also refused ones), in order.
  std::vector<std::wstring> readPaths() const;
  std::vector<std::wstring> writtenDocuments() const;

  STDMETHODIMP GetParameters(BSTR parameterPath, BSTR* document) override;
  STDMETHODIMP SetParameters(BSTR parameterPath, BSTR document, VARIANT_BOOL* result) override;

 private:
  mutable win32::CriticalSection lock_;
  std::wstring document_;
  HRESULT setResult_ = S_OK;
  VARIANT_BOOL accepted_ = VARIANT_TRUE;
  std::function<void()> duringSet_;
  std::vector<std::wstring> readPaths_;
  std::vector<std::wstring> written_;
};

// A new double; *object stays valid while the returned reference is held.
com::ComPtr<IUnknown> createChildDtm(ChildDtm** object);

// A child DTM's parameter document: the device type with its bus category
// (the HART protocol unless given) and the device with its tag; the
// SlaveAddress element only for an address of 0..255.
std::wstring ChildDocument(const std::wstring& tag, int slaveAddress,
                           const std::wstring& busCategory = L"036D1498-387B-11D4-86E1-00E0987270B9");

}  // namespace devicedtm_double
