// The channel's FDT answer documents (FDT HART communication schema and the
// protocol list), filled from fixed templates. Numbers are decimal, byte
// arrays upper-case hexadecimal without separators. Texts that come from
// outside (tags, message texts) are escaped for their attribute.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace hartdtm {

// Values of the communicationError attribute, by index.
enum CommunicationErrorIndex : int {
  kCommErrAbort = 0,
  kCommErrBusy = 1,
  kCommErrInvalidCommunicationReference = 2,
  kCommErrNoConnection = 3,
  kCommErrNoParallelServices = 4,
  kCommErrNoPendingRequest = 5,
  kCommErrUnknownError = 6,
  kCommErrTimeout = 7,
  kCommErrDtmSpecific = 8,
  kCommErrNotSupportedFeature = 9,
};
const wchar_t* CommunicationErrorText(int index);

// Replaces each conversion of the template (%s, %d, %u, %g) in turn with the
// next of the given texts; "%%" is a percent sign.
std::wstring FillTemplate(const wchar_t* templ, std::initializer_list<std::wstring> values);

// The text escaped for a double-quoted attribute value.
std::wstring EscapeAttribute(const wchar_t* text);

// "%s (error 0x%08X)" with a text, else "(error 0x%08X)".
std::wstring ErrorDescriptor(const wchar_t* text, HRESULT code);

// The documents. Each answers S_OK with a new BSTR in *out, E_POINTER
// without out pointer, E_OUTOFMEMORY.
HRESULT BuildCommunicationError(BSTR* out, int errorIndex, const wchar_t* tag, HRESULT code,
                                const wchar_t* text);

struct ConnectResponseFields {
  const wchar_t* tag = nullptr;  // as the request gave it (escaped here)
  unsigned preambleCount = 5;
  bool primaryMaster = false;
  const wchar_t* reference = nullptr;
  uint8_t manufacturerId = 0, deviceTypeId = 0, address1 = 0, address2 = 0, address3 = 0;
  uint8_t shortAddress = 0;
};
HRESULT BuildConnectResponse(BSTR* out, const ConnectResponseFields& fields);
HRESULT BuildDisconnectResponse(BSTR* out, const wchar_t* reference);

// The data part of an answer: the data bytes after the two status bytes as
// a CommunicationData element when byteCount is at least 3 and the bytes
// are there (available counts the bytes from the first status byte on),
// else a single blank.
std::wstring AnswerDataPart(const uint8_t* fromStatus, size_t byteCount, size_t available);

// DataExchangeResponse of a transaction from the answer frame as received
// (delimiter first, long address; at least 11 bytes).
HRESULT BuildDataExchangeResponse(BSTR* out, uint8_t commandNumber, const wchar_t* reference,
                                  const uint8_t* frame, size_t length);
// DataExchangeResponse of a burst frame: command, the reference, and the
// bytes from the first status byte on (count of them as the frame's byte
// count gives, at least 2).
HRESULT BuildBurstResponseDocument(BSTR* out, uint8_t commandNumber, const wchar_t* reference,
                                   const uint8_t* fromStatus, size_t count);
HRESULT BuildSubscribeResponse(BSTR* out, const wchar_t* reference, bool burstModeDetected);
HRESULT BuildUnsubscribeResponse(BSTR* out, const wchar_t* reference);
// The ParentVersion document for an FDT 1.2.1 connect response.
HRESULT BuildParentVersionDocument(BSTR* out);
// One BusCategory entry of the protocol list (categoryName may be null).
std::wstring SupportedProtocolEntry(const wchar_t* protocolId, const wchar_t* categoryName);
HRESULT BuildSupportedProtocolsDocument(BSTR* out, const std::wstring& entries);
// The channel's fixed fail-safe data document.
HRESULT BuildFailSafeDocument(BSTR* out);

}  // namespace hartdtm
