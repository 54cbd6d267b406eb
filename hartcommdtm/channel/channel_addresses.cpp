// CHART_Channel: IFdtChannelSubTopology2 SetChildrenAddresses. Gives the
// child DTMs of a DeviceList document their polling addresses (asked of the
// user, the next free one, or the first proposed one that the child takes)
// and answers the same list with the outcome per device in errorInfo.
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "channel/hart_channel.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "dtm/polling_address.h"
#include "toolkit/xml/xml_dom.h"

namespace hartdtm {

namespace {

constexpr ULONG kParNewDtmAddressTag = 1013;

enum ShowUserInterface : LONG { kNoUserInterface = 0, kOpenUserInterface = 1, kSetNextValidAddress = 2 };
enum DeviceErrorInfo : LONG {
  kErrorOk = 0,
  kErrorFailedToSet = 1,
  kErrorFailedDuplicateAddress = 2,
  kErrorCancelled = 3,
  kErrorDtmSpecific = 4,
};

// Attribute texts of the DeviceList schema, by value.
const wchar_t* const kShowUserInterfaceTexts[] = {L"noUserInterface", L"openUserInterface",
                                                  L"setNextValidAddress"};
const wchar_t* const kErrorInfoTexts[] = {L"ok", L"failedToSet", L"failedDuplicateAddress", L"cancelled",
                                          L"dtmSpecificError"};

constexpr wchar_t kDeviceListTemplate[] =
    L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMDeviceListSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n<DeviceList %ls %ls %ls>\n%ls\n</DeviceList>\n</FDT>";
constexpr wchar_t kDeviceTemplate[] =
    L"<Device fdt:systemTag=\"%ls\" %ls %ls>\n<BusAddressList>%ls\n</BusAddressList>\n</Device>\n";
constexpr wchar_t kBusAddressTemplate[] = L"<BusAddress fdt:busAddress=\"%ls\" />\n";

struct DeviceListDevice {
  std::wstring systemTag;
  bool errorInfoGiven = false;
  LONG errorInfo = kErrorOk;
  bool errorDescriptionGiven = false;
  std::wstring errorDescription;
  std::vector<std::wstring> busAddresses;
};

struct DeviceListInfo {
  bool showUserInterfaceGiven = false;
  LONG showUserInterface = kNoUserInterface;
  bool errorInfoGiven = false;
  LONG errorInfo = kErrorOk;
  bool errorDescriptionGiven = false;
  std::wstring errorDescription;
  std::vector<DeviceListDevice> devices;
};

// The value of a schema text; -1 when it is none of them.
template <size_t N>
LONG ValueOf(const wchar_t* const (&texts)[N], const wchar_t* text) {
  for (size_t i = 0; i < N; ++i) {
    if (std::wcscmp(texts[i], text) == 0) return static_cast<LONG>(i);
  }
  return -1;
}

// An optional attribute's text; false when absent.
bool Optional(IXMLDOMNode* node, const wchar_t* xpath, std::wstring* out) {
  com::Bstr text;
  BYTE found = 0;
  if (FAILED(XmlHandlerCore::GetOptionalNodeText(text.put(), &found, node, xpath)) || !found) return false;
  out->assign(text.c_str(), text.length());
  return true;
}

// errorInfo: a text outside the schema's keeps the value as it was.
void ReadErrorInfo(IXMLDOMNode* node, bool* given, LONG* value) {
  std::wstring text;
  if (!Optional(node, L"@errorInfo", &text)) return;
  const LONG read = ValueOf(kErrorInfoTexts, text.c_str());
  if (read < 0) return;
  *given = true;
  *value = read;
}

HRESULT ReadDeviceListDevice(IXMLDOMNode* node, DeviceListDevice* device) {
  ReadErrorInfo(node, &device->errorInfoGiven, &device->errorInfo);
  device->errorDescriptionGiven = Optional(node, L"@errorDescription", &device->errorDescription);
  com::Bstr tag;
  HRESULT hr = XmlGetNodeText(node, L"@fdt:systemTag", tag.put());
  if (FAILED(hr)) return hr;
  device->systemTag.assign(tag.c_str(), tag.length());
  com::Bstr xpath(L"BusAddressList/BusAddress");
  com::ComPtr<IXMLDOMNodeList> addresses;
  hr = node->selectNodes(xpath.get(), addresses.put());
  if (FAILED(hr)) return hr;
  long count = 0;
  if (addresses && FAILED(hr = addresses->get_length(&count))) return hr;
  for (long i = 0; i < count; ++i) {
    com::ComPtr<IXMLDOMNode> address;
    com::Bstr text;
    if (FAILED(hr = addresses->get_item(i, address.put())) || !address) return FAILED(hr) ? hr : E_FAIL;
    if (FAILED(hr = XmlGetNodeText(address.get(), L"@fdt:busAddress", text.put()))) return hr;
    device->busAddresses.emplace_back(text.c_str(), text.length());
  }
  return S_OK;
}

HRESULT ReadDeviceList(IXMLDOMNode* doc, DeviceListInfo* list) {
  std::wstring text;
  if (Optional(doc, L"FDT/DeviceList/@showUserInterface", &text)) {
    const LONG value = ValueOf(kShowUserInterfaceTexts, text.c_str());
    if (value < 0) return E_FAIL;
    list->showUserInterfaceGiven = true;
    list->showUserInterface = value;
  }
  com::ComPtr<IXMLDOMNode> listNode;
  com::Bstr listPath(L"FDT/DeviceList");
  if (doc->selectSingleNode(listPath.get(), listNode.put()) == S_OK && listNode)
    ReadErrorInfo(listNode.get(), &list->errorInfoGiven, &list->errorInfo);
  list->errorDescriptionGiven = Optional(doc, L"FDT/DeviceList/@errorDescription", &list->errorDescription);

  com::Bstr xpath(L"FDT/DeviceList/Device");
  com::ComPtr<IXMLDOMNodeList> devices;
  HRESULT hr = doc->selectNodes(xpath.get(), devices.put());
  if (FAILED(hr)) return hr;
  long count = 0;
  if (devices && FAILED(hr = devices->get_length(&count))) return hr;
  for (long i = 0; i < count; ++i) {
    com::ComPtr<IXMLDOMNode> node;
    if (FAILED(hr = devices->get_item(i, node.put())) || !node) return FAILED(hr) ? hr : E_FAIL;
    DeviceListDevice device;
    if (FAILED(hr = ReadDeviceListDevice(node.get(), &device))) return hr;
    list->devices.push_back(device);
  }
  return S_OK;
}

// The text as a double-quoted attribute value.
std::wstring Escaped(const std::wstring& text) {
  com::Bstr escaped;
  if (FAILED(EscapeXmlText(text.c_str(), escaped.put()))) return std::wstring();
  return std::wstring(escaped.c_str(), escaped.length());
}

std::wstring Format(const wchar_t* format, std::initializer_list<const std::wstring*> parts) {
  // Every template here takes at most four texts.
  const std::wstring* p[4] = {};
  size_t n = 0;
  size_t length = std::wcslen(format) + 1;
  for (const std::wstring* part : parts) {
    p[n++] = part;
    length += part->size();
  }
  std::vector<wchar_t> buffer(length);
  static const std::wstring empty;
  for (size_t i = n; i < 4; ++i) p[i] = &empty;
  const int written = std::swprintf(buffer.data(), buffer.size(), format, p[0]->c_str(), p[1]->c_str(),
                                    p[2]->c_str(), p[3]->c_str());
  return written < 0 ? std::wstring() : std::wstring(buffer.data(), static_cast<size_t>(written));
}

std::wstring ErrorInfoAttribute(LONG value) {
  return L"errorInfo=\"" + std::wstring(kErrorInfoTexts[value]) + L"\"";
}

std::wstring DescriptionAttribute(bool given, const std::wstring& text) {
  if (!given || text.empty()) return L" ";
  return L"errorDescription=\"" + Escaped(text) + L"\"";
}

HRESULT BuildDeviceXml(const DeviceListDevice& device, std::wstring* out) {
  if (device.errorInfoGiven && (device.errorInfo < 0 || device.errorInfo > kErrorDtmSpecific)) return E_FAIL;
  std::wstring addresses;
  for (const std::wstring& address : device.busAddresses) {
    const std::wstring text = Escaped(address);
    addresses += Format(kBusAddressTemplate, {&text});
  }
  if (addresses.empty()) addresses = L" ";
  const std::wstring tag = Escaped(device.systemTag);
  const std::wstring error = device.errorInfoGiven ? ErrorInfoAttribute(device.errorInfo) : L" ";
  const std::wstring description = DescriptionAttribute(device.errorDescriptionGiven, device.errorDescription);
  *out = Format(kDeviceTemplate, {&tag, &error, &description, &addresses});
  return S_OK;
}

HRESULT BuildDeviceListXml(const DeviceListInfo& list, BSTR* out) {
  if (!out) return E_INVALIDARG;
  if (list.devices.empty()) return E_UNEXPECTED;
  if (list.errorInfo < 0 || list.errorInfo > kErrorDtmSpecific) return E_FAIL;
  if (list.showUserInterface < 0 || list.showUserInterface > kSetNextValidAddress) return E_FAIL;
  std::wstring devices;
  for (const DeviceListDevice& device : list.devices) {
    std::wstring one;
    HRESULT hr = BuildDeviceXml(device, &one);
    if (FAILED(hr)) return hr;
    devices += one;
  }
  const std::wstring error = list.errorInfoGiven ? ErrorInfoAttribute(list.errorInfo) : L" ";
  const std::wstring description = DescriptionAttribute(list.errorDescriptionGiven, list.errorDescription);
  const std::wstring show =
      list.showUserInterfaceGiven
          ? L"showUserInterface=\"" + std::wstring(kShowUserInterfaceTexts[list.showUserInterface]) + L"\""
          : L" ";
  const std::wstring document = Format(kDeviceListTemplate, {&error, &description, &show, &devices});
  *out = ::SysAllocStringLen(document.c_str(), static_cast<UINT>(document.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

// One device of the list; its errorInfo tells the outcome.
static HRESULT ApplyDeviceAddress(CHART_Channel& channel, IUnknown* owner, DeviceListDevice& device,
                                  bool openUi, bool nextValid) {
  device.errorInfoGiven = true;
  device.errorInfo = kErrorFailedToSet;
  com::Bstr systemTag(device.systemTag.c_str(), static_cast<UINT>(device.systemTag.size()));
  com::Bstr dtmTag;
  unsigned char current = kUnknownChildAddress;
  HRESULT hr = channel.GetChildDtmInfoBySysTag(systemTag.get(), dtmTag.put(), &current);
  if (FAILED(hr)) return hr;

  if (openUi) {
    com::ComPtr<IHART_CommDTM> dtm;
    if (!owner || FAILED(dtm.queryFrom(owner)) || !dtm) return E_NOINTERFACE;
    com::ComPtr<IevFdtParameterHandler4> handler;
    if (SUCCEEDED(handler.queryFrom(owner)) && handler) {
      const com::Variant key = com::ui4(kParNewDtmAddressTag);
      com::Variant tag(dtmTag.c_str());
      handler->WriteParameter(key.value(), tag.value());
    }
    long chosen = current;
    hr = dtm->GetDeviceDtmAddressViaGUI(&chosen);
    if (hr == E_ABORT) {
      device.errorInfo = kErrorCancelled;
      return S_FALSE;
    }
    if (FAILED(hr)) return hr;
    // Only a polling address can be written into the child's document.
    if (chosen < 0 || chosen > 63) return E_INVALIDARG;
    hr = channel.SetDeviceDtmInfo(systemTag.get(), static_cast<unsigned char>(chosen), dtmTag.get());
    if (SUCCEEDED(hr)) device.errorInfo = kErrorOk;
    return hr;
  }

  if (nextValid) {
    uint8_t address = 0;
    if (!channel.Children().LowestFreeAddress(&address)) return E_FAIL;
    hr = channel.SetDeviceDtmInfo(systemTag.get(), address, dtmTag.get());
    if (SUCCEEDED(hr)) device.errorInfo = kErrorOk;
    return hr;
  }

  for (const std::wstring& text : device.busAddresses) {
    uint8_t address = 0;
    if (!hart_address::Parse(text, &address)) return E_UNEXPECTED;
    if (SUCCEEDED(channel.SetDeviceDtmInfo(systemTag.get(), address, dtmTag.get()))) {
      device.errorInfo = kErrorOk;
      return S_OK;
    }
  }
  return E_FAIL;
}

STDMETHODIMP CHART_Channel::SetChildrenAddresses(BSTR deviceList, BSTR* result) {
  if (!result) return E_INVALIDARG;
  *result = nullptr;
  if (!deviceList) return S_FALSE;
  return com::guard([&]() -> HRESULT {
    long state = 0;
    if (FAILED(OwnerDtmState(&state)) || state < 7 || state > 12) return S_FALSE;
    com::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT hr = Xml().LoadXMLDocument(deviceList, doc.put(), &loaded);
    if (FAILED(hr)) return hr;
    if (!loaded || !doc) return E_FAIL;
    PrepareRequestDocument(doc.get());
    DeviceListInfo list;
    hr = ReadDeviceList(doc.get(), &list);
    if (FAILED(hr)) return hr;

    const bool openUi = list.showUserInterface == kOpenUserInterface;
    const bool nextValid = list.showUserInterface == kSetNextValidAddress;
    for (DeviceListDevice& device : list.devices) {
      ApplyDeviceAddress(*this, GetCommDtmInterface().get(), device, openUi, nextValid);
      if (list.errorInfo == kErrorOk && device.errorInfo != kErrorOk) list.errorInfo = device.errorInfo;
    }
    list.errorInfoGiven = true;
    // The answer is the list itself; without it the caller learns nothing,
    // so a list that cannot be written back is a failure.
    return BuildDeviceListXml(list, result);
  });
}

}  // namespace hartdtm
