#include "recording_frame.h"

#include "com/Bstr.h"

namespace dtmtest {

namespace {

std::wstring Text(BSTR text) { return text ? text : L""; }
std::wstring Flag(VARIANT_BOOL flag) { return std::to_wstring(flag); }

}  // namespace

const com::InterfaceEntry* RecordingFrame::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<RecordingFrame, IUnknown, IFrameDtmEvents>(),
      com::entry<RecordingFrame, IFrameDtmEvents>(),
      com::entry<RecordingFrame, IFrameDtmEvents2>(),
      com::entry<RecordingFrame, IFrameContainer>(),
      com::entry<RecordingFrame, IDispatch, IFrameDtmEvents>(),
      com::entryQuery(__uuidof(IFrameUserDialog), &RecordingFrame::queryBase),
      com::entryQuery(__uuidof(ITransferGroupProvider), &RecordingFrame::queryBase),
      com::entry<RecordingFrame, IMarshal>(),
      com::endOfMap()};
  return map;
}

HRESULT RecordingFrame::finalConstruct() {
  return ::CoCreateFreeThreadedMarshaler(controllingUnknown(), &marshaler_);
}

void RecordingFrame::finalRelease() {
  if (marshaler_) marshaler_->Release();
  marshaler_ = nullptr;
}

HRESULT RecordingFrame::queryBase(void* object, REFIID iid, void** out) {
  auto* self = static_cast<RecordingFrame*>(object);
  return com::queryInterfaceMap(static_cast<frame_double::FrameApplication*>(self),
                                frame_double::FrameApplication::interfaceMap(), iid, out);
}

// The free-threaded marshaler's IMarshal, asked for at each use: a cached
// one would hold a reference on this object.
template <class Call>
HRESULT RecordingFrame::WithMarshaler(Call call) {
  com::ComPtr<IMarshal> marshal;
  HRESULT hr = marshaler_ ? marshaler_->QueryInterface(IID_IMarshal, marshal.putVoid()) : E_UNEXPECTED;
  if (FAILED(hr)) return hr;
  return call(marshal.get());
}

STDMETHODIMP RecordingFrame::GetUnmarshalClass(REFIID iid, void* object, DWORD, void* reserved,
                                               DWORD flags, CLSID* classId) {
  return WithMarshaler([&](IMarshal* m) {
    return m->GetUnmarshalClass(iid, object, MSHCTX_INPROC, reserved, flags, classId);
  });
}
STDMETHODIMP RecordingFrame::GetMarshalSizeMax(REFIID iid, void* object, DWORD, void* reserved,
                                               DWORD flags, DWORD* size) {
  return WithMarshaler([&](IMarshal* m) {
    return m->GetMarshalSizeMax(iid, object, MSHCTX_INPROC, reserved, flags, size);
  });
}
STDMETHODIMP RecordingFrame::MarshalInterface(IStream* stream, REFIID iid, void* object, DWORD,
                                              void* reserved, DWORD flags) {
  return WithMarshaler([&](IMarshal* m) {
    return m->MarshalInterface(stream, iid, object, MSHCTX_INPROC, reserved, flags);
  });
}
STDMETHODIMP RecordingFrame::UnmarshalInterface(IStream* stream, REFIID iid, void** out) {
  return WithMarshaler([&](IMarshal* m) { return m->UnmarshalInterface(stream, iid, out); });
}
STDMETHODIMP RecordingFrame::ReleaseMarshalData(IStream* stream) {
  return WithMarshaler([&](IMarshal* m) { return m->ReleaseMarshalData(stream); });
}
STDMETHODIMP RecordingFrame::DisconnectObject(DWORD reserved) {
  return WithMarshaler([&](IMarshal* m) { return m->DisconnectObject(reserved); });
}

