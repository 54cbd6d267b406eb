// Request records: one FDT communication request of a device DTM, parsed on
// the caller's thread and executed on the channel's worker. A record owns
// its fields and holds a reference on the connection it names.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <cstdint>

#include "channel/connections.h"
#include "com/Bstr.h"

namespace hartdtm {

enum RequestType : UINT {
  kRequestConnect = 1,
  kRequestDisconnect = 2,
  kRequestTransaction = 3,
  kRequestScan = 4,
  kRequestAbort = 5,
};

// Kinds of a transaction request.
enum TransactionKind : uint32_t {
  kDataExchange = 1,
  kSubscribe = 2,
  kUnsubscribe = 3,
};

struct baseRequestInfo {
  virtual ~baseRequestInfo() = default;
  com::Bstr invokeId;
  ConnRef connection;
};

struct HARTConnectRequestInfo : baseRequestInfo {
  com::Bstr systemTag;
  com::Bstr tag;
  bool longAddressGiven = false;
  uint8_t manufacturerId = 0, deviceTypeId = 0, address1 = 0, address2 = 0, address3 = 0;
  uint8_t shortAddress = 0;
  com::Bstr longAddressXml;
  com::Bstr shortAddressXml;

  // ConnectRequest document: tag required; LongAddress (all five bytes)
  // optional; ShortAddress required.
  HRESULT Initialize(const wchar_t* invoke, const ConnRef& conn, IXMLDOMNode* doc);
};

struct HARTDisconnectRequestInfo : baseRequestInfo {
  // DisconnectRequest: the connection by its communication reference.
  HRESULT Initialize(const wchar_t* invoke, IXMLDOMNode* doc, const CevFDT_ConnectionMgr& connections);
};

struct HARTTransactRequestInfo : baseRequestInfo {
  uint8_t commandNumber = 0;
  bool byteArrayGiven = false;
  com::Bstr byteArray;  // hexadecimal
  TransactionKind kind = kDataExchange;

  // DataExchangeRequest, else SubscribeRequest, else UnsubscribeRequest.
  HRESULT Initialize(const wchar_t* invoke, IXMLDOMNode* doc, const CevFDT_ConnectionMgr& connections);
};

// A GUID in text form, 36 characters with or without braces (invoke ids,
// protocol and bus category ids).
bool ParseGuidText(const wchar_t* text, GUID* out);

// Selection namespaces of the request documents (the fdt prefix).
HRESULT PrepareRequestDocument(IXMLDOMDocument2* doc);

}  // namespace hartdtm
