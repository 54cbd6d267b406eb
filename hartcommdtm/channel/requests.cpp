#include "channel/requests.h"

#include <rpc.h>

#include <string>

#include "com/Variant.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xml_handler.h"

namespace hartdtm {

namespace {

HRESULT ReadText(IXMLDOMNode* node, const wchar_t* xpath, com::Bstr* out) {
  com::Variant value;
  HRESULT hr = XmlReadTypedValue(node, xpath, value.put(), VT_BSTR);
  if (FAILED(hr)) return hr;
  if (value.get()->vt != VT_BSTR) return E_FAIL;
  return out->assign(value.get()->bstrVal);
}

// Numbers are read from the attribute's text: a typed value may come back
// empty once the document carries a schema collection.
HRESULT ReadByte(IXMLDOMNode* node, const wchar_t* xpath, uint8_t* out) {
  ULONG value = 0;
  HRESULT hr = XmlHandlerCore::ReadNumericAttribute(&value, node, xpath);
  if (FAILED(hr)) return hr;
  if (value > 0xFF) return DISP_E_OVERFLOW;
  *out = static_cast<uint8_t>(value);
  return S_OK;
}

bool Exists(IXMLDOMNode* node, const wchar_t* xpath) { return XmlNodeExists(node, xpath) == 1; }

}  // namespace

bool ParseGuidText(const wchar_t* text, GUID* out) {
  if (!text || !out) return false;
  std::wstring s(text);
  if (s.size() == 38 && s.front() == L'{' && s.back() == L'}') s = s.substr(1, 36);
  if (s.size() != 36) return false;
  return ::UuidFromStringW(reinterpret_cast<RPC_WSTR>(&s[0]), out) == RPC_S_OK;
}

HRESULT PrepareRequestDocument(IXMLDOMDocument2* doc) {
  if (!doc) return E_POINTER;
  com::Bstr name(L"SelectionNamespaces");
  com::Variant value(L"xmlns:fdt='x-schema:FDTDataTypesSchema.xml'");
  return doc->setProperty(name.get(), *value.get());
}

HRESULT HARTConnectRequestInfo::Initialize(const wchar_t* invoke, const ConnRef& conn, IXMLDOMNode* doc) {
  if (!doc) return E_POINTER;
  HRESULT hr = invokeId.assign(invoke);
  if (FAILED(hr)) return hr;
  connection = conn;
  hr = ReadText(doc, L"//FDT/ConnectRequest/@fdt:systemTag", &systemTag);
  if (FAILED(hr)) systemTag.reset();  // optional
  hr = ReadText(doc, L"FDT/ConnectRequest/@fdt:tag", &tag);
  if (FAILED(hr)) return hr;
  if (Exists(doc, L"FDT/ConnectRequest/LongAddress")) {
    longAddressGiven = true;
    if (FAILED(hr = ReadByte(doc, L"FDT/ConnectRequest/LongAddress/@manufacturerId", &manufacturerId)) ||
        FAILED(hr = ReadByte(doc, L"FDT/ConnectRequest/LongAddress/@deviceTypeId", &deviceTypeId)) ||
        FAILED(hr = ReadByte(doc, L"FDT/ConnectRequest/LongAddress/@address1", &address1)) ||
        FAILED(hr = ReadByte(doc, L"FDT/ConnectRequest/LongAddress/@address2", &address2)) ||
        FAILED(hr = ReadByte(doc, L"FDT/ConnectRequest/LongAddress/@address3", &address3)))
      return hr;
    hr = XmlGetNodeXml(doc, L"FDT/ConnectRequest/LongAddress", longAddressXml.put());
    if (FAILED(hr)) return hr;
  }
  hr = ReadByte(doc, L"FDT/ConnectRequest/ShortAddress/@shortAddress", &shortAddress);
  if (FAILED(hr)) return hr;
  return XmlGetNodeXml(doc, L"FDT/ConnectRequest/ShortAddress", shortAddressXml.put());
}

HRESULT HARTDisconnectRequestInfo::Initialize(const wchar_t* invoke, IXMLDOMNode* doc,
                                              const CevFDT_ConnectionMgr& connections) {
  if (!doc) return E_POINTER;
  HRESULT hr = invokeId.assign(invoke);
  if (FAILED(hr)) return hr;
  com::Bstr reference;
  hr = ReadText(doc, L"FDT/DisconnectRequest/@communicationReference", &reference);
  if (FAILED(hr)) return hr;
  return connections.FindConnection(reference.c_str(), &connection);
}

HRESULT HARTTransactRequestInfo::Initialize(const wchar_t* invoke, IXMLDOMNode* doc,
                                            const CevFDT_ConnectionMgr& connections) {
  if (!doc) return E_POINTER;
  HRESULT hr = invokeId.assign(invoke);
  if (FAILED(hr)) return hr;
  com::Bstr reference;
  if (Exists(doc, L"FDT/DataExchangeRequest/@communicationReference")) {
    hr = ReadText(doc, L"FDT/DataExchangeRequest/@communicationReference", &reference);
    if (SUCCEEDED(hr)) hr = connections.FindConnection(reference.c_str(), &connection);
    if (SUCCEEDED(hr)) hr = ReadByte(doc, L"FDT/DataExchangeRequest/@commandNumber", &commandNumber);
    if (FAILED(hr)) return hr;
    byteArrayGiven = SUCCEEDED(
        ReadText(doc, L"FDT/DataExchangeRequest/fdt:CommunicationData/@byteArray", &byteArray));
    kind = kDataExchange;
    return S_OK;
  }
  if (Exists(doc, L"FDT/SubscribeRequest/@communicationReference")) {
    hr = ReadText(doc, L"FDT/SubscribeRequest/@communicationReference", &reference);
    if (SUCCEEDED(hr)) hr = connections.FindConnection(reference.c_str(), &connection);
    kind = kSubscribe;
    return hr;
  }
  if (Exists(doc, L"FDT/UnsubscribeRequest/@communicationReference")) {
    hr = ReadText(doc, L"FDT/UnsubscribeRequest/@communicationReference", &reference);
    if (SUCCEEDED(hr)) hr = connections.FindConnection(reference.c_str(), &connection);
    kind = kUnsubscribe;
    return hr;
  }
  return E_FAIL;
}

}  // namespace hartdtm
