// The channel container: entries and channel objects, attach and release,
// the channel section of the stream, and the channel documents.
#include "toolkit/containers/channel_container.h"

#include <rpc.h>

#include <string>
#include <utility>

#include "com/Guard.h"
#include "com/StreamForm.h"
#include "com/Variant.h"
#include "toolkit/containers/channel_collection.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xpath_literal.h"
#include "toolkit/xml/xml_handler.h"

namespace {

constexpr DWORD kChannelContext = 23;  // in-process server and handler, local, remote

HRESULT ParseClassId(const wchar_t* text, GUID* classId) {
  if (!text || wcslen(text) != 36) return E_INVALIDARG;
  std::wstring braced = std::wstring(L"{") + text + L"}";
  return ::CLSIDFromString(braced.c_str(), classId) == NOERROR ? S_OK : E_INVALIDARG;
}

// A channel that holds its DTM without a reference hears that the DTM is
// no longer its owner.
void TellOwnerGone(const std::vector<com::ComPtr<IUnknown>>& channels) {
  for (const auto& channel : channels)
    if (com::ComPtr<IevFdtOwnedChannel> owned = com::query<IevFdtOwnedChannel>(channel.get()))
      owned->OwnerGone();
}

com::Bstr Escaped(const wchar_t* text) {
  com::Bstr out;
  if (FAILED(EscapeXmlText(text ? text : L"", out.put()))) out.assign(L"");
  return out;
}

}  // namespace

const ChannelContainerCore::Entry* ChannelContainerCore::FindEntry(const wchar_t* name) const {
  for (const Entry& e : entries_)
    if (wcscmp(e.name.c_str(), name ? name : L"") == 0) return &e;
  return nullptr;
}

bool ChannelContainerCore::ClassInTable(const GUID& classId) const {
  size_t count = 0;
  const ChannelTableRow* rows = const_cast<ChannelContainerCore*>(this)->ContainerDtm().GetChannelTable(&count);
  for (size_t i = 0; rows && i < count; ++i)
    if (rows[i].classId && IsEqualGUID(*rows[i].classId, classId)) return true;
  return false;
}

void ChannelContainerCore::SetModifiedFromSubobject() {
  if (com::ComPtr<IevFdtStorageState> storage = ContainerDtm().DtmInterface<IevFdtStorageState>())
    storage->SetModified(1);
  modified_ = true;
}

// ---- Entries and channel objects -------------------------------------------

HRESULT ChannelContainerCore::AddChannel(std::vector<Entry>& entries,
                                         IFdtObjectCollection* collection, const Entry& entry,
                                         VARIANT_BOOL* done) {
  *done = VARIANT_FALSE;
  for (const Entry& e : entries)
    if (wcscmp(e.name.c_str(), entry.name.c_str()) == 0) return S_FALSE;
  if (!collection) return E_FAIL;
  // Only the channel classes the DTM declares are ever created.
  if (!ClassInTable(entry.classId)) return E_ACCESSDENIED;
  com::ComPtr<IUnknown> channel;
  HRESULT hr = ::CoCreateInstance(entry.classId, nullptr, kChannelContext, IID_IUnknown,
                                  channel.putVoid());
  if (FAILED(hr)) return hr;
  com::ComPtr<IDispatch> dispatch = com::query<IDispatch>(channel.get());
  if (!dispatch) return E_FAIL;
  hr = collection->Add(*com::Variant(entry.name.c_str()).get(), dispatch.get());
  if (FAILED(hr)) return hr;
  entries.push_back(entry);
  *done = VARIANT_TRUE;
  return S_OK;
}

ChannelContainerCore::~ChannelContainerCore() {
  com::guard([&] {
    ReplaceChannels({}, nullptr);
    return S_OK;
  });
}

void ChannelContainerCore::ReplaceChannels(std::vector<Entry> entries,
                                           com::ComPtr<IFdtObjectCollection> collection) {
  // Every object of the old list, also past one the collection cannot find.
  std::vector<com::ComPtr<IUnknown>> leaving;
  for (LONG i = 0; static_cast<size_t>(i) < entries_.size(); ++i) {
    com::ComPtr<IUnknown> channel;
    if (SUCCEEDED(FindChannel(i, channel.put()))) leaving.push_back(channel);
  }
  entries_ = std::move(entries);
  collection_ = std::move(collection);
  TellOwnerGone(leaving);
}

