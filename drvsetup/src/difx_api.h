// The platform's driver-package installation interface (DIFxAPI), bound at
// run time.
//
// mingw-w64 has no header or import library for it, so the few types the
// helper uses are declared here from the published interface.
#pragma once

#include <windows.h>

#include <string>

#include "win32/unique_handle.h"

namespace drvsetup {

// DIFXAPI_LOG: the event of a log entry (0 success, 1 info, 2 warning, 3 error).
using DifxLogEvent = int;

// INSTALLERINFO_W: optional installer identity for install and uninstall.
struct DifxInstallerInfo {
  wchar_t* applicationId;
  wchar_t* displayName;
  wchar_t* productName;
  wchar_t* mfgName;
};

// The log callback is __cdecl (the platform's DIFXAPILOGCALLBACK_W); the
// entry points are __stdcall. The two differ on i686 only.
using DifxLogCallbackFn = void(__cdecl*)(DifxLogEvent event, DWORD error, const wchar_t* description,
                                         void* context);
using DifxSetLogCallbackFn = void(WINAPI*)(DifxLogCallbackFn callback, void* context);
using DifxPreinstallFn = DWORD(WINAPI*)(const wchar_t* infPath, DWORD flags);
using DifxInstallFn = DWORD(WINAPI*)(const wchar_t* infPath, DWORD flags, const DifxInstallerInfo* installerInfo,
                                     BOOL* needReboot);
using DifxUninstallFn = DifxInstallFn;

// The four entry points the helper calls. Load() takes the DLL from the
// system folder, else from the helper's own folder by full path: Windows
// carries no system copy, installers ship it beside their setup files. It
// never searches the current folder or the search path.
class DifxApi {
 public:
  // False, with a text for the user, when the DLL or one of its entry points
  // is missing; the entry points are then all null.
  bool Load(const wchar_t* dllName, std::wstring& error);

  DifxSetLogCallbackFn setLogCallback = nullptr;
  DifxPreinstallFn preinstall = nullptr;
  DifxInstallFn install = nullptr;
  DifxUninstallFn uninstall = nullptr;

 private:
  win32::UniqueModule module_;
};

}  // namespace drvsetup
