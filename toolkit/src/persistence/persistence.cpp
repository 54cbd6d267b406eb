// The DTM's persisted data set: stream and property-bag forms, the state
// gates, and the modified state with its notices.
#include "toolkit/persistence/persistence.h"

#include <string>

#include "com/Guard.h"
#include "com/StreamForm.h"
#include "com/Variant.h"
#include "toolkit/params/param_handler.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/worker/dtm_thread.h"

const wchar_t kDataSetFormatStamp[] = L"{00000003-0000-0000-0000-000000000000}";

namespace {

constexpr ULONG kParameterFlagsField = 0x4000;
constexpr ULONG kParameterModifiedMark = 0x100;

const wchar_t kChangedDocument[] =
    L"<?xml version=\"1.0\"?> \r\n<OnParameterChangedDocument> \r\n\t%s \r\n"
    L"</OnParameterChangedDocument> \r\n";

bool Loadable(LONG state) { return state == kDtmConstructed || state == kDtmReleased; }
bool Savable(LONG state) {
  return state == kDtmConfigured || state == kDtmCommunicationSet || state == kDtmOnline;
}

HRESULT NewMemoryStream(com::ComPtr<IStream>& stream) {
  return ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
}

HRESULT Rewind(IStream* stream) {
  LARGE_INTEGER zero = {};
  return stream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

HRESULT CheckStamp(const com::Variant& stamp) {
  if (stamp.type() != VT_BSTR) return E_FAIL;
  const wchar_t* text = V_BSTR(stamp.get()) ? V_BSTR(stamp.get()) : L"";
  if (wcslen(text) != 38) return E_INVALIDARG;
  return wcscmp(text + 29, L"00000000}") == 0 ? S_OK : E_INVALIDARG;
}

}  // namespace

// ---- IPersist, IPersistStreamInit -----------------------------------------

STDMETHODIMP PersistenceCore::GetClassID(CLSID* classId) {
  if (!classId) return E_POINTER;
  *classId = PersistClassId();
  return S_OK;
}

// Also set when the data set becomes modified (NotifyParameterChanged), so
// that a container that asks before saving keeps the edits of a loaded data
// set.
STDMETHODIMP PersistenceCore::IsDirty() { return requiresSave_ ? S_OK : S_FALSE; }

STDMETHODIMP PersistenceCore::InitNew() {
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = PersistDtm();
    const LONG state = dtm.State();
    if (!Loadable(state)) return S_FALSE;
    // After a shutdown the parameters still hold what the last data set
    // left: a new data set starts from the declared table and default data
    // state, as in a new object.
    if (state == kDtmReleased) {
      if (FAILED(dtm.RestoreDeclaredParameters())) return S_FALSE;
      PersistSetDataState(kDataStateDefault);
    }
    VARIANT_BOOL done = VARIANT_FALSE;
    if (InitNewDataSet(&done) != S_OK || !done) return S_FALSE;
    modified_ = false;
    requiresSave_ = TRUE;
    dtm.SetState(kDtmNewDataSet);
    dtm.SetDataSetReference(nullptr);
    return S_OK;
  });
}

STDMETHODIMP PersistenceCore::Load(IStream* stream) {
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = PersistDtm();
    if (!stream || !Loadable(dtm.State())) return S_FALSE;
    VARIANT_BOOL done = VARIANT_FALSE;
    if (LoadItems(stream, true, &done) != S_OK || !done) return S_FALSE;
    NotifyParameterChanged(0);
    modified_ = false;
    requiresSave_ = FALSE;
    dtm.SetState(kDtmLoadedDataSet);
    return S_OK;
  });
}

STDMETHODIMP PersistenceCore::Save(IStream* stream, BOOL clearDirty) {
  return com::guard([&]() -> HRESULT {
    if (!stream || !Savable(PersistDtm().State())) return S_FALSE;
    if (SaveToStream(stream) != S_OK) return S_FALSE;
    if (FAILED(com::writeEmptyPropertyMap(stream))) return S_FALSE;
    if (clearDirty) requiresSave_ = FALSE;
    return S_OK;
  });
}

