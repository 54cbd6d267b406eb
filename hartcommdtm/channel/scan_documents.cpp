#include "channel/scan_documents.h"

#include <msxml2.h>
#include <oleauto.h>

#include <cstdlib>
#include <cwchar>

#include "channel/answer_documents.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "toolkit/values/real_text.h"
#include "toolkit/xml/xml_dom.h"

namespace hartdtm {

namespace {

const wchar_t kTopologyScanTemplate[] =
    L"<?xml version=\"1.0\"?><TopologyScan xmlns=\"x-schema:DTMTopologyScanSchema.xml\" "
    L"xmlns:fdthart=\"x-schema:FDTHARTCommunicationSchema.xml\" "
    L"xmlns:dtminfo=\"x-schema:DTMInformationSchema.xml\" "
    L"xmlns:fdthartdevice=\"x-schema:DTMHARTDeviceSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">%s</TopologyScan>";

const wchar_t kTopologyDeviceTemplate[] =
    L"<fdthartdevice:HARTDevice fdthart:manufacturerId=\"%d\" fdthart:deviceTypeId=\"%d\" fdt:tag=\"%s\" "
    L"fdthart:shortAddress=\"%d\"><fdthart:LongAddress manufacturerId=\"%d\" deviceTypeId=\"%d\" "
    L"address1=\"%d\" address2=\"%d\" address3=\"%d\" /></fdthartdevice:HARTDevice>";

const wchar_t kScanIdentificationsTemplate[] =
    L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:FDTHARTScanIdentSchema.xml\" "
    L"xmlns:hartident=\"x-schema:FDTHARTIdentSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n"
    L"<ScanIdentifications fdt:busCategory=\"%s\" resultState=\"%s\">\n%s</ScanIdentifications>\n</FDT>\n";

const wchar_t kScanIdentificationTemplate[] =
    L"<ScanIdentification configuredState=\"%s\">\n%s  <IdAddress hartident:shortAddress=\"%u\" />\n"
    L"  <IdBusProtocol hartident:busProtocol=\"HART\" />\n"
    L"  <IdBusProtocolVersion hartident:universalCommandRevisionLevel=\"%u\" />\n"
    L"  <IdManufacturer hartident:manufacturerIdentificationCode=\"%u\" />\n"
    L"  <IdTypeID hartident:deviceTypeID=\"%u\" />\n"
    L"  <IdSoftwareRevision hartident:softwareRevision=\"%u\" />\n"
    L"  <IdHardwareRevision hartident:hardwareRevision=\"%g\" />\n"
    L"  <IdTag hartident:tag=\"%s\" />\n"
    L"  <IdSerialNumber hartident:deviceID=\"%u\" />\n"
    L"  <DeviceCommandRevisionLevel hartident:deviceCommandRevisionLevel=\"%u\" />\n"
    L"  <DeviceFlag hartident:deviceFlag=\"%u\" />%s</ScanIdentification>";

const wchar_t* const kConfiguredStates[] = {L"notApplicable", L"configuredAndPhysicallyAvailable",
                                            L"configuredAndNotPhysicallyAvailable",
                                            L"availableButNotConfigured"};

const wchar_t* const kResultStates[] = {L"error", L"provisional", L"final"};

std::wstring Number(unsigned value) { return std::to_wstring(value); }

// A polling address given as decimal text; false when it is not 0..63.
bool ParseAddress(const std::wstring& text, uint8_t* out) {
  if (text.empty() || text.size() > 9) return false;
  for (wchar_t c : text)
    if (c < L'0' || c > L'9') return false;
  const unsigned long value = std::wcstoul(text.c_str(), nullptr, 10);
  if (value > kHighestPollingAddress) return false;
  *out = static_cast<uint8_t>(value);
  return true;
}

// The attribute text at the XPath; hr S_FALSE-free: S_OK found, E_FAIL absent.
HRESULT ReadAttribute(IXMLDOMNode* node, const wchar_t* xpath, std::wstring* out) {
  com::Bstr text;
  HRESULT hr = XmlGetNodeText(node, xpath, text.put());
  if (FAILED(hr)) return hr;
  *out = text.c_str();
  return S_OK;
}

}  // namespace

const wchar_t kHartBusCategory[] = L"{036D1498-387B-11D4-86E1-00E0987270B9}";

std::wstring TopologyScanDocument(const std::vector<HartDeviceEntry>& devices) {
  std::wstring items = L" ";
  for (const HartDeviceEntry& d : devices) {
    items += FillTemplate(kTopologyDeviceTemplate,
                          {Number(d.manufacturerId), Number(d.deviceType), EscapeAttribute(d.tag.c_str()),
                           Number(d.pollingAddress), Number(d.manufacturerId), Number(d.deviceType),
                           Number((d.deviceId >> 16) & 0xFF), Number((d.deviceId >> 8) & 0xFF),
                           Number(d.deviceId & 0xFF)});
  }
  return FillTemplate(kTopologyScanTemplate, {items});
}

HRESULT ParseScanRequestDocument(IXMLDOMNode* doc, ScanRequestRecord* out) {
  if (!doc || !out) return E_INVALIDARG;
  *out = ScanRequestRecord();
  out->rangesGiven =
      SUCCEEDED(ReadAttribute(doc, L"FDT/BusAddressRanges/@fdt:busCategory", &out->rangesCategory));
  out->modeGiven = SUCCEEDED(ReadAttribute(doc, L"FDT/ScanMode/@fdt:busCategory", &out->modeCategory));
  if (out->rangesGiven == out->modeGiven) return E_UNEXPECTED;
  if (out->modeGiven) {
    std::wstring mode;
    HRESULT hr = ReadAttribute(doc, L"FDT/ScanMode/@scanMode", &mode);
    if (FAILED(hr)) return hr;
    if (mode == L"allAddresses") out->mode = kScanModeAll;
    else if (mode == L"openGUI") out->mode = kScanModeOpenGui;
    return S_OK;
  }
  com::ComPtr<IXMLDOMNodeList> nodes;
  com::Bstr xpath(L"FDT/BusAddressRanges/BusAddressRange");
  if (FAILED(doc->selectNodes(xpath.get(), nodes.put())) || !nodes) return E_POINTER;
  long count = 0;
  HRESULT hr = nodes->get_length(&count);
  if (FAILED(hr)) return hr;
  out->ranges.resize(static_cast<size_t>(count < 0 ? 0 : count));
  for (long i = 0; i < count; ++i) {
    com::ComPtr<IXMLDOMNode> node;
    hr = nodes->get_item(i, node.put());
    if (FAILED(hr) || !node) return FAILED(hr) ? hr : E_POINTER;
    ScanRange& range = out->ranges[static_cast<size_t>(i)];
    hr = ReadAttribute(node.get(), L"@busAddressBegin", &range.begin);
    if (FAILED(hr)) return hr;
    range.endGiven = SUCCEEDED(ReadAttribute(node.get(), L"@busAddressEnd", &range.end));
  }
  return S_OK;
}

void RangeAddresses(const ScanRequestRecord& request, std::vector<uint8_t>* addresses) {
  bool listed[kHighestPollingAddress + 1] = {};
  for (uint8_t a : *addresses) listed[a & kHighestPollingAddress] = true;
  for (const ScanRange& range : request.ranges) {
    uint8_t begin = 0, end = kHighestPollingAddress;
    if (!ParseAddress(range.begin, &begin)) continue;
    if (range.endGiven && !ParseAddress(range.end, &end)) continue;
    for (unsigned a = begin; a <= end; ++a) {
      if (listed[a]) continue;
      listed[a] = true;
      addresses->push_back(static_cast<uint8_t>(a));
    }
  }
}

ScanIdentification ScanIdentification::FromEntry(const HartDeviceEntry& entry) {
  ScanIdentification id;
  id.pollingAddress = entry.pollingAddress;
  id.universalRevision = entry.universalRevision;
  id.manufacturerId = entry.manufacturerId;
  id.deviceType = entry.deviceType;
  id.softwareRevision = entry.softwareRevision;
  // "revision.signalling" read as a number (2 and 3 give 2.3), in one form
  // whatever locale the C runtime has: strtof would stop at the "." under a
  // locale with a decimal comma.
  const std::wstring revision =
      Number(entry.hardwareRevision) + L"." + Number(entry.physicalSignalling);
  id.hardwareRevision = 0;
  RealFromText(revision.c_str(), &id.hardwareRevision);
  id.tag = entry.tag;
  id.deviceId = entry.deviceId;
  id.deviceRevision = entry.deviceRevision;
  id.flags = entry.flags;
  return id;
}

std::wstring ScanIdentification::ToXml() const {
  const int32_t state = (configuredState >= 1 && configuredState <= 3) ? configuredState : 0;
  // "%g" in the C locale's form: a frame's setlocale must not make it "2,3".
  const std::wstring revision = RealText(hardwareRevision, 6);
  return FillTemplate(kScanIdentificationTemplate,
                      {kConfiguredStates[state], L" ", Number(pollingAddress), Number(universalRevision),
                       Number(manufacturerId), Number(deviceType), Number(softwareRevision), revision,
                       EscapeAttribute(tag.c_str()), Number(deviceId), Number(deviceRevision), Number(flags),
                       L" "});
}

std::wstring ScanIdentificationsDocument(const ScanIdentificationList& list) {
  std::wstring items;
  for (const ScanIdentification& id : list.identifications) items += id.ToXml();
  if (items.empty()) items = L" ";
  const int32_t state = (list.resultState == kScanProvisional || list.resultState == kScanFinal)
                            ? list.resultState
                            : 0;
  return FillTemplate(kScanIdentificationsTemplate,
                      {EscapeAttribute(list.busCategory.c_str()), kResultStates[state], items});
}

// ---- running channel scans -------------------------------------------------------

int ScanCancelList::Find(const wchar_t* invokeId) const {
  if (!invokeId) return -1;
  for (size_t i = 0; i < records_.size(); ++i) {
    // VarBstrCmp reads the length before the text: compare as BSTRs.
    com::Bstr a(records_[i]->invokeId.c_str()), b(invokeId);
    if (::VarBstrCmp(a.get(), b.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ) return static_cast<int>(i);
  }
  return -1;
}

void ScanCancelList::Add(const wchar_t* invokeId) {
  auto record = std::make_shared<Record>();
  record->invokeId = invokeId ? invokeId : L"";
  win32::CsLock hold(lock_);
  records_.push_back(std::move(record));
}

bool ScanCancelList::Cancel(const wchar_t* invokeId) {
  win32::CsLock hold(lock_);
  const int at = Find(invokeId);
  if (at < 0) return false;
  records_[static_cast<size_t>(at)]->cancelled.store(true);
  return true;
}

bool ScanCancelList::IsCancelled(const wchar_t* invokeId) const {
  win32::CsLock hold(lock_);
  const int at = Find(invokeId);
  return at >= 0 && records_[static_cast<size_t>(at)]->cancelled.load();
}

void ScanCancelList::Remove(const wchar_t* invokeId) {
  win32::CsLock hold(lock_);
  const int at = Find(invokeId);
  if (at >= 0) records_.erase(records_.begin() + at);
}

size_t ScanCancelList::Count() const {
  win32::CsLock hold(lock_);
  return records_.size();
}

}  // namespace hartdtm
