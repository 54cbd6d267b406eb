// CHART_Channel: IPersistStreamInit. The channel's part of the DTM's stream,
// in order: the channel's parameter section, the child table, the property
// map. A stream is untrusted: the child count bounds nothing that is
// allocated, and a load that fails leaves the child table as it was.
#include "channel/hart_channel.h"
#include "com/Guard.h"
#include "com/StreamForm.h"
#include "com/Variant.h"

namespace hartdtm {

STDMETHODIMP CHART_Channel::GetClassID(CLSID* classId) {
  if (!classId) return E_POINTER;
  *classId = CLSID_HART_Channel;
  return S_OK;
}

STDMETHODIMP CHART_Channel::IsDirty() {
  return ::InterlockedCompareExchange(&dirty_, 0, 0) ? S_OK : S_FALSE;
}

// The size Save would write now (a caller may size its storage by it; the
// child table makes the channel's part grow without bound).
STDMETHODIMP CHART_Channel::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = 0;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IStream> memory;
    HRESULT hr = ::CreateStreamOnHGlobal(nullptr, TRUE, memory.put());
    if (FAILED(hr)) return hr;
    hr = Save(memory.get(), FALSE);
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
    STATSTG stat = {};
    hr = memory->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    size->QuadPart = stat.cbSize.QuadPart;
    return S_OK;
  });
}

STDMETHODIMP CHART_Channel::InitNew() {
  return S_OK;
}

HRESULT CHART_Channel::SaveChildList(IStream* stream) {
  if (!stream) return E_INVALIDARG;
  const std::vector<ChildDtmEntry> table = children_.Table();
  const com::Variant count = com::ui4(static_cast<ULONG>(table.size()));
  HRESULT hr = com::writeVariant(stream, count.value());
  for (size_t i = 0; SUCCEEDED(hr) && i < table.size(); ++i) {
    const ChildDtmEntry& entry = table[i];
    com::Variant address;
    address.get()->vt = VT_UI1;
    address.get()->bVal = entry.address;
    com::Bstr systemTag(entry.systemTag.c_str(), static_cast<UINT>(entry.systemTag.size()));
    com::Bstr dtmTag(entry.dtmTag.c_str(), static_cast<UINT>(entry.dtmTag.size()));
    hr = com::writeVariant(stream, address.value());
    if (SUCCEEDED(hr)) hr = com::writeBstr(stream, systemTag.get());
    if (SUCCEEDED(hr)) hr = com::writeBstr(stream, dtmTag.get());
  }
  return hr;
}

HRESULT CHART_Channel::LoadChildList(IStream* stream, std::vector<ChildDtmEntry>* table) {
  if (!stream || !table) return E_INVALIDARG;
  com::Variant count;
  HRESULT hr = com::readVariant(stream, count);
  if (SUCCEEDED(hr)) hr = count.changeType(VT_UI4);
  if (FAILED(hr)) return hr;
  // Records are read one by one: a count larger than the stream holds ends
  // at the first short read.
  std::vector<ChildDtmEntry> read;
  for (ULONG i = 0; i < count.get()->ulVal; ++i) {
    com::Variant address;
    com::Bstr systemTag, dtmTag;
    hr = com::readVariant(stream, address);
    if (SUCCEEDED(hr)) hr = address.changeType(VT_UI1);
    if (SUCCEEDED(hr)) hr = com::readBstr(stream, systemTag);
    if (SUCCEEDED(hr)) hr = com::readBstr(stream, dtmTag);
    if (FAILED(hr)) return hr;
    ChildDtmEntry entry;
    entry.address = address.get()->bVal;
    entry.systemTag.assign(systemTag.c_str(), systemTag.length());
    entry.dtmTag.assign(dtmTag.c_str(), dtmTag.length());
    read.push_back(entry);
  }
  table->swap(read);
  return S_OK;
}

STDMETHODIMP CHART_Channel::Load(IStream* stream) {
  if (!stream) return E_POINTER;
  return com::guard([&]() -> HRESULT {
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = LoadParameters(stream, &done);
    if (FAILED(hr)) return hr;
    if (done != VARIANT_TRUE) return S_FALSE;
    std::vector<ChildDtmEntry> table;
    hr = LoadChildList(stream, &table);
    if (FAILED(hr)) return hr;
    hr = com::readEmptyPropertyMap(stream);
    if (FAILED(hr)) return hr;
    children_.ReplaceTable(table);
    ::InterlockedExchange(&dirty_, 0);
    return S_OK;
  });
}

STDMETHODIMP CHART_Channel::Save(IStream* stream, BOOL clearDirty) {
  if (!stream) return E_POINTER;
  return com::guard([&]() -> HRESULT {
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = SaveParameters(stream, &done);
    if (FAILED(hr)) return hr;
    if (done != VARIANT_TRUE) return S_FALSE;
    hr = SaveChildList(stream);
    if (FAILED(hr)) return hr;
    hr = com::writeEmptyPropertyMap(stream);
    if (FAILED(hr)) return hr;
    if (clearDirty) ::InterlockedExchange(&dirty_, 0);
    return S_OK;
  });
}

}  // namespace hartdtm