STDMETHODIMP PersistenceCore::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = 0;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IStream> memory;
    HRESULT hr = NewMemoryStream(memory);
    if (FAILED(hr)) return S_FALSE;
    VARIANT_BOOL done = VARIANT_FALSE;
    if (SaveDataSetToStream(memory.get(), &done) != S_OK || !done) return S_FALSE;
    STATSTG stat = {};
    if (FAILED(memory->Stat(&stat, STATFLAG_NONAME))) return S_FALSE;
    size->QuadPart = stat.cbSize.QuadPart + sizeof(DWORD);  // with the version word
    return S_OK;
  });
}

// ---- IPersistPropertyBag ----------------------------------------------------

STDMETHODIMP PersistenceCore::Load(IPropertyBag* bag, IErrorLog* errorLog) {
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = PersistDtm();
    if (!bag || !Loadable(dtm.State())) return S_FALSE;
    if (LoadFromPropertyBag(bag, errorLog) != S_OK) return S_FALSE;
    modified_ = false;
    requiresSave_ = FALSE;
    dtm.SetState(kDtmLoadedDataSet);
    return S_OK;
  });
}

STDMETHODIMP PersistenceCore::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
  return com::guard([&]() -> HRESULT {
    if (!bag || !Savable(PersistDtm().State())) return S_FALSE;
    if (SaveToPropertyBag(bag) != S_OK) return S_FALSE;
    if (clearDirty) requiresSave_ = FALSE;
    return S_OK;
  });
}

// ---- IevFdtStorageState -----------------------------------------------------

STDMETHODIMP PersistenceCore::SetModified(long modified) {
  return com::guard([&] { return NotifyParameterChanged(modified); });
}

STDMETHODIMP PersistenceCore::GetModified(long* modified) {
  if (!modified) return E_INVALIDARG;
  *modified = modified_ ? 1 : 0;
  return S_OK;
}

STDMETHODIMP PersistenceCore::LoadFromStream(IStream* stream) {
  return com::guard([&]() -> HRESULT {
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = LoadDataSetFromStream(stream, &done);
    if (FAILED(hr)) return hr;
    if (!done) return E_FAIL;
    NotifyParameterChanged(0);
    return S_OK;
  });
}

STDMETHODIMP PersistenceCore::SaveToStream(IStream* stream) {
  return com::guard([&]() -> HRESULT {
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = SaveDataSetToStream(stream, &done);
    if (FAILED(hr)) return hr;
    if (!done) return E_FAIL;
    NotifyParameterChanged(0);
    return S_OK;
  });
}

STDMETHODIMP PersistenceCore::SaveToPropertyBag(IPropertyBag* bag) {
  if (!bag) return E_POINTER;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IStream> memory;
    HRESULT hr = NewMemoryStream(memory);
    if (FAILED(hr)) return hr;
    VARIANT_BOOL done = VARIANT_FALSE;
    hr = SaveDataSetToStream(memory.get(), &done);
    if (FAILED(hr)) return hr;
    if (!done) return E_FAIL;
    HGLOBAL block = nullptr;
    hr = ::GetHGlobalFromStream(memory.get(), &block);
    if (FAILED(hr)) return hr;
    STATSTG stat = {};
    hr = memory->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    const ULONG size = stat.cbSize.LowPart;
    if (size == 0) return E_NOTIMPL;
    const BYTE* bytes = static_cast<const BYTE*>(::GlobalLock(block));
    if (!bytes) return E_FAIL;
    com::Bstr text;
    hr = BytesToHexString(bytes, size, text.put());
    ::GlobalUnlock(block);
    if (FAILED(hr)) return hr;
    com::Variant value(text.c_str());
    com::Bstr name(L"DTM_DATA");
    hr = bag->Write(name.get(), value.get());
    if (SUCCEEDED(hr)) NotifyParameterChanged(0);
    return hr;
  });
}