HRESULT ChannelContainerCore::FindChannel(LONG index, IUnknown** channel) {
  if (!channel) return E_POINTER;
  *channel = nullptr;
  if (index < 0 || static_cast<size_t>(index) >= entries_.size() || !collection_) return E_FAIL;
  com::ComPtr<IUnknown> object;
  HRESULT hr = collection_->GetByName(*com::Variant(entries_[index].name.c_str()).get(), object.put());
  if (FAILED(hr)) return hr;
  if (!object) return E_FAIL;
  *channel = object.detach();
  return S_OK;
}

HRESULT ChannelContainerCore::ChannelObjects(std::vector<com::ComPtr<IUnknown>>* channels) {
  for (LONG i = 0; static_cast<size_t>(i) < entries_.size(); ++i) {
    com::ComPtr<IUnknown> channel;
    HRESULT hr = FindChannel(i, channel.put());
    if (FAILED(hr)) return hr;
    channels->push_back(channel);
  }
  return S_OK;
}

HRESULT ChannelContainerCore::AttachChannel(const Entry& entry, IUnknown* channel) {
  if (entry.name.empty()) return E_INVALIDARG;
  com::ComPtr<IevFdtBaseChannel> base = com::query<IevFdtBaseChannel>(channel);
  if (!base) return S_OK;
  BaseDtm& dtm = ContainerDtm();
  HRESULT hr = base->Initialize(dtm.GetCommDtmInterface());
  if (FAILED(hr)) return hr;
  if (IUnknown* frame = dtm.FrameObject()) {
    hr = base->SetOwner(frame);
    if (FAILED(hr)) return hr;
  }
  hr = base->SetChannelTag(entry.name.get());
  if (FAILED(hr)) return hr;
  base->PostChannelEvent(*com::ui4(channel_key::kLanguage).get(),
                         *com::Variant(dtm.Language()).get());
  // A channel attached after the frame declared FDT 1.2.1 learns it here
  // (the DTM told only the channels it had then).
  if (dtm.IsFdt121Frame())
    base->PostChannelEvent(*com::ui4(property_id::kFdt121Frame).get(), *com::Variant(1).get());
  if (!entry.moduleText.empty() || entry.moduleNumber != 0) {
    if (com::ComPtr<IevFdtChannelModule> module = com::query<IevFdtChannelModule>(channel))
      module->SetModule(entry.moduleText.get(), *com::ui4(entry.moduleNumber).get());
  }
  return S_OK;
}

HRESULT ChannelContainerCore::CreateChannelObject(BSTR name, BSTR classId, bool notify,
                                                  VARIANT_BOOL* done) {
  *done = VARIANT_FALSE;
  if (FindEntry(name)) return S_FALSE;
  Entry entry;
  HRESULT hr = ParseClassId(classId, &entry.classId);
  if (FAILED(hr)) return hr;
  const LONG state = ContainerDtm().State();
  if (state == kDtmCreated || state == kDtmConstructed) return S_FALSE;
  if (entries_.size() >= static_cast<size_t>(kMaxChannels)) return E_OUTOFMEMORY;
  entry.name.assign(name ? name : L"");
  hr = AddChannel(entries_, collection_.get(), entry, done);
  if (hr != S_OK) return hr;
  if (state > kDtmEnvironmentSet) {
    com::ComPtr<IUnknown> channel;
    hr = FindChannel(static_cast<LONG>(entries_.size() - 1), channel.put());
    if (SUCCEEDED(hr)) hr = AttachChannel(entries_.back(), channel.get());
    if (FAILED(hr)) return hr;
    if (notify) SetModifiedFromSubobject();
  }
  return S_OK;
}

