#include "modem/modem_binding.h"

#include <string>

#include "channel/channel_texts.h"
#include "win32/library_search.h"
#include "win32/module_path.h"

namespace {

template <class Fn>
void Take(HMODULE module, const char* name, Fn& slot) {
  slot = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

void SetReason(BSTR* reason, UINT id) {
  if (reason) hartdtm::LoadMessageText(id, reason);
}

// The folder of the module that holds this code (the DTM's DLL, or a test
// program that links the DTM statically), with a trailing separator.
std::wstring OwnModuleFolder() {
  HMODULE self = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&OwnModuleFolder), &self))
    return std::wstring();
  return win32::ModuleFolder(self);
}

// The library is ours, not the platform's: it is taken from the DTM
// module's own folder when it is there, else from the application's folder
// or the system folder (by full path where the loader knows no search
// flags). Never from the current folder or the PATH, where anybody may have
// put a file of that name.
HMODULE LoadModemLibrary(const wchar_t* name) {
  const std::wstring folder = OwnModuleFolder();
  if (!folder.empty()) {
    const std::wstring path = folder + name;
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
      return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return win32::LoadLibrarySearching(name, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

CHartDriverApi::~CHartDriverApi() { Unload(); }

bool CHartDriverApi::Load(BSTR* reason) {
  if (module) {
    ++loadCount;
    return true;
  }
  HMODULE library = LoadModemLibrary(libraryName);
  if (!library) {
    SetReason(reason, modem_messages::kLibraryNotLoaded);
    return false;
  }
  // Taken in this order; every one is required.
  Take(library, "vtHART_DeviceInit", DeviceInit);
  Take(library, "vtHART_SetParam", SetParam);
  Take(library, "vtHART_StartMessageHandler", StartMessageHandler);
  Take(library, "vtHART_StopMessageHandler", StopMessageHandler);
  Take(library, "vtHART_CloseDevice", CloseDevice);
  Take(library, "vtHART_Receive", Receive);
  Take(library, "vtHART_Send", Send);
  Take(library, "vtHART_GetParam", GetParam);
  Take(library, "vtHART_GetDriverConfiguration", GetDriverConfiguration);
  Take(library, "vtHART_SetDriverConfiguration", SetDriverConfiguration);
  Take(library, "vtHART_AttachedDevices", AttachedDevices);
  Take(library, "vtHART_NotifyPnP", NotifyPnP);
  if (DeviceInit && SetParam && StartMessageHandler && StopMessageHandler && CloseDevice && Receive && Send &&
      GetParam && GetDriverConfiguration && SetDriverConfiguration && AttachedDevices && NotifyPnP) {
    module = library;
    ++loadCount;
    return true;
  }
  ClearEntryPoints();
  ::FreeLibrary(library);
  SetReason(reason, modem_messages::kEntryPointsMissing);
  return false;
}

void CHartDriverApi::Release() {
  if (loadCount == 0) return;
  if (--loadCount == 0) {
    HMODULE library = module;
    ClearEntryPoints();
    module = nullptr;
    if (library) ::FreeLibrary(library);
  }
}

void CHartDriverApi::Unload() {
  if (loadCount == 0) return;
  HMODULE library = module;
  ClearEntryPoints();
  module = nullptr;
  loadCount = 0;
  if (library) ::FreeLibrary(library);
}

void CHartDriverApi::ClearEntryPoints() {
  DeviceInit = nullptr;
  SetParam = nullptr;
  StartMessageHandler = nullptr;
  StopMessageHandler = nullptr;
  CloseDevice = nullptr;
  Receive = nullptr;
  Send = nullptr;
  GetParam = nullptr;
  GetDriverConfiguration = nullptr;
  SetDriverConfiguration = nullptr;
  AttachedDevices = nullptr;
  NotifyPnP = nullptr;
}

namespace modem_messages {

UINT MessageIdOfStatus(BYTE status) {
  switch (status) {
    case 0: return 0;
    case 1: return 135;
    case 2: return 136;
    case 3: return 137;
    case 4: return 138;
    case 5: return 139;
    case 6: return 140;
    case 7: return 141;
    case 8: return 142;
    case 9: return 143;
    case 10: return 144;
    case 11: return 145;
    case 12: return 146;
    case 13: return 147;
    case 15: return 148;
    case 35: return 149;
    default: return kErrorInitializing;
  }
}

}  // namespace modem_messages
