// The frame double as the DTM tests need it: the shared frame application
// double (recording, user dialog) plus the frame's DTM-event sink, its FDT
// 1.2.1 state-transition sink and its container (schema folder). It is
// free-threaded: a call from the DTM's worker thread runs on that thread and
// is recorded with its id.
//
// Wine marshals between apartments of one process with the context
// MSHCTX_LOCAL, for which the free-threaded marshaler falls back to a proxy;
// the frame's IMarshal therefore hands the free-threaded marshaler the
// in-process context that Windows gives (the frame is never marshalled out
// of the process).
#pragma once

#include <string>

#include "com/ComPtr.h"
#include "frame_application.h"

namespace dtmtest {

class RecordingFrame : public frame_double::FrameApplication,
                       public com::DispatchImpl<IFrameDtmEvents>,
                       public com::DispatchImpl<IFrameDtmEvents2>,
                       public com::DispatchImpl<IFrameContainer>,
                       public IMarshal {
 public:
  static const com::InterfaceEntry* interfaceMap();
  HRESULT finalConstruct();

  // What GetXmlSchemaPath answers.
  void setSchemaPath(const wchar_t* path) { schemaPath_ = path; }

  // IFrameDtmEvents
  STDMETHODIMP OnParameterChanged(BSTR systemTag, BSTR parameterDocument) override;
  STDMETHODIMP OnErrorMessage(BSTR systemTag, BSTR errorMessage) override;
  STDMETHODIMP OnProgress(BSTR systemTag, BSTR title, short percent, VARIANT_BOOL show) override;
  STDMETHODIMP OnUploadFinished(BSTR invokeId, VARIANT_BOOL success) override;
  STDMETHODIMP OnDownloadFinished(BSTR invokeId, VARIANT_BOOL success) override;
  STDMETHODIMP OnApplicationClosed(BSTR invokeId) override;
  STDMETHODIMP OnFunctionChanged(BSTR systemTag) override;
  STDMETHODIMP OnChannelFunctionChanged(BSTR systemTag, BSTR channelPath) override;
  STDMETHODIMP OnPrint(BSTR systemTag, BSTR functionCall) override;
  STDMETHODIMP OnNavigation(BSTR systemTag) override;
  STDMETHODIMP OnOnlineStateChanged(BSTR systemTag, VARIANT_BOOL online) override;
  STDMETHODIMP OnPreparedToRelease(BSTR systemTag) override;
  STDMETHODIMP OnPreparedToReleaseCommunication(BSTR systemTag) override;
  STDMETHODIMP OnInvokedFunctionFinished(BSTR invokeId, VARIANT_BOOL success) override;
  STDMETHODIMP OnScanResponse(BSTR invokeId, BSTR response) override;
  // IFrameDtmEvents2
  STDMETHODIMP OnStateChanged(BSTR systemTag, BSTR stateDocument) override;
  // IFrameContainer
  STDMETHODIMP SaveRequest(BSTR systemTag, VARIANT_BOOL* result) override;
  STDMETHODIMP LockDataSet(BSTR systemTag, VARIANT_BOOL* result) override;
  STDMETHODIMP UnlockDataSet(BSTR systemTag, VARIANT_BOOL* result) override;
  STDMETHODIMP GetXmlSchemaPath(BSTR* path) override;

  // IMarshal: the free-threaded marshaler's, in the in-process context.
  STDMETHODIMP GetUnmarshalClass(REFIID iid, void* object, DWORD context, void* reserved,
                                 DWORD flags, CLSID* classId) override;
  STDMETHODIMP GetMarshalSizeMax(REFIID iid, void* object, DWORD context, void* reserved,
                                 DWORD flags, DWORD* size) override;
  STDMETHODIMP MarshalInterface(IStream* stream, REFIID iid, void* object, DWORD context,
                                void* reserved, DWORD flags) override;
  STDMETHODIMP UnmarshalInterface(IStream* stream, REFIID iid, void** out) override;
  STDMETHODIMP ReleaseMarshalData(IStream* stream) override;
  STDMETHODIMP DisconnectObject(DWORD reserved) override;

  void finalRelease();

 private:
  static HRESULT queryBase(void* object, REFIID iid, void** out);

  template <class Call>
  HRESULT WithMarshaler(Call call);

  std::wstring schemaPath_;
  IUnknown* marshaler_ = nullptr;  // the free-threaded marshaler (aggregated)
};

// A new recording frame; *object stays valid while the reference is held.
com::ComPtr<IUnknown> createRecordingFrame(RecordingFrame** object);

}  // namespace dtmtest
