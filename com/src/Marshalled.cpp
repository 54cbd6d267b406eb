#include "com/Marshalled.h"

namespace com {

HRESULT MarshalledInterface::marshal(REFIID iid, IUnknown* object) {
  reset();
  if (!object) return E_POINTER;
  ComPtr<IStream> stream;
  const HRESULT hr = ::CoMarshalInterThreadInterfaceInStream(iid, object, stream.put());
  if (FAILED(hr)) return hr;
  stream_ = std::move(stream);
  return S_OK;
}

HRESULT MarshalledInterface::unmarshal(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!stream_) return E_UNEXPECTED;
  // The stream, and the marshalled reference with it, go to
  // CoGetInterfaceAndReleaseStream in every case.
  return ::CoGetInterfaceAndReleaseStream(stream_.detach(), iid, out);
}

void MarshalledInterface::reset() {
  ComPtr<IStream> stream = std::move(stream_);
  if (!stream) return;
  LARGE_INTEGER start = {};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  ::CoReleaseMarshalData(stream.get());
}

}  // namespace com
