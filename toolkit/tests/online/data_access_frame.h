// The notice frame with the frame's data-access sink: an IDispatch that
// takes IDeviceDataAccessEvents calls by dispatch id only (no vtable
// methods) and records them as "OnItemListResponse", "OnReadResponse" and
// "OnWriteResponse" with (invoke id, document).
#pragma once

#include <functional>

#include "frame_notices.h"

namespace onlinetest {

// The sink's own IDispatch subobject (its methods must not be overridden by
// the frame's other dispatch interfaces).
class DataAccessSinkPart : public IDispatch {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) override;

 protected:
  virtual void RecordSinkCall(const char* method, const std::wstring& invokeId,
                              const std::wstring& document) = 0;
};

class DataAccessFrame : public frame_double::NoticeFrame, public DataAccessSinkPart {
 public:
  static const com::InterfaceEntry* interfaceMap();

  // Runs once, inside the next answer, before the sink returns: the worker
  // that sent the answer waits meanwhile, so whatever is posted here runs
  // after it.
  std::function<void()> duringNextAnswer;

 private:
  static HRESULT querySink(void* object, REFIID iid, void** out);
  void RecordSinkCall(const char* method, const std::wstring& invokeId,
                      const std::wstring& document) override;
};

}  // namespace onlinetest
