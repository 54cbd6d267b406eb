// Single-instance and single-device data access: reading and writing items
// of the data set and of the device, and the answers to the frame.
#include "toolkit/dataaccess/data_access.h"

#include <msxml2.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/frame_events.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xml_handler.h"

namespace {

const wchar_t kValuesHead[] =
    L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMItemListSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n\t<DtmItemList>\n";
const wchar_t kValuesTail[] = L"\t</DtmItemList>\n</FDT>";
const wchar_t kItem[] =
    L"\t<DtmItem fdt:id=\"%d\">\n\t\t<TimeStamp fdt:time=\"%s\"/>\n\t\t<Quality  qualityBits=\"%s\"/>\n"
    L"\t\t%s\t</DtmItem>\n";
const wchar_t kInvalidValue[] =
    L"\t<ItemError>\n\t\t<ItemErrorDescription itemErrorDescription=\"invalidValue\"/>\n"
    L"\t</ItemError>\n";
const wchar_t kNoLock[] =
    L"\t<ItemError>\n\t\t<ItemErrorDescription itemErrorDescription=\"noLock\"/>\n\t</ItemError>\n";

// Request paths. The requests carry the item schema as their default
// namespace; names are matched by their local part.
const wchar_t kSelections[] = L"//*[local-name()='DtmItemSelection']";
const wchar_t kItems[] = L"//*[local-name()='DtmItem']";
const wchar_t kIdAttribute[] = L"@*[local-name()='id']";
const wchar_t kVariantChild[] = L"*[local-name()='Variant']";
const wchar_t kRequestTime[] = L"*[local-name()='TimeStamp']/@*[local-name()='time']";

constexpr ULONG kStatusInvalid = 0x4;

// The request document and its nodes of the path; S_FALSE when the text is
// empty or does not load.
HRESULT LoadNodes(const wchar_t* text, const wchar_t* path, com::ComPtr<IXMLDOMDocument2>& doc,
                  com::ComPtr<IXMLDOMNodeList>& nodes) {
  if (!text || !*text) return S_FALSE;
  VARIANT_BOOL parsed = VARIANT_FALSE;
  if (FAILED(XmlHandlerCore::LoadOutsideDocument(text, doc.put(), &parsed)) || !parsed) return S_FALSE;
  doc->setProperty(com::Bstr(L"SelectionLanguage").get(), com::Variant(L"XPath").value());
  if (FAILED(doc->selectNodes(com::Bstr(path).get(), nodes.put())) || !nodes) return S_FALSE;
  return S_OK;
}

std::vector<com::ComPtr<IXMLDOMNode>> NodesOf(IXMLDOMNodeList* list) {
  std::vector<com::ComPtr<IXMLDOMNode>> nodes;
  LONG length = 0;
  if (FAILED(list->get_length(&length))) return nodes;
  for (LONG i = 0; i < length; ++i) {
    com::ComPtr<IXMLDOMNode> node;
    if (SUCCEEDED(list->get_item(i, node.put())) && node) nodes.push_back(node);
  }
  return nodes;
}

std::wstring Now() {
  com::Bstr now;
  now.attach(FormatIsoTimestamp());
  return now.c_str();
}

// The request's own time stamp of an item, escaped (empty when none).
std::wstring RequestTime(IXMLDOMNode* node) {
  com::Bstr time, escaped;
  if (FAILED(XmlGetNodeText(node, kRequestTime, time.put()))) return std::wstring();
  if (FAILED(EscapeXmlText(time.c_str(), escaped.put()))) return std::wstring();
  return escaped.c_str();
}

// One item of an item-values document; body is an fdt:Variant or an item
// error.
void AppendItem(std::wstring& out, ULONG id, const std::wstring& time, bool good,
                const wchar_t* body) {
  com::Bstr item;
  if (SUCCEEDED(FormatBstr(item.put(), kItem, static_cast<int>(id), time.c_str(),
                           good ? L"good" : L"bad", body)))
    out += item.c_str();
}

// The item with the fdt:Variant of a value; invalidValue when it has none.
void AppendValueItem(std::wstring& out, ULONG id, const std::wstring& time, bool good,
                     const VARIANT& value) {
  com::Bstr variant;
  if (BuildFdtVariant(value, variant.put()) == S_OK) {
    AppendItem(out, id, time, good, variant.c_str());
  } else {
    AppendItem(out, id, time, good, kInvalidValue);
  }
}

HRESULT Finish(std::wstring& body, BSTR* out) {
  body += kValuesTail;
  *out = ::SysAllocString(body.c_str());
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

bool DataAccessCore::Allowed(std::initializer_list<LONG> states) {
  BaseDtm& dtm = AccessDtm();
  if (dtm.UserRole() <= kRoleObserver) return false;
  const LONG state = dtm.State();
  for (LONG allowed : states)
    if (state == allowed) return true;
  return false;
}

HRESULT DataAccessCore::Answer(DISPID method, BSTR invokeId, const wchar_t* document) {
  IUnknown* frame = AccessDtm().FrameObject();
  if (!frame) return E_POINTER;
  // In the DTM's apartment, where the frame handed its object over (the
  // worker reaches this handler through the DTM's proxy).
  com::ComPtr<IDispatch> sink;
  if (frame_events::QuerySink(frame, DIID_IDeviceDataAccessEvents, sink) != S_OK) return E_NOINTERFACE;
  com::Variant id(invokeId ? invokeId : L""), text(document ? document : L"");
  return com::invokeMethod(sink.get(), method, {id.value(), text.value()});
}

// ---------------------------------------------------------------------------
// IDtmSingleInstanceDataAccess
// ---------------------------------------------------------------------------

STDMETHODIMP DataAccessCore::GetItemList(BSTR* itemList) {
  if (!itemList) return S_FALSE;
  *itemList = nullptr;
  return com::guard([&]() -> HRESULT {
    if (!Allowed({kDtmConfigured, kDtmCommunicationSet, kDtmGoingOnline, kDtmGoingOffline,
                  kDtmOnline}))
      return S_FALSE;
    return BuildItemList(kItemOfInstanceList, itemList);
  });
}

STDMETHODIMP DataAccessCore::Read(BSTR itemSelection, BSTR* itemValues) {
  if (!itemValues) return S_FALSE;
  *itemValues = nullptr;
  return com::guard([&]() -> HRESULT {
    if (!Allowed({kDtmConfigured, kDtmCommunicationSet, kDtmGoingOnline, kDtmOnline}))
      return S_FALSE;
    com::ComPtr<IXMLDOMDocument2> doc;
    com::ComPtr<IXMLDOMNodeList> list;
    if (LoadNodes(itemSelection, kSelections, doc, list) != S_OK) return S_FALSE;
    const auto nodes = NodesOf(list.get());
    if (nodes.empty()) return S_FALSE;

    CevFDT_ParameterHandlerCore& handler = AccessHandler();
    std::wstring body = kValuesHead;
    for (const auto& node : nodes) {
      ULONG id = 0;
      // A selection without a numeric id names no item to answer.
      if (FAILED(XmlHandlerCore::ReadNumericAttribute(&id, node.get(), kIdAttribute))) continue;
      const std::wstring now = Now();
      ParInfo record;
      if (FAILED(handler.GetParameter(id, &record))) {
        AppendItem(body, id, now, false, kInvalidValue);
        continue;
      }
      const bool readable = (record.flags & kParFlagOnlineRead) != 0;
      const bool good = !(readable && (record.flags & kParFlagInvalid));
      if (readable)
        AppendValueItem(body, id, now, good, record.value.value());
      else
        AppendItem(body, id, now, good, kInvalidValue);
    }
    return Finish(body, itemValues);
  });
}

STDMETHODIMP DataAccessCore::Write(BSTR itemValues, BSTR* result) {
  if (!result) return S_FALSE;
  *result = nullptr;
  return com::guard([&]() -> HRESULT {
    if (!Allowed({kDtmConfigured, kDtmCommunicationSet, kDtmGoingOnline, kDtmOnline}))
      return S_FALSE;
    if (!itemValues || !*itemValues) return S_FALSE;
    // The lock is given back on every way out, exceptions included.
    DataSetLockHold lock(AccessDtm());
    if (!lock.Requested()) return S_FALSE;
    com::ComPtr<IXMLDOMDocument2> doc;
    com::ComPtr<IXMLDOMNodeList> list;
    if (LoadNodes(itemValues, kItems, doc, list) != S_OK) return S_FALSE;
    const bool locked = lock.Granted();
    CevFDT_ParameterHandlerCore& handler = AccessHandler();
    std::wstring body = kValuesHead;
    for (const auto& node : NodesOf(list.get())) {
      com::Bstr idText;
      if (FAILED(XmlGetNodeText(node.get(), kIdAttribute, idText.put()))) continue;
      ULONG id = 0;
      const bool numeric =
          SUCCEEDED(XmlHandlerCore::ReadNumericAttribute(&id, node.get(), kIdAttribute));
      if (!locked || !numeric) {
        AppendItem(body, id, RequestTime(node.get()), false, locked ? kInvalidValue : kNoLock);
        continue;
      }
      ParInfo record;
      const HRESULT found = handler.GetParameter(id, &record);
      com::ComPtr<IXMLDOMNode> variant;
      node->selectSingleNode(com::Bstr(kVariantChild).get(), variant.put());
      if (FAILED(found) || !variant) {
        AppendItem(body, id, RequestTime(node.get()), false, kInvalidValue);
        continue;
      }
      com::Variant value;
      if (FAILED(ParseFdtVariant(variant.get(), value.get()))) {
        AppendItem(body, id, RequestTime(node.get()), false, kInvalidValue);
        continue;
      }
      bool writable = (record.flags & kParFlagWritable) != 0;
      unsigned long status = 0;
      if (FAILED(handler.Validate(com::ui4(id).value(), value.value(), &status)) ||
          (status & kStatusInvalid))
        writable = false;
      if (!writable) {
        AppendItem(body, id, Now(), true, kInvalidValue);
        continue;
      }
      const HRESULT written = handler.WriteParameter(com::ui4(id).value(), value.value());
      com::Variant current;
      handler.GetParameterValue(com::ui4(id).value(), current.get());
      AppendValueItem(body, id, Now(), SUCCEEDED(written), current.value());
    }
    return Finish(body, result);
  });
}

// ---------------------------------------------------------------------------
// IDtmSingleDeviceDataAccess
// ---------------------------------------------------------------------------

STDMETHODIMP DataAccessCore::CancelRequest(BSTR invokeId, VARIANT_BOOL* result) {
  if (!result) return S_FALSE;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!Allowed({kDtmCommunicationSet, kDtmGoingOnline, kDtmOnline})) return S_FALSE;
    if (!invokeId || !*invokeId) return S_FALSE;
    const HRESULT hr = AccessDtm().PostText(dtm_command::kSdaCancel, invokeId);
    if (SUCCEEDED(hr)) *result = VARIANT_TRUE;
    return hr;
  });
}