STDMETHODIMP PersistenceCore::LoadFromPropertyBag(IPropertyBag* bag, IErrorLog* errorLog) {
  if (!bag) return E_POINTER;
  return com::guard([&]() -> HRESULT {
    com::Variant value;
    com::Bstr name(L"DTM_DATA");
    V_VT(value.get()) = VT_BSTR;
    HRESULT hr = bag->Read(name.get(), value.get(), errorLog);
    if (FAILED(hr)) return hr;
    if (value.type() != VT_BSTR) return E_UNEXPECTED;
    com::Variant bytes;
    hr = CFdtVariant::FromHexString(bytes.get(), V_BSTR(value.get()) ? V_BSTR(value.get()) : L"");
    if (FAILED(hr)) return hr;
    if (bytes.type() != (VT_ARRAY | VT_UI1) || !V_ARRAY(bytes.get()) ||
        ::SafeArrayGetDim(V_ARRAY(bytes.get())) != 1)
      return E_FAIL;
    SAFEARRAY* array = V_ARRAY(bytes.get());
    const ULONG count = array->rgsabound[0].cElements;
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, count ? count : 1);
    if (!block) return E_OUTOFMEMORY;
    void* target = ::GlobalLock(block);
    if (!target) {
      ::GlobalFree(block);
      return E_FAIL;
    }
    if (count) memcpy(target, array->pvData, count);
    ::GlobalUnlock(block);
    com::ComPtr<IStream> memory;
    hr = ::CreateStreamOnHGlobal(block, TRUE, memory.put());
    if (FAILED(hr)) {
      ::GlobalFree(block);
      return hr;
    }
    ULARGE_INTEGER length;
    length.QuadPart = count;
    memory->SetSize(length);
    VARIANT_BOOL done = VARIANT_FALSE;
    hr = LoadDataSetFromStream(memory.get(), &done);
    if (FAILED(hr)) return hr;
    if (!done) return E_FAIL;
    NotifyParameterChanged(0);
    return S_OK;
  });
}

// ---- Items 1 to 6 -----------------------------------------------------------

