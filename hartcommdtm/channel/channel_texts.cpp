#include "channel/channel_texts.h"

#include <cwchar>
#include <string>

#include "channel/hart_channel.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "outside.h"
#include "toolkit.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/xml/translation.h"

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

// The toolkit messages the channel itself shows.
struct ToolkitRow {
  ULONG id;
  const wchar_t* text;
};

const ToolkitRow kToolkitMessages[] = {
    {kToolkitSetChannelParameters, L"An error occurred during IFdtChannel::SetChannelParameters"},
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

namespace {

bool Localized(IevFdtTranslation* translation, const std::wstring& xpath, BSTR* text) {
  com::Bstr found;
  VARIANT_BOOL ok = VARIANT_FALSE;
  if (FAILED(translation->GetLocalizedText(com::Bstr(xpath.c_str()).get(), found.put(), &ok)) || !ok ||
      !found.get())
    return false;
  *text = found.detach();
  return true;
}

com::ComPtr<IevFdtTranslation> OwnerTranslation(IUnknown* owner) {
  com::ComPtr<IevFdtTranslation> translation;
  if (owner) owner->QueryInterface(IID_IevFdtTranslation, translation.putVoid());
  return translation;
}

HRESULT AssignText(const wchar_t* value, BSTR* text) {
  *text = ::SysAllocString(value);
  return *text ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HRESULT ChannelUserMessage(IUnknown* owner, UINT id, const wchar_t* name, BSTR* text) {
  const bool named = name && *name;
  if (!text || (!named && id < 1)) return E_INVALIDARG;
  *text = nullptr;
  com::ComPtr<IevFdtTranslation> translation = OwnerTranslation(owner);
  if (translation) {
    std::wstring xpath = L"localization/UserMessages/Message[@resId=\"" + std::to_wstring(id) + L"\"]";
    VARIANT_BOOL exists = VARIANT_FALSE;
    if ((translation->ContainsNode(com::Bstr(xpath.c_str()).get(), &exists) != S_OK || !exists) && named)
      xpath = std::wstring(L"localization/UserMessages/Message[@resId=\"") + name + L"\"]";
    if (Localized(translation.get(), xpath, text)) return S_OK;
  }
  if (id < 1) return E_FAIL;
  return LoadMessageText(id, text);
}

HRESULT ChannelToolkitMessage(IUnknown* owner, ULONG id, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  com::ComPtr<IevFdtTranslation> translation = OwnerTranslation(owner);
  if (translation &&
      Localized(translation.get(),
                L"localization/ToolkitMessages/Message[@id=\"" + std::to_wstring(id) + L"\"]", text))
    return S_OK;
  for (const ToolkitRow& row : kToolkitMessages) {
    if (row.id == id) return AssignText(row.text, text);
  }
  return S_OK;
}

HRESULT CHART_Channel::LoadParameterTexts(IevFdtParameterInfo* info, ULONG index) {
  if (!info) return E_POINTER;
  com::ComPtr<IevFdtTranslation> translation = OwnerTranslation();
  if (!translation) return S_FALSE;
  com::Variant id;
  HRESULT hr = info->GetParameterId(com::ui4(index).value(), id.put());
  if (FAILED(hr)) return hr;
  ULONG parameterId = 0;
  hr = CFdtVariant::GetUI4(id.value(), &parameterId);
  if (FAILED(hr)) return hr;
  const std::wstring parameter =
      L"localization/ChannelList/Channel/ParameterList/Parameter[@parId=\"" + std::to_wstring(parameterId) + L"\"]";
  const struct {
    const wchar_t* element;
    LONG field;
  } kTexts[] = {{L"/Name", kParameterInfoText}, {L"/Description", kParameterInfoText2}};
  for (const auto& entry : kTexts) {
    com::Bstr text;
    if (!Localized(translation.get(), parameter + entry.element, text.put())) continue;
    VARIANT field, value;
    V_VT(&field) = VT_I4;
    V_I4(&field) = entry.field;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = text.get();  // borrowed for the call
    hr = info->SetParameterInfo(id.value(), field, value);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT BuildDeviceCodes(BYTE manufacturer, BYTE deviceType, BSTR* manufacturerText,
                         BSTR* deviceTypeText) {
  if (!manufacturerText || !deviceTypeText) return E_INVALIDARG;
  *manufacturerText = nullptr;
  *deviceTypeText = nullptr;
  com::ComPtr<IDeviceCodes> codes;
  ::CoCreateInstance(CLSID_DeviceCodes, nullptr, CLSCTX_ALL, IID_IDeviceCodes, codes.putVoid());
  com::Bstr name;
  if (codes && SUCCEEDED(codes->GetManufacturerName(manufacturer, name.put())) && name.get()) {
    *manufacturerText = name.detach();
  } else {
    wchar_t fallback[32];
    std::swprintf(fallback, 32, L"code = %u", static_cast<unsigned>(manufacturer));
    HRESULT hr = AssignText(fallback, manufacturerText);
    if (FAILED(hr)) return hr;
  }
  const long key = manufacturer * 256L + deviceType;
  com::ComPtr<IDeviceCodeTable> table;
  if (codes) codes->QueryInterface(IID_IDeviceCodeTable, table.putVoid());
  com::Bstr typeName;
  VARIANT_BOOL found = VARIANT_FALSE;
  if (table && table->GetTableText(com::Bstr(L"Devices").get(), key, 1, typeName.put(), &found) == S_OK &&
      found && typeName.get()) {
    *deviceTypeText = typeName.detach();
    return S_OK;
  }
  wchar_t fallback[32];
  std::swprintf(fallback, 32, L"code = 0x%04X", static_cast<unsigned>(key));
  return AssignText(fallback, deviceTypeText);
}

HRESULT LoadResourceString(ULONG_PTR key, BSTR* text) {
  if (!text || key == 0) return E_INVALIDARG;
  *text = nullptr;
  if (key <= 0xFFFF) return LoadMessageText(static_cast<UINT>(key), text);
  const char* narrow = reinterpret_cast<const char*>(key);
  const int length = ::MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
  if (length <= 0) return E_FAIL;
  *text = ::SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
  if (!*text) return E_OUTOFMEMORY;
  ::MultiByteToWideChar(CP_ACP, 0, narrow, -1, *text, length);
  return S_OK;
}

}  // namespace hartdtm