STDMETHODIMP DataAccessCore::ItemListRequest(BSTR invokeId) {
  return com::guard([&]() -> HRESULT {
    if (!Allowed({kDtmConfigured, kDtmCommunicationSet, kDtmGoingOnline, kDtmOnline}))
      return S_FALSE;
    if (!invokeId || !*invokeId) return S_FALSE;
    return AccessDtm().PostText(dtm_command::kSdaGetItemList, invokeId);
  });
}

STDMETHODIMP DataAccessCore::ReadRequest(BSTR invokeId, BSTR itemSelection) {
  return com::guard([&]() -> HRESULT {
    if (!Allowed({kDtmCommunicationSet, kDtmGoingOnline, kDtmOnline})) return S_FALSE;
    if (!invokeId || !*invokeId || !itemSelection || !*itemSelection) return S_FALSE;
    SevFDT_InstanceDataRequest request;
    HRESULT hr = request.invokeId.assign(invokeId);
    if (SUCCEEDED(hr)) hr = request.document.assign(itemSelection);
    if (FAILED(hr)) return hr;
    return AccessDtm().PostPacked(dtm_command::kSdaReadItems, request);
  });
}

STDMETHODIMP DataAccessCore::WriteRequest(BSTR invokeId, BSTR itemValues) {
  return com::guard([&]() -> HRESULT {
    if (!Allowed({kDtmCommunicationSet, kDtmGoingOnline, kDtmOnline})) return S_FALSE;
    if (!invokeId || !*invokeId) return S_FALSE;
    SevFDT_InstanceDataRequest request;
    HRESULT hr = request.invokeId.assign(invokeId);
    if (SUCCEEDED(hr)) hr = request.document.assign(itemValues ? itemValues : L"");
    if (FAILED(hr)) return hr;
    return AccessDtm().PostPacked(dtm_command::kSdaWriteItems, request);
  });
}