HRESULT ChannelContainerCore::RemoveChannel(BSTR name, bool notify, VARIANT_BOOL* done) {
  *done = VARIANT_FALSE;
  const Entry* entry = FindEntry(name);
  if (!entry) return S_FALSE;
  if (!collection_) return E_FAIL;
  const LONG index = static_cast<LONG>(entry - entries_.data());
  com::ComPtr<IUnknown> leaving;
  FindChannel(index, leaving.put());
  HRESULT hr = collection_->Remove(*com::Variant(entry->name.c_str()).get());
  if (FAILED(hr)) return hr;
  entries_.erase(entries_.begin() + index);
  TellOwnerGone({leaving});
  *done = VARIANT_TRUE;
  if (notify) SetModifiedFromSubobject();
  return S_OK;
}

// ---- IevFdtChannelContainer4 -----------------------------------------------

STDMETHODIMP ChannelContainerCore::CanReleaseChannels(VARIANT_BOOL* agreed) {
  if (!agreed) return E_POINTER;
  *agreed = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    std::vector<com::ComPtr<IUnknown>> channels;
    HRESULT hr = ChannelObjects(&channels);
    if (FAILED(hr)) return hr;
    for (const auto& channel : channels) {
      com::ComPtr<IevFdtBaseChannel> base = com::query<IevFdtBaseChannel>(channel.get());
      if (!base) continue;
      VARIANT_BOOL stopped = VARIANT_FALSE;
      hr = base->StopWorker(&stopped);
      if (FAILED(hr)) return hr;
      if (!stopped) return E_UNEXPECTED;
    }
    *agreed = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP ChannelContainerCore::AttachChannels(VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    // The DTM object stays alive while its channels take it (scoped).
    com::ComPtr<IUnknown> self(ContainerDtm().GetCommDtmInterface());
    for (LONG i = 0; static_cast<size_t>(i) < entries_.size(); ++i) {
      com::ComPtr<IUnknown> channel;
      if (FAILED(FindChannel(i, channel.put()))) continue;
      AttachChannel(entries_[i], channel.get());
    }
    if (ContainerDtm().State() >= kDtmConfigured)
      GetChannelList(*com::ui4(channel_key::kChildrenChanged).get(), *com::Variant().get());
    *done = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP ChannelContainerCore::ResetChannelParameter() {
  return com::guard([&]() -> HRESULT {
    if (!collection_) return E_UNEXPECTED;
    com::ComPtr<IEnumVARIANT> items;
    HRESULT hr = collection_->GetEnumerator(items.put());
    if (FAILED(hr)) return hr;
    items->Reset();
    bool visited = false, started = false;
    for (;;) {
      com::Variant item;
      ULONG fetched = 0;
      if (items->Next(1, item.put(), &fetched) != S_OK || fetched != 1) break;
      if (V_VT(item.get()) != VT_DISPATCH) break;
      com::ComPtr<IevFdtBaseChannel> base = com::query<IevFdtBaseChannel>(V_DISPATCH(item.get()));
      if (!base) break;
      visited = true;
      if (SUCCEEDED(base->StartWorker())) {
        started = true;
        base->ChannelRequest(*com::ui4(channel_key::kGoingOnline).get(), *com::Variant().get());
      }
    }
    if (!visited) {
      // No channel to connect (all were removed): nothing will move the DTM
      // online later, so going online is complete now.
      BaseDtm& dtm = ContainerDtm();
      if (dtm.State() == kDtmGoingOnline) dtm.SetState(kDtmOnline);
      return S_OK;
    }
    return started ? S_OK : E_FAIL;
  });
}

STDMETHODIMP ChannelContainerCore::ReleaseChannels(VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    VARIANT_BOOL agreed = VARIANT_FALSE;
    HRESULT hr = CanReleaseChannels(&agreed);
    if (FAILED(hr)) return hr;
    if (!agreed) return S_FALSE;
    ReplaceChannels({}, nullptr);
    *done = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP ChannelContainerCore::GetChannelList(VARIANT key, VARIANT value) {
  return com::guard([&]() -> HRESULT {
    std::vector<com::ComPtr<IUnknown>> channels;
    ChannelObjects(&channels);
    for (const auto& channel : channels)
      if (com::ComPtr<IevFdtBaseChannel> base = com::query<IevFdtBaseChannel>(channel.get()))
        base->PostChannelEvent(key, value);
    return S_OK;
  });
}

STDMETHODIMP ChannelContainerCore::GetChannelByKey(VARIANT key, IUnknown** channel) {
  if (!channel) return E_POINTER;
  *channel = nullptr;
  return com::guard([&]() -> HRESULT {
    if (!collection_) return E_UNEXPECTED;
    com::ComPtr<IUnknown> object;
    if (FAILED(collection_->GetByName(key, object.put())) || !object) return E_FAIL;
    *channel = object.detach();
    return S_OK;
  });
}

STDMETHODIMP ChannelContainerCore::InitNewChannels(VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IFdtObjectCollection> collection;
    HRESULT hr = CreateChannelCollection(collection.put());
    if (FAILED(hr)) return hr;
    if (!collection) return E_FAIL;
    std::vector<Entry> entries;
    size_t count = 0;
    const ChannelTableRow* row = ContainerDtm().GetChannelTable(&count);
    if (row && count > 0 && row->classId) {
      Entry entry;
      entry.name.assignMultiByte(row->name ? row->name : "");
      entry.classId = *row->classId;
      entry.information.assignMultiByte(row->channelInformation ? row->channelInformation : "");
      VARIANT_BOOL added = VARIANT_FALSE;
      hr = AddChannel(entries, collection.get(), entry, &added);
      if (FAILED(hr)) return hr;
    }
    ReplaceChannels(std::move(entries), collection);
    std::vector<com::ComPtr<IUnknown>> channels;
    ChannelObjects(&channels);
    for (const auto& channel : channels)
      if (com::ComPtr<IPersistStreamInit> persist = com::query<IPersistStreamInit>(channel.get()))
        persist->InitNew();
    *done = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP ChannelContainerCore::SaveChannelsToStream(IStream* stream, VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IStream> out = com::query<IStream>(stream);
    if (!out) return E_FAIL;
    HRESULT hr = com::writeVariant(out.get(), *com::Variant(static_cast<LONG>(entries_.size())).get());
    for (size_t i = 0; SUCCEEDED(hr) && i < entries_.size(); ++i) {
      const Entry& e = entries_[i];
      com::Bstr classText;
      hr = com::writeBstr(out.get(), e.name.get());
      if (SUCCEEDED(hr)) hr = GuidToString(&e.classId, classText.put());
      if (SUCCEEDED(hr)) hr = com::writeBstr(out.get(), classText.get());
      if (SUCCEEDED(hr)) hr = com::writeBstr(out.get(), e.moduleText.get());
      if (SUCCEEDED(hr)) hr = com::writeVariant(out.get(), *com::ui4(e.moduleNumber).get());
      if (SUCCEEDED(hr)) hr = com::writeBstr(out.get(), e.information.get());
    }
    if (FAILED(hr)) return hr;
    std::vector<com::ComPtr<IUnknown>> channels;
    hr = ChannelObjects(&channels);
    if (FAILED(hr)) return hr;
    for (const auto& channel : channels) {
      // A channel whose data is missing would misalign every later read.
      com::ComPtr<IPersistStreamInit> persist = com::query<IPersistStreamInit>(channel.get());
      if (!persist) return E_NOINTERFACE;
      hr = persist->Save(out.get(), TRUE);
      if (FAILED(hr)) return hr;
      if (hr != S_OK) return E_FAIL;
    }
    *done = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP ChannelContainerCore::LoadChannelsFromStream(IStream* stream, VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IFdtObjectCollection> collection;
    HRESULT hr = CreateChannelCollection(collection.put());
    if (FAILED(hr)) return hr;
    com::ComPtr<IStream> in = com::query<IStream>(stream);
    if (!in) return E_FAIL;
    com::Variant count;
    hr = com::readVariant(in.get(), count);
    if (SUCCEEDED(hr)) hr = count.changeType(VT_I4);
    if (FAILED(hr)) return hr;
    const LONG n = V_I4(count.get());
    if (n > kMaxChannels) return E_FAIL;
    std::vector<Entry> entries;
    for (LONG i = 0; i < n; ++i) {
      Entry e;
      com::Bstr classText;
      com::Variant number;
      hr = com::readBstr(in.get(), e.name);
      if (SUCCEEDED(hr)) hr = com::readBstr(in.get(), classText);
      if (SUCCEEDED(hr)) hr = ParseClassId(classText.c_str(), &e.classId);
      if (SUCCEEDED(hr)) hr = com::readBstr(in.get(), e.moduleText);
      if (SUCCEEDED(hr)) hr = com::readVariant(in.get(), number);
      if (SUCCEEDED(hr)) hr = number.changeType(VT_UI4);
      if (SUCCEEDED(hr)) e.moduleNumber = V_UI4(number.get());
      if (SUCCEEDED(hr)) hr = com::readBstr(in.get(), e.information);
      if (FAILED(hr)) return hr;
      VARIANT_BOOL added = VARIANT_FALSE;
      hr = AddChannel(entries, collection.get(), e, &added);
      if (FAILED(hr)) return hr;
      if (!added) return E_FAIL;
    }
    // Every channel reads its own data; one that fails fails the load.
    for (const Entry& e : entries) {
      com::ComPtr<IUnknown> object;
      hr = collection->GetByName(*com::Variant(e.name.c_str()).get(), object.put());
      if (FAILED(hr)) return hr;
      com::ComPtr<IPersistStreamInit> persist = com::query<IPersistStreamInit>(object.get());
      if (!persist) return E_NOINTERFACE;
      hr = persist->Load(in.get());
      if (FAILED(hr)) return hr;
      if (hr != S_OK) return E_FAIL;
    }
    ReplaceChannels(std::move(entries), collection);
    *done = VARIANT_TRUE;
    return S_OK;
  });
}

HRESULT ChannelContainerCore::ChannelReference(const Entry& entry, BSTR* reference) {
  com::Bstr idref = Escaped(entry.name.c_str());
  if (ContainerDtm().IsFdt121Frame() && !entry.information.empty())
    return FormatBstr(reference, L"<fdt:ChannelReference idref = \"%s\" >%s</fdt:ChannelReference>",
                      idref.c_str(), entry.information.c_str());
  return FormatBstr(reference, L"<fdt:ChannelReference idref = \"%s\" />", idref.c_str());
}

STDMETHODIMP ChannelContainerCore::GetChannelReferences(BSTR* references) {
  if (!references) return E_POINTER;
  *references = nullptr;
  return com::guard([&]() -> HRESULT {
    if (entries_.empty()) return S_OK;
    std::wstring items;
    for (const Entry& e : entries_) {
      com::Bstr one;
      HRESULT hr = ChannelReference(e, one.put());
      if (FAILED(hr)) return hr;
      items += one.c_str();
    }
    return FormatBstr(references, L"<fdt:ChannelReferences> %s </fdt:ChannelReferences>",
                      items.c_str());
  });
}

// ---- IDtmChannel -----------------------------------------------------------

STDMETHODIMP ChannelContainerCore::GetChannelCollection(IFdtChannelCollection** collection) {
  const LONG state = ContainerDtm().State();
  if (state < kDtmInitialised || state > kDtmOnline) return S_FALSE;
  if (!collection) return E_POINTER;
  *collection = nullptr;
  if (!collection_) return E_UNEXPECTED;
  return collection_->QueryInterface(__uuidof(IFdtChannelCollection),
                                     reinterpret_cast<void**>(collection));
}

STDMETHODIMP ChannelContainerCore::GetChannels(BSTR* channelReferences, BSTR* topology) {
  if (!channelReferences || !topology) return E_POINTER;
  *channelReferences = nullptr;
  *topology = nullptr;
  return com::guard([&]() -> HRESULT {
    if (entries_.empty()) return S_OK;
    std::wstring plain;
    struct Module {
      LONG index;
      std::wstring element;
    };
    std::vector<Module> modules;
    for (LONG i = 0; static_cast<size_t>(i) < entries_.size(); ++i) {
      const Entry& e = entries_[i];
      com::Bstr reference;
      HRESULT hr = ChannelReference(e, reference.put());
      if (FAILED(hr)) return hr;
      LONG moduleIndex = -1;
      com::ComPtr<IUnknown> channel;
      if (SUCCEEDED(FindChannel(i, channel.put())))
        if (com::ComPtr<IevFdtChannelModule> module =
                com::query<IevFdtChannelModule>(channel.get()))
          if (FAILED(module->GetModuleIndex(&moduleIndex))) moduleIndex = -1;
      if (moduleIndex < 0) {
        plain += reference.c_str();
        continue;
      }
      Module* found = nullptr;
      for (Module& m : modules)
        if (m.index == moduleIndex) found = &m;
      if (found) {
        found->element += reference.c_str();
        continue;
      }
      com::Bstr open;
      hr = FormatBstr(open.put(),
                      L"\t<InternalChannel fdt:readAccess=\"1\" fdt:writeAccess=\"0\">\n\t\t<Module "
                      L"moduleId=\"%d\" moduleTypeId=\"%d\" slot=\"%d\" configurationData=\"%s\">\n"
                      L"\t\t\t<fdt:VersionInformation\n\t\t\t  name=\"%s\"\n\t\t\t/>\n\t\t\t\t"
                      L"<fdt:ChannelReferences>\n%s\n",
                      static_cast<int>(moduleIndex), 0, static_cast<int>(moduleIndex),
                      Escaped(e.moduleText.c_str()).c_str(), Escaped(e.name.c_str()).c_str(),
                      reference.c_str());
      if (FAILED(hr)) return hr;
      modules.push_back({moduleIndex, open.c_str()});
    }
    if (!plain.empty()) {
      HRESULT hr = FormatBstr(channelReferences, L"<fdt:ChannelReferences> %s </fdt:ChannelReferences>",
                              plain.c_str());
      if (FAILED(hr)) return hr;
    }
    if (!modules.empty()) {
      std::wstring body;
      for (const Module& m : modules)
        body += m.element + L"\t\t\t\t</fdt:ChannelReferences>\n\t\t</Module>\n\t</InternalChannel>\n";
      return FormatBstr(topology,
                        L"\t<InternalTopology fdt:readAccess=\"1\" fdt:writeAccess=\"0\">\n%s\n"
                        L"\t</InternalTopology>\n",
                        body.c_str());
    }
    return S_OK;
  });
}

STDMETHODIMP ChannelContainerCore::GetChannelState(BSTR channelName, long* stateBits) {
  if (!stateBits) return E_POINTER;
  *stateBits = 0;
  return com::guard([&]() -> HRESULT {
    if (!FindEntry(channelName)) return S_OK;
    *stateBits = 1;
    BaseDtm& dtm = ContainerDtm();
    com::ComPtr<IFrameTopology> topology = com::query<IFrameTopology>(dtm.FrameObject());
    if (!topology) return E_POINTER;
    if (dtm.State() == kDtmEnvironmentSet) return S_OK;
    std::wstring path = std::wstring(dtm.SystemTagText() ? dtm.SystemTagText() : L"") + L"/" +
                        (channelName ? channelName : L"");
    com::Bstr pathText(path.c_str()), list;
    HRESULT hr = topology->GetChildNodes(pathText.get(), list.put());
    if (FAILED(hr)) return hr;
    // A list that does not parse or cannot be read is a failure, never "no
    // children": removal asks this before it drops a channel.
    com::ComPtr<IXMLDOMDocument2> document;
    VARIANT_BOOL parsed = VARIANT_FALSE;
    if (FAILED(XmlHandlerCore::LoadOutsideDocument(list.c_str(), document.put(), &parsed)) || !parsed)
      return E_FAIL;
    com::ComPtr<IXMLDOMNodeList> children;
    com::Bstr xpath(L"FDT/DtmChildList/DtmSystemTagList/*");
    long count = 0;
    if (FAILED(document->selectNodes(xpath.get(), children.put())) || !children ||
        FAILED(children->get_length(&count)))
      return E_FAIL;
    if (count != 0) *stateBits |= 2;
    return S_OK;
  });
}

STDMETHODIMP ChannelContainerCore::GetChannelCount(unsigned long* count) {
  if (!count) return E_POINTER;
  *count = static_cast<unsigned long>(entries_.size());
  return S_OK;
}

// ---- IevFdtChannelManagement -----------------------------------------------

STDMETHODIMP ChannelContainerCore::AddChannelByClass(BSTR name, BSTR classId, VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  return com::guard([&] { return CreateChannelObject(name, classId, true, done); });
}

STDMETHODIMP ChannelContainerCore::RemoveChannelByName(BSTR name, VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    // Only a listed channel without children at the frame goes; a state
    // query that fails keeps it.
    long bits = 0;
    HRESULT hr = GetChannelState(name, &bits);
    if (FAILED(hr)) return hr;
    if (!(bits & 1) || (bits & 2)) return S_FALSE;
    return RemoveChannel(name, true, done);
  });
}

STDMETHODIMP ChannelContainerCore::GetChannelStateValue(BSTR name, VARIANT* state) {
  if (!state) return E_POINTER;
  ::VariantInit(state);
  long bits = 0;
  HRESULT hr = GetChannelState(name, &bits);
  V_VT(state) = VT_UI4;
  V_UI4(state) = static_cast<ULONG>(bits);
  return hr;
}

STDMETHODIMP ChannelContainerCore::GetChannelCountValue(VARIANT* count) {
  if (!count) return E_POINTER;
  ::VariantInit(count);
  V_VT(count) = VT_UI4;
  V_UI4(count) = static_cast<ULONG>(entries_.size());
  return S_OK;
}

// ---- IevFdtChannelPersist --------------------------------------------------

STDMETHODIMP ChannelContainerCore::SaveChannelCollection(BSTR* document) {
  if (!document) return E_POINTER;
  // An [out] text: whatever the caller's slot held is not ours to free.
  // Without modified channels it is set to null (no document).
  *document = nullptr;
  return com::guard([&]() -> HRESULT {
    if (!modified_) return S_OK;
    std::wstring text = L"<ChannelCollection> ";
    for (LONG i = 0; static_cast<size_t>(i) < entries_.size(); ++i) {
      const Entry& e = entries_[i];
      com::Bstr classText, parameters, one;
      HRESULT hr = GuidToString(&e.classId, classText.put());
      if (FAILED(hr)) return hr;
      com::ComPtr<IUnknown> channel;
      if (SUCCEEDED(FindChannel(i, channel.put())))
        if (auto io = com::query<IevFdtParametersImportExport>(channel.get()))
          io->Export(parameters.put());
      hr = FormatBstr(one.put(), L"<Channel name =\"%s\" clsid =\"%s\"> \r\n\t%s </Channel> ",
                      Escaped(e.name.c_str()).c_str(), classText.c_str(), parameters.c_str());
      if (FAILED(hr)) return hr;
      text += one.c_str();
    }
    text += L"</ChannelCollection> ";
    *document = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *document ? S_OK : E_OUTOFMEMORY;
  });
}

STDMETHODIMP ChannelContainerCore::LoadChannels(BSTR document) {
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL parsed = VARIANT_FALSE;
    HRESULT hr = XmlHandlerCore::LoadOutsideDocument(document ? document : L"", doc.put(), &parsed);
    if (FAILED(hr)) return hr;
    // A text that does not parse names no channel's parameters: nothing is
    // loaded, which is no failure.
    if (!parsed) return S_OK;
    for (LONG i = 0; static_cast<size_t>(i) < entries_.size(); ++i) {
      // The name enters the query as a literal, so that it selects only its
      // own channel whatever it holds; a name no literal can hold is skipped.
      com::Bstr classText, name;
      if (FAILED(GuidToString(&entries_[i].classId, classText.put())) ||
          !QuotedXPathLiteral(entries_[i].name.c_str(), name.put()))
        continue;
      std::wstring xpath = L"ChannelCollection/Channel[@name=" + std::wstring(name.c_str()) +
                           L" and @clsid=\"" + classText.c_str() + L"\"]/PARAMETERS";
      com::Bstr parameters;
      if (FAILED(XmlGetNodeXml(doc.get(), xpath.c_str(), parameters.put())) || parameters.empty())
        continue;
      std::wstring text = L"<?xml version=\"1.0\"?> \r\n" + std::wstring(parameters.c_str());
      com::ComPtr<IUnknown> channel;
      if (FAILED(FindChannel(i, channel.put()))) continue;
      if (auto io = com::query<IevFdtParametersImportExport>(channel.get())) {
        com::Bstr imported(text.c_str());
        io->Import(imported.get());
      }
    }
    return S_OK;
  });
}

STDMETHODIMP ChannelContainerCore::SetChannelsModified(VARIANT_BOOL modified) {
  modified_ = modified != VARIANT_FALSE;
  return S_OK;
}
