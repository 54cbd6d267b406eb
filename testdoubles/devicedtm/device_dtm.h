// A device DTM double: the communication callback of a device DTM. Records
// every answer with the thread it arrived on.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "fdt.h"
#include "win32/unique_handle.h"

namespace devicedtm_double {

struct Answer {
  std::string method;     // "OnConnectResponse", "OnConnectResponse2", "OnDisconnectResponse",
                          // "OnTransactionResponse", "OnAbort"
  std::wstring invokeId;  // the communication reference for OnAbort
  std::wstring document;
  std::wstring parentDocument;  // OnConnectResponse2 only
  DWORD threadId = 0;
};

class DeviceDtm : public com::ObjectRoot,
                  public com::DispatchImpl<IChildCommunicationEvents>,
                  public com::DispatchImpl<IChildCommunicationEvents2>,
                  public IMarshal {
 public:
  static const com::InterfaceEntry* interfaceMap();

  // Withholds IChildCommunicationEvents2 (an FDT 1.2 device DTM); set
  // before the double is handed out.
  void setFdt121(bool on) { fdt121_ = on; }
  // The callback marshals for another apartment but never unmarshals there:
  // it marshals itself, naming an unmarshalling class nobody registered.
  // Calls in its own apartment reach it as before.
  void setUnmarshalFails(bool on) { unmarshalFails_ = on; }

  // IMarshal, answered only with setUnmarshalFails.
  STDMETHODIMP GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID* cid) override;
  STDMETHODIMP GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD* size) override;
  STDMETHODIMP MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) override { return S_OK; }
  STDMETHODIMP UnmarshalInterface(IStream*, REFIID, void** out) override;
  STDMETHODIMP ReleaseMarshalData(IStream*) override { return S_OK; }
  STDMETHODIMP DisconnectObject(DWORD) override { return S_OK; }

  std::vector<Answer> answers() const;
  size_t answerCount() const;
  // Waits until `count` answers arrived, serving this thread's messages.
  bool waitForAnswers(size_t count, DWORD timeoutMs) const;

  STDMETHODIMP OnAbort(BSTR communicationReference) override;
  STDMETHODIMP OnConnectResponse(BSTR invokeId, BSTR response) override;
  STDMETHODIMP OnDisconnectResponse(BSTR invokeId, BSTR response) override;
  STDMETHODIMP OnTransactionResponse(BSTR invokeId, BSTR response) override;
  STDMETHODIMP OnConnectResponse2(BSTR invokeId, BSTR parentInformation, BSTR response) override;

 private:
  static HRESULT querySecond(void* object, REFIID iid, void** out);
  static HRESULT queryMarshal(void* object, REFIID iid, void** out);
  void record(const char* method, BSTR invokeId, BSTR document, BSTR parent = nullptr);

  mutable win32::CriticalSection lock_;
  std::vector<Answer> answers_;
  bool fdt121_ = true;
  bool unmarshalFails_ = false;
};

// A new double; *object stays valid while the returned reference is held.
com::ComPtr<IChildCommunicationEvents> createDeviceDtm(DeviceDtm** object);

}  // namespace devicedtm_double