STDMETHODIMP RecordingFrame::OnParameterChanged(BSTR tag, BSTR document) {
  record("IFrameDtmEvents", "OnParameterChanged", {Text(tag), Text(document)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnErrorMessage(BSTR tag, BSTR message) {
  record("IFrameDtmEvents", "OnErrorMessage", {Text(tag), Text(message)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnProgress(BSTR tag, BSTR title, short percent, VARIANT_BOOL show) {
  record("IFrameDtmEvents", "OnProgress", {Text(tag), Text(title), std::to_wstring(percent), Flag(show)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnUploadFinished(BSTR invokeId, VARIANT_BOOL success) {
  record("IFrameDtmEvents", "OnUploadFinished", {Text(invokeId), Flag(success)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnDownloadFinished(BSTR invokeId, VARIANT_BOOL success) {
  record("IFrameDtmEvents", "OnDownloadFinished", {Text(invokeId), Flag(success)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnApplicationClosed(BSTR invokeId) {
  record("IFrameDtmEvents", "OnApplicationClosed", {Text(invokeId)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnFunctionChanged(BSTR tag) {
  record("IFrameDtmEvents", "OnFunctionChanged", {Text(tag)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnChannelFunctionChanged(BSTR tag, BSTR path) {
  record("IFrameDtmEvents", "OnChannelFunctionChanged", {Text(tag), Text(path)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnPrint(BSTR tag, BSTR call) {
  record("IFrameDtmEvents", "OnPrint", {Text(tag), Text(call)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnNavigation(BSTR tag) {
  record("IFrameDtmEvents", "OnNavigation", {Text(tag)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnOnlineStateChanged(BSTR tag, VARIANT_BOOL online) {
  record("IFrameDtmEvents", "OnOnlineStateChanged", {Text(tag), Flag(online)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnPreparedToRelease(BSTR tag) {
  record("IFrameDtmEvents", "OnPreparedToRelease", {Text(tag)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnPreparedToReleaseCommunication(BSTR tag) {
  record("IFrameDtmEvents", "OnPreparedToReleaseCommunication", {Text(tag)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnInvokedFunctionFinished(BSTR invokeId, VARIANT_BOOL success) {
  record("IFrameDtmEvents", "OnInvokedFunctionFinished", {Text(invokeId), Flag(success)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnScanResponse(BSTR invokeId, BSTR response) {
  record("IFrameDtmEvents", "OnScanResponse", {Text(invokeId), Text(response)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::OnStateChanged(BSTR tag, BSTR document) {
  record("IFrameDtmEvents2", "OnStateChanged", {Text(tag), Text(document)});
  return S_OK;
}
STDMETHODIMP RecordingFrame::SaveRequest(BSTR tag, VARIANT_BOOL* result) {
  record("IFrameContainer", "SaveRequest", {Text(tag)});
  if (result) *result = VARIANT_TRUE;
  return S_OK;
}
STDMETHODIMP RecordingFrame::LockDataSet(BSTR tag, VARIANT_BOOL* result) {
  record("IFrameContainer", "LockDataSet", {Text(tag)});
  if (result) *result = VARIANT_TRUE;
  return S_OK;
}
STDMETHODIMP RecordingFrame::UnlockDataSet(BSTR tag, VARIANT_BOOL* result) {
  record("IFrameContainer", "UnlockDataSet", {Text(tag)});
  if (result) *result = VARIANT_TRUE;
  return S_OK;
}
STDMETHODIMP RecordingFrame::GetXmlSchemaPath(BSTR* path) {
  record("IFrameContainer", "GetXmlSchemaPath", {});
  if (!path) return E_POINTER;
  return com::Bstr(schemaPath_.c_str()).copyTo(path);
}

com::ComPtr<IUnknown> createRecordingFrame(RecordingFrame** object) {
  com::ComObject<RecordingFrame>* created = nullptr;
  com::ComPtr<IUnknown> identity;
  if (object) *object = nullptr;
  if (FAILED(com::ComObject<RecordingFrame>::create(&created))) return identity;
  if (object) *object = created;
  identity.attach(created->identity());
  return identity;
}

}  // namespace dtmtest
