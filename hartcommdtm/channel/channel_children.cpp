// CHART_Channel: the device DTMs below the channel. The FDT sub-topology
// calls (validation, add, remove), the IHART_Channel child readers and
// writers, the child DTM's tag and polling address in its own parameter
// document, and the reconciliation with the frame's child list.
//
// Each child document is loaded with the channel's XML handler, which
// validates it where the platform validates on load; a document it does not
// accept (not well formed, or refused by its schema) fails the call, never
// answers success.
#include <cstdio>
#include <string>

#include "channel/hart_channel.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/xml/xml_dom.h"

__CRT_UUID_DECL(IXMLDOMAttribute, 0x2933BF85, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)

namespace hartdtm {

namespace {

// Control properties the channel sets on the DTM's open controls.
constexpr LONG kControlChildAdded = 1038;
constexpr LONG kControlChildRemoved = 1039;

// Message of a child DTM that refused its new document.
constexpr UINT kMessageSetParametersFailed = 5029;
constexpr wchar_t kTextSetParametersFailed[] = L"SetParameters for the new DeviceDTM failed!";

constexpr wchar_t kChildDocumentPath[] = L"/FDT";
constexpr wchar_t kProtocolDocumentPath[] = L"FDT";
constexpr wchar_t kTagXPath[] = L"FDT/DtmDevice/@fdt:tag";
constexpr wchar_t kAddressXPath[] = L"FDT/DtmDevice/BusInformation/SlaveAddress/@slaveAddress";
// Where SetDeviceDtmInfo writes the address when the document has no
// SlaveAddress; read as the second form.
constexpr wchar_t kBusAddressXPath[] = L"FDT/DtmDevice/BusInformation/MasterSlaveBus/@busAddress";
constexpr wchar_t kDeviceXPath[] = L"FDT/DtmDevice";
constexpr wchar_t kBusInformationXPath[] = L"FDT/DtmDevice/BusInformation";
constexpr wchar_t kMasterSlaveBusXPath[] = L"FDT/DtmDevice/BusInformation/MasterSlaveBus";
constexpr wchar_t kChildListXPath[] = L"FDT/DtmChildList/DtmSystemTagList/*";
constexpr wchar_t kBusCategoriesXPath[] = L"FDT/fdt:DtmDeviceType/fdt:BusCategories/*";

std::wstring Text(BSTR text) { return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring(); }

// One child DTM object, got from the frame's topology by system tag and
// handed back with the same tag when the holder ends.
class ChildDtmRef {
 public:
  ChildDtmRef(IFrameTopology* topology, const wchar_t* systemTag) : topology_(topology), tag_(systemTag) {
    if (topology_ && FAILED(topology_->GetDtmForSystemTag(tag_.get(), dtm_.put()))) dtm_ = nullptr;
  }
  ~ChildDtmRef() {
    if (dtm_ && topology_) {
      VARIANT_BOOL released = VARIANT_FALSE;
      topology_->ReleaseDtmForSystemTag(tag_.get(), &released);
    }
    dtm_ = nullptr;
  }
  ChildDtmRef(const ChildDtmRef&) = delete;
  ChildDtmRef& operator=(const ChildDtmRef&) = delete;

  IUnknown* dtm() const { return dtm_.get(); }
  HRESULT parameters(com::ComPtr<IDtmParameter>& out) const {
    if (!dtm_ || FAILED(out.queryFrom(dtm_.get())) || !out) return E_NOINTERFACE;
    return S_OK;
  }

