#include "channel/channel_texts.h"

namespace hartdtm {

namespace {

struct MessageRow {
  UINT id;
  const wchar_t* name;  // resource name, null when the message has none
  const wchar_t* text;
};

const MessageRow kMessages[] = {
    {130, nullptr, L"modemapi.dll could not be loaded."},
    {131, nullptr, L"Error while loading the modemapi.dll. Not all function pointers could be loaded."},
    {132, L"IDS_ErrorStartCallback", L"Error while starting the FSK Mavix device callback."},
    {133, L"IDS_ErrorSetRetryCount", L"Error while setting the FSK Mavix device retry count."},
    {134, nullptr, L"Error while initializing FSK Mavix device."},
    {135, nullptr, L"No access to FSK Mavix device.\n\nCheck the settings in the\nconfiguration utility."},
    {136, nullptr, L"FSK Mavix device not found (unknown ID)."},
    {137, nullptr, L"FSK Mavix driver error."},
    {138, nullptr, L"Invalid parameter for FSK Mavix device."},
    {139, nullptr, L"FSK Mavix device: operation not allowed in current state."},
    {140, nullptr, L"FSK Mavix device timeout."},
    {141, nullptr, L"FSK Mavix device transmit buffer busy."},
    {142, nullptr, L"FSK Mavix device receive buffer empty."},
    {143, nullptr, L"FSK Mavix device error: thread not started."},
    {144, nullptr, L"FSK Mavix device error: thread already running"},
    {145, nullptr, L"FSK Mavix device error: buffer overrun."},
    {146, nullptr, L"FSK Mavix device not initialized."},
    {147, nullptr, L"FSK Mavix device was removed."},
    {148, nullptr, L"FSK Mavix device already in use."},
    {149, nullptr, L"FSK Mavix device error: thread blocked."},
    {155, L"IDS_HART_RESPONSE_TOO_SHORT", L"HART response was too short (invalid telegram frame)"},
    {156, L"IDS_ERROR_RECEIVING_HART_RESPONSE",
     L"error receiving HART response (timeout or no connection to device)"},
    {157, L"IDS_ERROR_SENDING_HART_COMMAND", L"error sending HART command"},
    {158, L"IDS_DATA_ARRAY_TOO_LONG", L"data array too long"},
    {159, L"IDS_DATA_ARRAY_INVALID", L"data array invalid"},
    {160, L"(160)", L"Driver error during communication.\nAll connections aborted!"},
};

const MessageRow* FindMessage(UINT id) {
  for (const MessageRow& row : kMessages) {
    if (row.id == id) return &row;
  }
  return nullptr;
}

HMODULE OwnModule() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&FindMessage), &self);
  return self;
}

}  // namespace

const wchar_t* BuiltInMessageText(UINT id) {
  const MessageRow* row = FindMessage(id);
  return row ? row->text : nullptr;
}

const wchar_t* BuiltInMessageName(UINT id) {
  const MessageRow* row = FindMessage(id);
  return row ? row->name : nullptr;
}

HRESULT LoadMessageText(UINT id, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  const wchar_t* resource = nullptr;
  const int length = ::LoadStringW(OwnModule(), id, reinterpret_cast<LPWSTR>(&resource), 0);
  if (length > 0 && resource) {
    *text = ::SysAllocStringLen(resource, static_cast<UINT>(length));
  } else {
    const wchar_t* builtIn = BuiltInMessageText(id);
    if (!builtIn) return E_FAIL;
    *text = ::SysAllocString(builtIn);
  }
  return *text ? S_OK : E_OUTOFMEMORY;
}

}  // namespace hartdtm