// ---------------------------------------------------------------------------
// IevSdaHandler
// ---------------------------------------------------------------------------

STDMETHODIMP DataAccessCore::GetItemList(BSTR invokeId) {
  return com::guard([&]() -> HRESULT {
    com::Bstr list;
    // The frame waits for an answer to its invoke id: a list that cannot be
    // built is answered as one without items.
    if (FAILED(BuildItemList(kItemOfDeviceList, list.put()))) BuildEmptyItemList(list.put());
    return Answer(frame_events::kItemListResponse, invokeId, list.c_str());
  });
}

STDMETHODIMP DataAccessCore::ReadItems(VARIANT request) {
  return com::guard([&] { return DeviceRequest(request, false); });
}

STDMETHODIMP DataAccessCore::WriteItems(VARIANT request) {
  return com::guard([&] { return DeviceRequest(request, true); });
}

STDMETHODIMP DataAccessCore::CancelRequest(BSTR) { return S_OK; }

HRESULT DataAccessCore::DeviceRequest(const VARIANT& packed, bool write) {
  SevFDT_InstanceDataRequest request;
  if (!request.UnpackFromVariant(packed)) return E_INVALIDARG;  // no invoke id to answer
  CevFDT_ParameterHandlerCore& handler = AccessHandler();
  // Every request with an invoke id is answered exactly once; the items of a
  // device out of reach answer invalidValue. The device is reached only when
  // the DTM is online now. This differs from taking the DTM online first in
  // communicationSet: the request runs for the DTM's worker, and only the
  // worker takes the DTM online, with a command queued behind this request,
  // so a wait here could only run into its time-outs (two minutes). A
  // request overtaken by a state change that the entry check would refuse
  // is answered too, where it used to be dropped. The state is looked at
  // for every item: a device call may serve a state change meanwhile.

  com::ComPtr<IXMLDOMDocument2> doc;
  com::ComPtr<IXMLDOMNodeList> list;
  std::vector<com::ComPtr<IXMLDOMNode>> nodes;
  if (LoadNodes(request.document.c_str(), write ? kItems : kSelections, doc, list) == S_OK)
    nodes = NodesOf(list.get());

  std::wstring body = kValuesHead;
  for (const auto& node : nodes) {
    ULONG id = 0;
    if (FAILED(XmlHandlerCore::ReadNumericAttribute(&id, node.get(), kIdAttribute))) continue;
    const std::wstring now = Now();
    ParInfo record;
    const bool known = SUCCEEDED(handler.GetParameter(id, &record));
    const bool online = Allowed({kDtmOnline});

    if (!write) {
      const bool readable = known && (record.flags & kParFlagOnlineRead);
      const bool good = !(readable && (record.flags & kParFlagInvalid));
      if (online && readable && handler.ReadFromDevice(id)) {
        com::Variant value;
        handler.GetParameterInfo(com::ui4(id).value(), com::ui4(kParInitialValue).value(), value.get());
        AppendValueItem(body, id, now, good, value.value());
      } else {
        AppendItem(body, id, now, known && good, kInvalidValue);
      }
      continue;
    }

    com::ComPtr<IXMLDOMNode> variant;
    node->selectSingleNode(com::Bstr(kVariantChild).get(), variant.put());
    com::Variant value;
    // An item without a value that reads is answered, not left out.
    if (!variant || FAILED(ParseFdtVariant(variant.get(), value.get()))) {
      AppendItem(body, id, now, false, kInvalidValue);
      continue;
    }
    bool writable = known && (record.flags & kParFlagOnlineWrite);
    unsigned long status = 0;
    if (writable && (FAILED(handler.Validate(com::ui4(id).value(), value.value(), &status)) ||
                     (status & kStatusInvalid)))
      writable = false;
    const bool stored = online && writable && handler.WriteToDevice(id, value.value()) &&
                        handler.ReadFromDevice(id);
    if (stored) {
      com::Variant current;
      handler.GetParameterInfo(com::ui4(id).value(), com::ui4(kParInitialValue).value(), current.get());
      AppendValueItem(body, id, now, true, current.value());
    } else {
      AppendItem(body, id, now, false, kInvalidValue);
    }
  }
  body += kValuesTail;
  return Answer(write ? frame_events::kWriteResponse : frame_events::kReadResponse,
                request.invokeId.get(), body.c_str());
}
