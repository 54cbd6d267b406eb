#include "channel/answer_documents.h"

#include <cstdio>

#include "com/Bstr.h"

namespace hartdtm {

namespace {

const wchar_t* const kCommunicationErrors[] = {
    L"abort",   L"busy",        L"invalidCommunicationReference", L"noConnection",
    L"noParallelServices", L"noPendingRequest", L"unknownError", L"timeout",
    L"dtmSpecific", L"notSupportedFeature",
};

const wchar_t kCommunicationErrorTemplate[] =
    L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
    L"\txmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\t<fdt:CommunicationError "
    L"\t\tcommunicationError=\"%s\" \t\ttag=\"%s\" descriptor=\"%s\" /></FDT>";

const wchar_t kConnectResponseTemplate[] =
    L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
    L"xmlns:fdt =\"x-schema:FDTDataTypesSchema.xml\"><ConnectResponse fdt:tag=\"%s\" "
    L"preambleCount=\"%d\" primaryMaster=\"%d\" communicationReference=\"%s\"><LongAddress "
    L"manufacturerId=\"%d\" deviceTypeId=\"%d\" address1=\"%d\" address2=\"%d\" address3=\"%d\" "
    L"/><ShortAddress shortAddress   =\"%d\" /></ConnectResponse></FDT>";

const wchar_t kDisconnectResponseTemplate[] =
    L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><DisconnectResponse "
    L"communicationReference =\"%s\" /></FDT>";

const wchar_t kDataPartTemplate[] = L"<fdt:CommunicationData byteArray=\"%s\" />\n";

const wchar_t kDataExchangeResponseTemplate[] =
    L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><DataExchangeResponse commandNumber=\"%d\" "
    L"communicationReference=\"%s\">%s<Status deviceStatus=\"%d\"><Comm%s value=\"%d\" "
    L"/></Status></DataExchangeResponse></FDT>";

const wchar_t kBurstResponseTemplate[] =
    L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" schemaVersion=\"1.21\">\n<DataExchangeResponse "
    L"commandNumber=\"%u\" communicationReference=\"%s\" burstFrame=\"1\">\n%s<Status "
    L"deviceStatus=\"%u\">\n  <%s value=\"%u\" />\n</Status>\n</DataExchangeResponse>\n</FDT>";

const wchar_t kSubscribeResponseTemplate[] =
    L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><SubscribeResponse "
    L"communicationReference=\"%s\" burstModeDetected=\"%u\" /></FDT>";

const wchar_t kUnsubscribeResponseTemplate[] =
    L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><UnsubscribeResponse "
    L"communicationReference=\"%s\" /></FDT>";

const wchar_t kParentVersionTemplate[] =
    L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTConnectResponseSchema.xml\" "
    L"xmlns:fdtvers=\"x-schema:DTMInformationSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" "
    L"xmlns:fdtappid=\"x-schema:FDTApplicationIdSchema.xml\"><ParentVersion><fdtvers:FDTVersion "
    L"major=\"%u\" minor=\"%u\" release=\"%u\" build=\"%u\" /></ParentVersion></FDT>";

const wchar_t kBusCategoryTemplate[] = L"<fdt:BusCategory busCategory =\"%s\" %s>%s</fdt:BusCategory>";
const wchar_t kBusCategoryNameTemplate[] = L"busCategoryName=\"%s\" ";
const wchar_t kCommunicationTypeEntry[] =
    L"<fdt:CommunicationTypeEntry communicationType=\"supported\" />";
const wchar_t kProtocolsTemplate[] =
    L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMProtocolsSchema.xml\" \n\t "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"\n>\n\t<fdt:BusCategories>\n\t\t%s\n\t"
    L"</fdt:BusCategories>\n</FDT>\n";

const wchar_t kFailSafeDocument[] =
    L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTFailSafeDataSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n</FDT>";

std::wstring Num(long value) { return std::to_wstring(value); }
std::wstring Num(unsigned long value) { return std::to_wstring(value); }

// The text as it stands inside a double-quoted attribute value.
std::wstring Escaped(const wchar_t* text) {
  std::wstring out;
  for (const wchar_t* p = text; p && *p; ++p) {
    switch (*p) {
      case L'&': out += L"&amp;"; break;
      case L'<': out += L"&lt;"; break;
      case L'>': out += L"&gt;"; break;
      case L'"': out += L"&quot;"; break;
      case L'\'': out += L"&apos;"; break;
      case L'\n': out += L"&#10;"; break;
      case L'\r': out += L"&#13;"; break;
      case L'\t': out += L"&#9;"; break;
      default: out.push_back(*p);
    }
  }
  return out;
}

std::wstring Hex(const uint8_t* bytes, size_t count) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

HRESULT Hand(BSTR* out, const std::wstring& text) {
  if (!out) return E_POINTER;
  *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

std::wstring EscapeAttribute(const wchar_t* text) { return Escaped(text); }

const wchar_t* CommunicationErrorText(int index) {
  if (index < 0 || index >= static_cast<int>(sizeof kCommunicationErrors / sizeof kCommunicationErrors[0]))
    return kCommunicationErrors[kCommErrUnknownError];
  return kCommunicationErrors[index];
}

std::wstring FillTemplate(const wchar_t* templ, std::initializer_list<std::wstring> values) {
  std::wstring out;
  auto next = values.begin();
  for (const wchar_t* p = templ; *p; ++p) {
    if (*p != L'%') {
      out.push_back(*p);
      continue;
    }
    if (p[1] == L'%') {
      out.push_back(L'%');
      ++p;
      continue;
    }
    if (p[1] == L's' || p[1] == L'd' || p[1] == L'u' || p[1] == L'g') {
      if (next != values.end()) out += *next++;
      ++p;
      continue;
    }
    out.push_back(*p);
  }
  return out;
}

std::wstring ErrorDescriptor(const wchar_t* text, HRESULT code) {
  wchar_t number[32];
  std::swprintf(number, 32, L"(error 0x%08X)", static_cast<unsigned>(code));
  if (text) return std::wstring(text) + L" " + number;
  return number;
}

HRESULT BuildCommunicationError(BSTR* out, int errorIndex, const wchar_t* tag, HRESULT code,
                                const wchar_t* text) {
  if (!out) return E_POINTER;
  const std::wstring descriptor = ErrorDescriptor(text, code);
  return Hand(out, FillTemplate(kCommunicationErrorTemplate,
                                {CommunicationErrorText(errorIndex), Escaped(tag),
                                 Escaped(descriptor.c_str())}));
}

HRESULT BuildConnectResponse(BSTR* out, const ConnectResponseFields& f) {
  return Hand(out, FillTemplate(kConnectResponseTemplate,
                                {Escaped(f.tag), Num(static_cast<long>(f.preambleCount)),
                                 Num(f.primaryMaster ? 1L : 0L), f.reference ? f.reference : L"",
                                 Num(static_cast<long>(f.manufacturerId)),
                                 Num(static_cast<long>(f.deviceTypeId)),
                                 Num(static_cast<long>(f.address1)), Num(static_cast<long>(f.address2)),
                                 Num(static_cast<long>(f.address3)),
                                 Num(static_cast<long>(f.shortAddress))}));
}

HRESULT BuildDisconnectResponse(BSTR* out, const wchar_t* reference) {
  return Hand(out, FillTemplate(kDisconnectResponseTemplate, {reference ? reference : L""}));
}

std::wstring AnswerDataPart(const uint8_t* fromStatus, size_t byteCount, size_t available) {
  if (byteCount < 3 || available < byteCount) return L" ";
  return FillTemplate(kDataPartTemplate, {Hex(fromStatus + 2, byteCount - 2)});
}

HRESULT BuildDataExchangeResponse(BSTR* out, uint8_t commandNumber, const wchar_t* reference,
                                  const uint8_t* frame, size_t length) {
  if (!out) return E_POINTER;
  if (!frame || length < 11) return E_INVALIDARG;
  const size_t byteCount = frame[7];
  // The answer holds count + 9 bytes when the data and the checksum are all there.
  const std::wstring data =
      (byteCount >= 3 && length >= byteCount + 9) ? AnswerDataPart(frame + 8, byteCount, byteCount)
                                                  : std::wstring(L" ");
  const uint8_t first = frame[8];
  return Hand(out, FillTemplate(kDataExchangeResponseTemplate,
                                {Num(static_cast<long>(commandNumber)), reference ? reference : L"",
                                 data, Num(static_cast<long>(frame[9])),
                                 (first & 0x80) ? L"unicationStatus" : L"andResponse",
                                 Num(static_cast<long>(first))}));
}

HRESULT BuildBurstResponseDocument(BSTR* out, uint8_t commandNumber, const wchar_t* reference,
                                   const uint8_t* fromStatus, size_t count) {
  if (!out) return E_POINTER;
  if (!fromStatus || count < 2) return E_INVALIDARG;
  const uint8_t first = fromStatus[0];
  return Hand(out, FillTemplate(kBurstResponseTemplate,
                                {Num(static_cast<unsigned long>(commandNumber)),
                                 reference ? reference : L"", AnswerDataPart(fromStatus, count, count),
                                 Num(static_cast<unsigned long>(fromStatus[1])),
                                 (first & 0x80) ? L"CommunicationStatus" : L"CommandResponse",
                                 Num(static_cast<unsigned long>(first))}));
}

HRESULT BuildSubscribeResponse(BSTR* out, const wchar_t* reference, bool burstModeDetected) {
  return Hand(out, FillTemplate(kSubscribeResponseTemplate,
                                {reference ? reference : L"", burstModeDetected ? L"1" : L"0"}));
}

HRESULT BuildUnsubscribeResponse(BSTR* out, const wchar_t* reference) {
  return Hand(out, FillTemplate(kUnsubscribeResponseTemplate, {reference ? reference : L""}));
}

HRESULT BuildParentVersionDocument(BSTR* out) {
  return Hand(out, FillTemplate(kParentVersionTemplate, {L"1", L"2", L"1", L"0"}));
}

std::wstring SupportedProtocolEntry(const wchar_t* protocolId, const wchar_t* categoryName) {
  const std::wstring attribute =
      categoryName ? FillTemplate(kBusCategoryNameTemplate, {Escaped(categoryName)}) : std::wstring();
  return FillTemplate(kBusCategoryTemplate,
                      {protocolId ? protocolId : L"", attribute, kCommunicationTypeEntry});
}

HRESULT BuildSupportedProtocolsDocument(BSTR* out, const std::wstring& entries) {
  return Hand(out, FillTemplate(kProtocolsTemplate, {entries}));
}

HRESULT BuildFailSafeDocument(BSTR* out) { return Hand(out, kFailSafeDocument); }

}  // namespace hartdtm
