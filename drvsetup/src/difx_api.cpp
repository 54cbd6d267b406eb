#include "difx_api.h"

#include <cstring>

#include "texts.h"

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
  // The system folder only: a DLL of the same name planted beside the
  // program (often a download folder) must never run with the caller's rights.
  module_.reset(LoadLibraryExW(dllName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!module_) {
    error = std::wstring(texts::kNoDifxApi) + dllName + texts::kNoDifxApiEnd + std::to_wstring(GetLastError());
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