HRESULT PersistenceCore::InitNewDataSet(VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  BaseDtm& dtm = PersistDtm();
  dtm.SetDataSetReference(nullptr);
  if (com::ComPtr<IevFdtChannelContainer4> channels = dtm.DtmInterface<IevFdtChannelContainer4>()) {
    VARIANT_BOOL flag = VARIANT_FALSE;
    HRESULT hr = channels->InitNewChannels(&flag);
    if (FAILED(hr)) return hr;
    if (!flag) return S_FALSE;
  }
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT PersistenceCore::SaveDataSetToStream(IStream* stream, VARIANT_BOOL* done) {
  if (!stream || !done) return E_POINTER;
  *done = VARIANT_FALSE;
  BaseDtm& dtm = PersistDtm();
  com::Bstr deviceType, marker(kDataSetFormatMarker);
  dtm.GetDataSetReference(deviceType.put());
  HRESULT hr = com::writeBstr(stream, deviceType.get());
  if (SUCCEEDED(hr)) hr = com::writeBstr(stream, marker.get());
  if (SUCCEEDED(hr)) hr = com::writeVariant(stream, *com::Variant(kDataSetFormatStamp).get());
  if (FAILED(hr)) return hr;
  if (com::ComPtr<IevFdtParameterHandler4> handler = dtm.DtmInterface<IevFdtParameterHandler4>()) {
    VARIANT_BOOL flag = VARIANT_FALSE;
    hr = handler->SaveParameters(stream, &flag);
    if (FAILED(hr)) return hr;
    if (!flag) return S_FALSE;
  }
  if (com::ComPtr<IevFdtChannelContainer4> channels = dtm.DtmInterface<IevFdtChannelContainer4>()) {
    VARIANT_BOOL flag = VARIANT_FALSE;
    hr = channels->SaveChannelsToStream(stream, &flag);
    if (FAILED(hr)) return hr;
    if (!flag) return S_FALSE;
  }
  hr = com::writeVariant(stream, *com::ui4(PersistDataState()).get());
  if (FAILED(hr)) return hr;
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT PersistenceCore::LoadDataSetFromStream(IStream* stream, VARIANT_BOOL* done) {
  return LoadItems(stream, false, done);
}

HRESULT PersistenceCore::LoadItems(IStream* stream, bool withVersion, VARIANT_BOOL* done) {
  if (!stream || !done) return E_POINTER;
  *done = VARIANT_FALSE;
  BaseDtm& dtm = PersistDtm();
  com::StreamRewind rewind(stream);
  com::ComPtr<IevFdtParameterHandler4> handler = dtm.DtmInterface<IevFdtParameterHandler4>();
  com::ComPtr<IevFdtChannelContainer4> channels = dtm.DtmInterface<IevFdtChannelContainer4>();

  // What a failed load puts back: the parameters as they are now.
  com::ComPtr<IStream> snapshot;
  if (handler) {
    HRESULT hr = NewMemoryStream(snapshot);
    VARIANT_BOOL saved = VARIANT_FALSE;
    if (SUCCEEDED(hr)) hr = handler->SaveParameters(snapshot.get(), &saved);
    if (FAILED(hr) || !saved) return FAILED(hr) ? hr : E_FAIL;
  }
  // And the channels as they are now, when there are any (a storage-state
  // load may come while the DTM has its data set).
  com::ComPtr<IStream> channelSnapshot;
  if (channels) {
    unsigned long count = 0;
    com::ComPtr<IDtmChannel> list = dtm.DtmInterface<IDtmChannel>();
    if (list && SUCCEEDED(list->GetChannelCount(&count)) && count > 0) {
      HRESULT hr = NewMemoryStream(channelSnapshot);
      VARIANT_BOOL saved = VARIANT_FALSE;
      if (SUCCEEDED(hr)) hr = channels->SaveChannelsToStream(channelSnapshot.get(), &saved);
      if (FAILED(hr) || !saved) return FAILED(hr) ? hr : E_FAIL;
    }
  }
  bool parametersTaken = false;
  bool channelsTaken = false;
  auto fail = [&](HRESULT hr) {
    if (channelsTaken) {
      VARIANT_BOOL restored = VARIANT_FALSE;
      if (channelSnapshot && SUCCEEDED(Rewind(channelSnapshot.get())) &&
          SUCCEEDED(channels->LoadChannelsFromStream(channelSnapshot.get(), &restored)) &&
          restored) {
        // Channels read back are new objects: they get their DTM again.
        if (dtm.State() >= kDtmEnvironmentSet) dtm.InitChannels();
      } else {
        channels->ReleaseChannels(&restored);
      }
    }
    if (parametersTaken && snapshot && SUCCEEDED(Rewind(snapshot.get()))) {
      VARIANT_BOOL restored = VARIANT_FALSE;
      handler->LoadParameters(snapshot.get(), &restored);
    }
    return hr;
  };

  com::Bstr deviceType;
  HRESULT hr = com::readBstr(stream, deviceType);
  if (FAILED(hr)) return hr;
  VARIANT_BOOL valid = VARIANT_FALSE;
  hr = dtm.CheckStreamSignature(stream, &valid);
  if (FAILED(hr)) return hr;
  if (!valid) return E_FAIL;
  com::Variant stamp;
  hr = com::readVariant(stream, stamp);
  if (FAILED(hr)) return hr;
  hr = CheckStamp(stamp);
  if (FAILED(hr)) return hr;
  if (handler) {
    // After a shutdown the data set read starts from the declared table, as
    // in a new object; a load that fails puts the old table back.
    if (dtm.State() == kDtmReleased) {
      parametersTaken = true;
      hr = dtm.RestoreDeclaredParameters();
      if (FAILED(hr)) return fail(hr);
    }
    VARIANT_BOOL flag = VARIANT_FALSE;
    hr = handler->LoadParameters(stream, &flag);
    if (FAILED(hr)) return fail(hr);
    if (!flag) return fail(S_FALSE);
    parametersTaken = true;
  }
  if (channels) {
    // The container replaces its channels only when the whole section read.
    VARIANT_BOOL flag = VARIANT_FALSE;
    hr = channels->LoadChannelsFromStream(stream, &flag);
    if (FAILED(hr)) return fail(hr);
    if (!flag) return fail(S_FALSE);
    channelsTaken = true;
  }
  com::Variant state;
  hr = com::readVariant(stream, state);
  if (SUCCEEDED(hr)) hr = state.changeType(VT_UI4);
  if (SUCCEEDED(hr) && withVersion) hr = com::readEmptyPropertyMap(stream);
  if (FAILED(hr)) return fail(hr);
  dtm.SetDataSetReference(deviceType.get());
  PersistSetDataState(V_UI4(state.get()));
  // Channels read back are new objects: an attached DTM hands them itself.
  if (channelsTaken && dtm.State() >= kDtmEnvironmentSet) dtm.InitChannels();
  rewind.keep();
  *done = VARIANT_TRUE;
  return S_OK;
}

// ---- Modified state ---------------------------------------------------------

HRESULT PersistenceCore::ParametersDocument(BSTR* text) {
  *text = nullptr;
  BaseDtm& dtm = PersistDtm();
  std::wstring body;
  if (dtm.DtmInterface<IDtmParameter>()) {
    if (auto io = dtm.DtmInterface<IevFdtParametersImportExport>()) {
      com::Bstr parameters;
      if (SUCCEEDED(io->Export(parameters.put()))) body += parameters.c_str();
    }
  }
  if (auto persist = dtm.DtmInterface<IevFdtChannelPersist>()) {
    com::Bstr collection;
    if (SUCCEEDED(persist->SaveChannelCollection(collection.put()))) body += collection.c_str();
  }
  if (body.empty()) return S_FALSE;
  return FormatBstr(text, kChangedDocument, body.c_str());
}

HRESULT PersistenceCore::NotifyParameterChanged(long modified) {
  BaseDtm& dtm = PersistDtm();
  const LONG state = dtm.State();
  if (state < kDtmConfigured || state > kDtmOnline) return S_OK;
  modified_ = modified == 1;
  if (modified_) requiresSave_ = TRUE;
  com::Bstr tag;
  if (FAILED(dtm.GetSystemTag(tag.put()))) return S_FALSE;
  if (modified_) {
    if (!holds_) {
      IUnknown* frame = dtm.FrameObject();
      com::ComPtr<IFrameContainer> container = com::query<IFrameContainer>(frame);
      if (container) {
        VARIANT_BOOL answer = VARIANT_FALSE;
        container->SaveRequest(tag.get(), &answer);
      }
    }
    return S_OK;
  }
  if (!dtm.FrameObject()) return S_OK;
  com::Bstr document;
  if (ParametersDocument(document.put()) == S_OK && !document.empty())
    dtm.PostText(dtm_command::kParameterChanged, document.c_str());
  if (auto info = dtm.DtmInterface<IevFdtParameterInfo>()) {
    com::Variant count;
    if (SUCCEEDED(info->GetCount(count.get())) && SUCCEEDED(count.changeType(VT_UI4))) {
      for (ULONG i = 0; i < V_UI4(count.get()); ++i) {
        com::Variant id, flags;
        const com::Variant field = com::ui4(kParameterFlagsField);
        if (FAILED(info->GetParameterId(*com::ui4(i).get(), id.get()))) continue;
        if (FAILED(info->GetParameterInfo(*id.get(), *field.get(), flags.get())) ||
            FAILED(flags.changeType(VT_I4)))
          continue;
        if (V_I4(flags.get()) & kParameterModifiedMark) {
          V_I4(flags.get()) &= ~static_cast<LONG>(kParameterModifiedMark);
          info->SetParameterInfo(*id.get(), *field.get(), *flags.get());
        }
      }
    }
  }
  if (auto persist = dtm.DtmInterface<IevFdtChannelPersist>()) persist->SetChannelsModified(VARIANT_FALSE);
  dtm.UnlockDataSet();
  return S_OK;
}
