#include "difx_api.h"

#include <cstring>

#include "texts.h"

namespace drvsetup {

namespace {

constexpr size_t kLongestPath = 32768;  // the longest path Windows gives out

template <typename Fn>
bool Bind(HMODULE module, const char* name, Fn& out) {
  out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return out != nullptr;
}

std::wstring Widen(const char* ascii) { return std::wstring(ascii, ascii + strlen(ascii)); }

// The folder of the running program with its trailing backslash; empty when
// its path cannot be read.
std::wstring OwnFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= kLongestPath) return {};
    path.resize(path.size() * 2);
  }
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

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
  // the caller's rights.
  module_.reset(LoadLibraryExW(dllName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  DWORD loadError = module_ ? ERROR_SUCCESS : GetLastError();
  if (!module_) {
    const std::wstring folder = OwnFolder();
    if (!folder.empty()) {
      const std::wstring path = folder + dllName;
      module_.reset(LoadLibraryExW(path.c_str(), nullptr,
                                   LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
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
