#include "dtm/dtm_information_docs.h"

#include <string>

#include "com/Bstr.h"
#include "com/Guard.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/xml_dom.h"

namespace {

// Placeholders: (FDT 1.2 form) id in the comment, name, icon path;
// (FDT 1.2.1 form) id, name, icon path, data-set format id.
const wchar_t kFragmentFdt12[] =
    L"<fdt:DtmDeviceType readAccess=\"1\" writeAccess=\"0\">"
    L"<!--dtmDevTypeID=%s-->"
    L"<fdt:VersionInformation name=\"%s\" readAccess=\"1\" writeAccess=\"0\" vendor=\"VELTRA\" "
    L"version=\"1.0.0\" date=\"2013-09-30\"/>"
    L"<fdt:SupportedLanguages><fdt:LanguageId languageId=\"1033\"/>"
    L"<fdt:LanguageId languageId=\"1031\"/></fdt:SupportedLanguages>"
    L"<fdt:BusCategories><fdt:BusCategory busCategory=\"036D1498-387B-11D4-86E1-00E0987270B9\">"
    L"<fdt:CommunicationTypeEntry communicationType=\"supported\"/></fdt:BusCategory>"
    L"</fdt:BusCategories>"
    L"<fdt:DeviceIcon path=\"%s\"/>"
    L"</fdt:DtmDeviceType>";

const wchar_t kFragmentFdt121[] =
    L"<fdt:DtmDeviceType dtmDevTypeID=\"%s\" dtmDevTypeIDVersion=\"1\" readAccess=\"1\" "
    L"writeAccess=\"0\">"
    L"<fdt:VersionInformation name=\"%s\" readAccess=\"1\" writeAccess=\"0\" vendor=\"VELTRA\" "
    L"version=\"1.0.0\" date=\"2013-09-30\"/>"
    L"<fdt:SupportedLanguages><fdt:LanguageId languageId=\"1033\"/>"
    L"<fdt:LanguageId languageId=\"1031\"/></fdt:SupportedLanguages>"
    L"<fdt:BusCategories><fdt:BusCategory busCategory=\"036D1498-387B-11D4-86E1-00E0987270B9\">"
    L"<fdt:CommunicationTypeEntry communicationType=\"supported\"/></fdt:BusCategory>"
    L"</fdt:BusCategories>"
    L"<fdt:DeviceIcon path=\"%s\"/>"
    L"<fdt:DataSetFormats><fdt:Current dataSetID=\"%s\"/></fdt:DataSetFormats>"
    L"</fdt:DtmDeviceType>";

// A comment may not hold "--"; the id is a GUID text, anything else is cut
// at the first hyphen pair.
std::wstring CommentText(const wchar_t* text) {
  std::wstring result = text ? text : L"";
  size_t cut = result.find(L"--");
  if (cut != std::wstring::npos) result.resize(cut);
  if (!result.empty() && result.back() == L'-') result.pop_back();
  return result;
}

}  // namespace

const wchar_t kDeviceTypeIdentDocument[] =
    L"<?xml version=\"1.0\"?>"
    L"<FDT xmlns=\"x-schema:DTMDeviceTypeIdentSchema.xml\" "
    L"xmlns:ident=\"x-schema:DTMIdentSchema.xml\" "
    L"xmlns:fdt=\"xschema:FDTDataTypesSchema.xml\">"
    L"<DeviceIdentifications>"
    L"<DeviceIdentification ident:idDTMSupportLevel=\"specificSupport\">"
    L"<IdBusProtocol ident:protocolSpecificName=\"HART\"/>"
    L"<IdBusProtocolVersion ident:protocolSpecificName=\"HART Revision\"/>"
    L"<IdManufacturer ident:protocolSpecificName=\"VELTRA\"/>"
    L"<IdTypeID ident:protocolSpecificName=\"Device Type Code\"/>"
    L"<IdSoftwareRevision ident:protocolSpecificName=\"Software Revision\"/>"
    L"<IdHardwareRevision ident:protocolSpecificName=\"Hardware Revision\">"
    L"<ident:RegExpr match=\"[12].[0-9]\"/>"
    L"</IdHardwareRevision>"
    L"</DeviceIdentification>"
    L"</DeviceIdentifications>"
    L"</FDT>";

HRESULT BuildDeviceTypeFragment(bool fdt121, const wchar_t* name, const wchar_t* deviceTypeId,
                                const wchar_t* iconPath, BSTR* out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  return com::guard([&]() -> HRESULT {
    com::Bstr escapedName, escapedId, escapedIcon;
    HRESULT hr = EscapeXmlText(name ? name : L"", escapedName.put());
    if (SUCCEEDED(hr)) hr = EscapeXmlText(iconPath ? iconPath : L"", escapedIcon.put());
    if (FAILED(hr)) return hr;
    if (fdt121) {
      hr = EscapeXmlText(deviceTypeId ? deviceTypeId : L"", escapedId.put());
      if (FAILED(hr)) return hr;
      hr = FormatBstr(out, kFragmentFdt121, escapedId.c_str(), escapedName.c_str(),
                      escapedIcon.c_str(), dtm_info::kDataSetFormatId);
    } else {
      const std::wstring comment = CommentText(deviceTypeId);
      hr = FormatBstr(out, kFragmentFdt12, comment.c_str(), escapedName.c_str(),
                      escapedIcon.c_str());
    }
    return FAILED(hr) ? E_OUTOFMEMORY : hr;
  });
}