 private:
  com::ComPtr<IFrameTopology> topology_;
  com::Bstr tag_;
  com::ComPtr<IUnknown> dtm_;
};

// The element's namespace, so that elements added beside it belong to the
// same document type.
HRESULT NamespaceOf(IXMLDOMNode* doc, const wchar_t* xpath, com::Bstr& uri) {
  com::ComPtr<IXMLDOMNode> node;
  com::Bstr path(xpath);
  HRESULT hr = doc->selectSingleNode(path.get(), node.put());
  if (hr != S_OK || !node) return E_FAIL;
  hr = node->get_namespaceURI(uri.put());
  if (FAILED(hr)) return hr;
  if (!uri.get()) return uri.assign(L"");
  return S_OK;
}

// Sets the attribute's value; false when the XPath selects nothing.
HRESULT SetExistingAttribute(IXMLDOMNode* doc, const wchar_t* xpath, const wchar_t* value, bool* found) {
  *found = false;
  com::ComPtr<IXMLDOMNode> node;
  com::Bstr path(xpath);
  HRESULT hr = doc->selectSingleNode(path.get(), node.put());
  if (FAILED(hr)) return hr;
  if (hr != S_OK || !node) return S_OK;
  *found = true;
  com::Bstr text(value);
  return node->put_text(text.get());
}

// Adds an attribute in a namespace (none for an empty uri) to the element
// that the XPath selects.
HRESULT AddAttribute(IXMLDOMDocument* doc, const wchar_t* elementXPath, const wchar_t* name,
                     const wchar_t* uri, const wchar_t* value) {
  com::ComPtr<IXMLDOMNode> node;
  com::Bstr path(elementXPath);
  HRESULT hr = doc->selectSingleNode(path.get(), node.put());
  if (FAILED(hr)) return hr;
  if (hr != S_OK || !node) return E_FAIL;
  com::ComPtr<IXMLDOMElement> element;
  if (FAILED(element.queryFrom(node.get())) || !element) return E_FAIL;
  com::Variant type(static_cast<LONG>(NODE_ATTRIBUTE));
  com::Bstr attributeName(name), namespaceUri(uri);
  com::ComPtr<IXMLDOMNode> created;
  hr = doc->createNode(type.value(), attributeName.get(), namespaceUri.get(), created.put());
  if (FAILED(hr)) return hr;
  com::Bstr text(value);
  hr = created->put_text(text.get());
  if (FAILED(hr)) return hr;
  com::ComPtr<IXMLDOMAttribute> attribute;
  if (FAILED(attribute.queryFrom(created.get())) || !attribute) return E_FAIL;
  com::ComPtr<IXMLDOMAttribute> replaced;
  return element->setAttributeNode(attribute.get(), replaced.put());
}

bool Exists(IXMLDOMNode* doc, const wchar_t* xpath) { return XmlNodeExists(doc, xpath) == 1; }

}  // namespace

// ---- helpers ---------------------------------------------------------------

HRESULT CHART_Channel::Topology(com::ComPtr<IFrameTopology>& out) {
  IFrameContainer* frame = OnWorkerThread() ? workerFrame_.get() : frame_.get();
  out = nullptr;
  if (!frame || FAILED(out.queryFrom(frame)) || !out) return E_NOINTERFACE;
  return S_OK;
}

std::wstring CHART_Channel::ChannelPathText() const {
  std::wstring path = ownerSystemTag_.c_str();
  if (!channelTag_.empty()) path += L"/" + std::wstring(channelTag_.c_str());
  return path;
}

HRESULT CHART_Channel::MarkModified(bool modified) {
  ::InterlockedExchange(&dirty_, modified ? 1 : 0);
  com::ComPtr<IevFdtStorageState> storage;
  if (SUCCEEDED(Owner(storage)) && storage) storage->SetModified(modified ? 1 : 0);
  com::ComPtr<IevFdtChannelPersist> persist;
  if (SUCCEEDED(Owner(persist)) && persist) persist->SetChannelsModified(VARIANT_TRUE);
  return S_OK;
}

HRESULT CHART_Channel::TellControls(LONG property, const wchar_t* systemTag) {
  com::ComPtr<IevFdtActiveXContainer> controls;
  if (FAILED(Owner(controls)) || !controls) return S_FALSE;
  com::Variant key(property);
  com::Variant tag(systemTag ? systemTag : L"");
  return controls->SetControlsProperty(key.value(), tag.value());
}

// ---- reading a child DTM's document ------------------------------------------

HRESULT CHART_Channel::ReadChildDtmInfo(const wchar_t* systemTag, std::wstring* dtmTag, uint8_t* address,
                                        bool* tagRead) {
  if (!systemTag || !dtmTag || !address) return E_INVALIDARG;
  if (tagRead) *tagRead = false;
  com::ComPtr<IFrameTopology> topology;
  Topology(topology);
  ChildDtmRef child(topology.get(), systemTag);
  com::ComPtr<IDtmParameter> parameters;
  if (FAILED(child.parameters(parameters))) return E_NOINTERFACE;
  com::Bstr path(kChildDocumentPath), xml;
  HRESULT hr = parameters->GetParameters(path.get(), xml.put());
  if (FAILED(hr)) return hr;
  if (xml.empty()) return E_FAIL;
  com::ComPtr<IXMLDOMDocument2> doc;
  if (FAILED(LoadRequestDocument(xml.get(), doc.put()))) return E_FAIL;

  com::Bstr tag;
  const HRESULT tagResult = XmlGetNodeText(doc.get(), kTagXPath, tag.put());
  if (SUCCEEDED(tagResult)) {
    *dtmTag = Text(tag.get());
    if (tagRead) *tagRead = true;
  }
  // The address in either of the forms SetDeviceDtmInfo writes.
  ULONG number = 0;
  HRESULT addressRead = XmlHandlerCore::ReadNumericAttribute(&number, doc.get(), kAddressXPath);
  if (addressRead == E_FAIL) addressRead = XmlHandlerCore::ReadNumericAttribute(&number, doc.get(), kBusAddressXPath);
  if (SUCCEEDED(addressRead) && number > 0xFF) addressRead = DISP_E_OVERFLOW;
  if (SUCCEEDED(addressRead)) *address = static_cast<uint8_t>(number);
  return FAILED(tagResult) ? tagResult : addressRead;
}

HRESULT CHART_Channel::SupportsDeviceTypeProtocol(IUnknown* deviceDtm, bool* supported) {
  if (!deviceDtm || !supported) return S_OK;
  com::ComPtr<IDtmParameter> parameters;
  if (FAILED(parameters.queryFrom(deviceDtm)) || !parameters) return E_NOINTERFACE;
  com::Bstr path(kProtocolDocumentPath), xml;
  HRESULT hr = parameters->GetParameters(path.get(), xml.put());
  if (FAILED(hr)) return hr;
  com::ComPtr<IXMLDOMDocument2> doc;
  hr = LoadRequestDocument(xml.get(), doc.put());
  if (FAILED(hr)) return hr;
  com::Bstr xpath(kBusCategoriesXPath);
  com::ComPtr<IXMLDOMNodeList> categories;
  hr = doc->selectNodes(xpath.get(), categories.put());
  if (FAILED(hr)) return hr;
  long count = 0;
  if (!categories || FAILED(categories->get_length(&count)) || count == 0) return E_FAIL;
  for (long i = 0; i < count; ++i) {
    com::ComPtr<IXMLDOMNode> category;
    if (FAILED(categories->get_item(i, category.put())) || !category) return E_FAIL;
    com::Bstr kind;
    BYTE given = 0;
    XmlHandlerCore::GetOptionalNodeText(kind.put(), &given, category.get(),
                                        L"fdt:CommunicationTypeEntry/@communicationType");
    if (given && Text(kind.get()) != L"required") continue;
    com::Bstr id;
    if (FAILED(XmlGetNodeText(category.get(), L"@busCategory", id.put()))) return E_FAIL;
    GUID protocol;
    if (!ParseGuidText(id.c_str(), &protocol)) return E_FAIL;
    if (IsSupportedProtocol(protocol)) {
      *supported = true;
      return S_OK;
    }
  }
  return S_OK;
}

HRESULT CHART_Channel::AddChildFromDtm(const wchar_t* systemTag) {
  ChildDtmEntry entry;
  entry.systemTag = systemTag ? systemTag : L"";
  // A child that cannot be read yet still gets its entry; it is read again
  // when it reports a change.
  ReadChildDtmInfo(entry.systemTag.c_str(), &entry.dtmTag, &entry.address);
  children_.Put(entry);
  MarkModified(true);
  return S_OK;
}

// ---- IFdtChannelSubTopology --------------------------------------------------

STDMETHODIMP CHART_Channel::ValidateAddChild(BSTR childSystemTag, VARIANT_BOOL* result) {
  return com::guard([&]() -> HRESULT {
    long state = 0;
    if (FAILED(OwnerDtmState(&state)) || state < 7 || state > 12 || !childSystemTag) return S_FALSE;
    if (!result) return E_POINTER;
    *result = VARIANT_FALSE;
    if (state == 7) return S_FALSE;
    com::ComPtr<IFrameTopology> topology;
    if (FAILED(Topology(topology))) return E_FAIL;
    ChildDtmRef child(topology.get(), childSystemTag);
    if (!child.dtm()) return S_FALSE;
    bool supported = false;
    if (FAILED(SupportsDeviceTypeProtocol(child.dtm(), &supported))) return S_FALSE;
    *result = supported ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

STDMETHODIMP CHART_Channel::ValidateRemoveChild(BSTR childSystemTag, VARIANT_BOOL* result) {
  return com::guard([&]() -> HRESULT {
    long state = 0;
    if (FAILED(OwnerDtmState(&state)) || state < 7 || state > 12) return S_FALSE;
    if (!result) return E_POINTER;
    *result = VARIANT_FALSE;
    if (childSystemTag && children_.HasTag(Text(childSystemTag))) *result = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP CHART_Channel::OnAddChild(BSTR childSystemTag) {
  return com::guard([&]() -> HRESULT {
    long state = 0;
    if (FAILED(OwnerDtmState(&state)) || state == 7) return S_FALSE;
    // Only a child whose protocol the channel speaks joins the tag list;
    // every added child gets a table entry.
    VARIANT_BOOL valid = VARIANT_FALSE;
    if (ValidateAddChild(childSystemTag, &valid) == S_OK && valid) children_.AddTag(Text(childSystemTag));
    AddChildFromDtm(Text(childSystemTag).c_str());
    TellControls(kControlChildAdded, Text(childSystemTag).c_str());
    com::ComPtr<IHART_CommDTM> dtm;
    if (SUCCEEDED(Owner(dtm)) && dtm) dtm->DeviceDtmAdded(childSystemTag);
    IncreaseChangeCount();
    return S_OK;
  });
}

STDMETHODIMP CHART_Channel::OnRemoveChild(BSTR childSystemTag) {
  return com::guard([&]() -> HRESULT {
    const std::wstring tag = Text(childSystemTag);
    if (childSystemTag) children_.RemoveTag(tag);
    children_.RemoveEntry(tag);
    TellControls(kControlChildRemoved, tag.c_str());
    IncreaseChangeCount();
    MarkModified(true);
    return S_OK;
  });
}

// ---- IHART_Channel: child DTMs ------------------------------------------------

STDMETHODIMP CHART_Channel::GetChildDtmCount(unsigned long* pulCount) {
  if (!pulCount) return E_INVALIDARG;
  *pulCount = static_cast<unsigned long>(children_.Count());
  return S_OK;
}

STDMETHODIMP CHART_Channel::GetChildDtmInfoByIndex(unsigned long ulIndex, BSTR* pbsSystemTag, BSTR* pbsDtmTag,
                                                   unsigned char* pbyAddress) {
  if (!pbsSystemTag || !pbsDtmTag || !pbyAddress) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    ChildDtmEntry entry;
    if (!children_.EntryAt(ulIndex, &entry)) return E_INVALIDARG;
    com::Bstr systemTag(entry.systemTag.c_str()), dtmTag(entry.dtmTag.c_str());
    if (!systemTag.get() || !dtmTag.get()) return E_OUTOFMEMORY;
    *pbsSystemTag = systemTag.detach();
    *pbsDtmTag = dtmTag.detach();
    *pbyAddress = entry.address;
    return S_OK;
  });
}

STDMETHODIMP CHART_Channel::GetChildDtmInfoBySysTag(BSTR bsSystemTag, BSTR* pbsDtmTag, unsigned char* pbyAddress) {
  if (!pbsDtmTag || !pbyAddress) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    ChildDtmEntry entry;
    if (!children_.Find(Text(bsSystemTag), &entry)) return E_FAIL;
    com::Bstr dtmTag(entry.dtmTag.c_str());
    if (!dtmTag.get()) return E_OUTOFMEMORY;
    *pbsDtmTag = dtmTag.detach();
    *pbyAddress = entry.address;
    return S_OK;
  });
}

STDMETHODIMP CHART_Channel::SetDeviceDtmInfo(BSTR bsSystemTag, unsigned char byAddress, BSTR bsTag) {
  return com::guard([&]() -> HRESULT {
    const std::wstring systemTag = Text(bsSystemTag);
    if (!children_.Find(systemTag, nullptr)) return E_POINTER;
    com::ComPtr<IFrameTopology> topology;
    Topology(topology);
    ChildDtmRef child(topology.get(), systemTag.c_str());
    com::ComPtr<IDtmParameter> parameters;
    if (FAILED(child.parameters(parameters))) return E_NOINTERFACE;
    com::Bstr path(kChildDocumentPath), xml;
    HRESULT hr = parameters->GetParameters(path.get(), xml.put());
    if (FAILED(hr)) return hr;
    // A document that cannot be read, or that its schema refuses, is not
    // rewritten: the call fails and the child keeps what it has.
    com::ComPtr<IXMLDOMDocument2> doc;
    hr = LoadRequestDocument(xml.get(), doc.put());
    if (FAILED(hr)) return hr;

    bool found = false;
    const std::wstring tag = Text(bsTag);
    hr = SetExistingAttribute(doc.get(), kTagXPath, tag.c_str(), &found);
    if (SUCCEEDED(hr) && !found) hr = AddAttribute(doc.get(), kDeviceXPath, L"fdt:tag", kFdtDataTypesNamespace, tag.c_str());
    if (FAILED(hr)) return hr;

    wchar_t addressText[8];
    std::swprintf(addressText, 8, L"%u", static_cast<unsigned>(byAddress));
    hr = SetExistingAttribute(doc.get(), kAddressXPath, addressText, &found);
    if (FAILED(hr)) return hr;
    if (!found) {
      // The bus address goes into the one BusInformation element of the
      // device (made when missing), in the device element's namespace.
      com::Bstr uri;
      hr = NamespaceOf(doc.get(), kDeviceXPath, uri);
      if (FAILED(hr)) return hr;
      com::ComPtr<IXMLDOMNode> added;
      if (!Exists(doc.get(), kBusInformationXPath)) {
        hr = XmlAppendElementAt(doc.get(), kDeviceXPath, L"BusInformation", uri.c_str(), added.put());
        if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
      }
      if (!Exists(doc.get(), kMasterSlaveBusXPath)) {
        added = nullptr;
        hr = XmlAppendElementAt(doc.get(), kBusInformationXPath, L"MasterSlaveBus", uri.c_str(), added.put());
        if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
      }
      hr = AddAttribute(doc.get(), kMasterSlaveBusXPath, L"busAddress", L"", addressText);
      if (FAILED(hr)) return hr;
    }

    com::Bstr written;
    hr = doc->get_xml(written.put());
    if (FAILED(hr)) return hr;
    VARIANT_BOOL accepted = VARIANT_FALSE;
    hr = parameters->SetParameters(path.get(), written.get(), &accepted);
    if (FAILED(hr) || !accepted) {
      com::Bstr message;
      if (FAILED(GetUserMessage(kMessageSetParametersFailed, nullptr, message.put())) || message.empty())
        message.assign(kTextSetParametersFailed);
      ReportToOwner(message.c_str());
      return E_FAIL;
    }
    children_.Update(systemTag, tag, byAddress);
    IncreaseChangeCount();
    MarkModified(true);
    return S_OK;
  });
}

STDMETHODIMP CHART_Channel::ChildDtmChanged(BSTR bsSystemTag) {
  return com::guard([&]() -> HRESULT {
    const std::wstring systemTag = Text(bsSystemTag);
    ChildDtmEntry entry;
    if (!children_.Find(systemTag, &entry)) return E_POINTER;
    std::wstring dtmTag;
    uint8_t address = kUnknownChildAddress;
    bool tagRead = false;
    const HRESULT hr = ReadChildDtmInfo(systemTag.c_str(), &dtmTag, &address, &tagRead);
    // Without its tag the child's document tells nothing and the entry stays
    // as it is; a missing address is unknown (0xFF).
    if (FAILED(hr) && !tagRead) return hr;
    if (dtmTag == entry.dtmTag && address == entry.address) return S_OK;
    children_.Update(systemTag, dtmTag, address);
    const HRESULT counted = IncreaseChangeCount();
    if (SUCCEEDED(counted)) MarkModified(true);
    return counted;
  });
}

// ---- the frame's child list ---------------------------------------------------

HRESULT CHART_Channel::ReadFrameChildList(std::vector<std::wstring>* tags) {
  com::ComPtr<IFrameTopology> topology;
  if (FAILED(Topology(topology))) return E_FAIL;
  com::Bstr path(ChannelPathText().c_str()), xml;
  HRESULT hr = topology->GetChildNodes(path.get(), xml.put());
  if (FAILED(hr)) return hr;
  com::ComPtr<IXMLDOMDocument2> doc;
  if (FAILED(LoadRequestDocument(xml.get(), doc.put()))) return S_FALSE;
  com::Bstr xpath(kChildListXPath);
  com::ComPtr<IXMLDOMNodeList> nodes;
  hr = doc->selectNodes(xpath.get(), nodes.put());
  if (FAILED(hr)) return hr;
  long count = 0;
  if (nodes && FAILED(hr = nodes->get_length(&count))) return hr;
  std::vector<std::wstring> read;
  for (long i = 0; i < count; ++i) {
    com::ComPtr<IXMLDOMNode> node;
    com::Bstr tag;
    if (FAILED(nodes->get_item(i, node.put())) || !node ||
        FAILED(XmlGetNodeText(node.get(), L"@systemTag", tag.put())))
      return E_FAIL;
    read.push_back(Text(tag.get()));
  }
  tags->swap(read);
  return S_OK;
}

// The children-changed event (worker): the tag list becomes the frame's
// list (read again, never appended to), and a table that no longer matches
// it is cleared for the next UpdateChildList.
HRESULT CHART_Channel::OnChildrenChanged() {
  std::vector<std::wstring> tags;
  const HRESULT hr = ReadFrameChildList(&tags);
  if (hr != S_OK) return hr;
  children_.ReplaceTags(tags);
  children_.Reconcile();
  return S_OK;
}

STDMETHODIMP CHART_Channel::UpdateChildList() {
  return com::guard([&]() -> HRESULT {
    std::vector<std::wstring> tags;
    const HRESULT hr = ReadFrameChildList(&tags);
    if (hr == S_FALSE) return E_FAIL;
    if (FAILED(hr)) return hr;
    const bool tableMatches = children_.TableMatches(tags);
    if (!children_.TagsMatch(tags)) children_.ReplaceTags(tags);
    if (tableMatches && !children_.Stale()) return S_OK;
    std::vector<ChildDtmEntry> table;
    for (const std::wstring& tag : tags) {
      bool listed = false;
      for (const ChildDtmEntry& e : table) listed = listed || SameChildSystemTag(e.systemTag, tag);
      if (listed) continue;
      ChildDtmEntry entry;
      entry.systemTag = tag;
      ReadChildDtmInfo(tag.c_str(), &entry.dtmTag, &entry.address);
      table.push_back(entry);
    }
    children_.ReplaceTable(table);
    MarkModified(true);
    return S_OK;
  });
}

}  // namespace hartdtm
