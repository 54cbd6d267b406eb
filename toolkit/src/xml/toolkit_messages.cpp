// The toolkit's own message texts: built-in English, looked up in the
// translation document first (see toolkit/xml/user_messages.h).
#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "toolkit.h"
#include "toolkit/xml/user_messages.h"

namespace {

// Which lookup knows a built-in text.
enum : unsigned {
  kDtm = 1u << static_cast<int>(ToolkitMessageUser::Dtm),
  kControls = 1u << static_cast<int>(ToolkitMessageUser::Controls),
  kTransferStop = 1u << static_cast<int>(ToolkitMessageUser::TransferStop),
};

struct ToolkitMessage {
  ULONG id;
  unsigned users;
  const wchar_t* text;
};

// Ids 1007 and 1008 (the worker thread's upload and download) have no
// built-in text.
const ToolkitMessage kToolkitMessages[] = {
    {1001, kControls | kTransferStop, L"There was an error during upload parameters.\r\nDo you want to stop upload?"},
    {1002, kControls | kTransferStop, L"Upload Parameters"},
    {1003, kControls | kTransferStop, L"There was an error during download parameters.\r\nDo you want to stop download?"},
    {1004, kControls | kTransferStop, L"Download Parameters"},
    {1005, kControls, L"Parameter changed in the device, do you want to load the changes to the DTM?"},
    {1006, kControls, L"Parameter changed in the DTM, do you want to store the changes to the device?"},
    {1009, kDtm, L"UploadRequest failed, because DTM is not online!"},
    {1010, kDtm, L"DownloadRequest failed, because DTM is not online!"},
    {1011, kDtm, L"UnlockDataSet failed. Please clean up the database!"},
    {2001, kDtm, L"An error occurred during IDtmParameter::SetParameters"},
    {2002, kDtm, L"There are invalid parameters in the data set"},
    {2003, kDtm, L"Error occured during lock of DTM data set"},
    {2004, kDtm, L"Unable to unlock DTM data set"},
    {3001, kDtm, L"There are active connections to the DTM.\nShall they be terminated now?"},
    {3002, kDtm, L"DTM Warning"},
    // The controls ask 4002 under the caption 4001, so 4001 is the caption
    // "Warning" and 4002 the question; the delivered translation document
    // holds them the same way round. Only the controls look them up.
    {4001, kControls, L"Warning"},
    {4002, kControls, L"Apply changes?"},
    {6001, kDtm, L"DTM is forced to shutdown. There are ActiveX open. Discard all changes?"},
    {6002, kDtm, L"Release DTM"},
};

}  // namespace

const wchar_t* BuiltInToolkitMessage(ULONG id, ToolkitMessageUser user) {
  const unsigned bit = 1u << static_cast<int>(user);
  for (const ToolkitMessage& message : kToolkitMessages) {
    if (message.id == id && (message.users & bit)) return message.text;
  }
  return nullptr;
}

HRESULT GetToolkitMessage(IUnknown* dtm, ULONG id, ToolkitMessageUser user, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  com::ComPtr<IevFdtTranslation> translation;
  if (dtm && SUCCEEDED(translation.queryFrom(dtm)) && translation) {
    std::wstring path = L"localization/ToolkitMessages/Message[@id=\"" + std::to_wstring(id) + L"\"]";
    com::Bstr localized;
    VARIANT_BOOL found = VARIANT_FALSE;
    if (SUCCEEDED(translation->GetLocalizedText(com::Bstr(path.c_str()).get(), localized.put(), &found)) && found) {
      *text = localized.detach();
      return S_OK;
    }
  }
  const wchar_t* builtIn = BuiltInToolkitMessage(id, user);
  if (!builtIn && user == ToolkitMessageUser::TransferStop) builtIn = L"";
  if (builtIn) {
    *text = ::SysAllocString(builtIn);
    if (!*text) return E_OUTOFMEMORY;
  }
  return S_OK;
}
