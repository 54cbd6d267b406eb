#include "difx_api.h"

#include <cstring>

#include "texts.h"
#include "win32/library_search.h"
#include "win32/module_path.h"

namespace drvsetup {

namespace {

template <typename Fn>
bool Bind(HMODULE module, const char* name, Fn& out) {
  out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return out != nullptr;
}

std::wstring Widen(const char* ascii) { return std::wstring(ascii, ascii + strlen(ascii)); }

}  // namespace

bool DifxApi::Load(const wchar_t* dllName, std::wstring& error) {
  setLogCallback = nullptr;
  preinstall = nullptr;
  install = nullptr;
  uninstall = nullptr;
  // The system folder first, then the helper's own folder by full path,
  // with the DLL's own dependencies from its folder and the system folder.
  // Never a bare name through the search path: that would take a DLL of the
  // name from the current folder (often a download folder) and run it with
  // the caller's rights. Where the loader knows no search flags, both go by
  // full path (win32::LoadLibrarySearching).
  module_.reset(win32::LoadLibrarySearching(dllName, LOAD_LIBRARY_SEARCH_SYSTEM32));
  DWORD loadError = module_ ? ERROR_SUCCESS : GetLastError();
  if (!module_) {
    const std::wstring folder = win32::ModuleFolder(nullptr);
    if (!folder.empty()) {
      const std::wstring path = folder + dllName;
      module_.reset(
          win32::LoadLibrarySearching(path.c_str(), LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
      if (!module_) loadError = GetLastError();
    }
  }
  if (!module_) {
    error = std::wstring(texts::kNoDifxApi) + dllName + texts::kNoDifxApiEnd + std::to_wstring(loadError);
    return false;
  }
  const char* missing = nullptr;
  if (!Bind(module_.get(), "DIFXAPISetLogCallbackW", setLogCallback)) missing = "DIFXAPISetLogCallbackW";
  else if (!Bind(module_.get(), "DriverPackagePreinstallW", preinstall)) missing = "DriverPackagePreinstallW";
  else if (!Bind(module_.get(), "DriverPackageInstallW", install)) missing = "DriverPackageInstallW";
  else if (!Bind(module_.get(), "DriverPackageUninstallW", uninstall)) missing = "DriverPackageUninstallW";
  if (missing) {
    error = std::wstring(texts::kNoEntryPoint) + Widen(missing) + texts::kInDll + dllName;
    setLogCallback = nullptr;
    preinstall = nullptr;
    install = nullptr;
    uninstall = nullptr;
    module_.reset();
    return false;
  }
  return true;
}

}  // namespace drvsetup
