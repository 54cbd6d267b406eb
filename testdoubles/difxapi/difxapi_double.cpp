// The difxapi double: the four wide entry points of the platform's
// driver-package installation interface, with scripted results and log
// entries and a record of every call (see README.md).
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "win32/unique_handle.h"

namespace {

// The platform's log callback: (event, error code, description, context),
// called __cdecl (the entry points themselves are __stdcall).
using LogCallback = void(__cdecl*)(int event, DWORD error, const wchar_t* description, void* context);

struct InstallerInfo {
  wchar_t* applicationId;
  wchar_t* displayName;
  wchar_t* productName;
  wchar_t* mfgName;
};

LogCallback g_callback = nullptr;
void* g_context = nullptr;

struct LogEntry {
  int event = 0;
  DWORD error = 0;
  bool hasDescription = false;
  std::wstring description;
};

struct Script {
  DWORD result = 0;
  std::vector<LogEntry> entries;
};

std::wstring Env(const wchar_t* name) {
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, &value[0], size));
  return value;
}

// DIFXAPI_DOUBLE_SCRIPT: items separated by ';' —
//   result=N            what the operation returns (decimal or 0x hex)
//   log=E,N             a log entry without description (null)
//   log=E,N,TEXT        a log entry with description TEXT (may be empty)
// Read at every call, so one process can change it between calls.
Script ReadScript() {
  Script script;
  std::wstring text = Env(L"DIFXAPI_DOUBLE_SCRIPT");
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(L';', pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring item = text.substr(pos, end - pos);
    pos = end + 1;
    if (item.compare(0, 7, L"result=") == 0) {
      script.result = wcstoul(item.c_str() + 7, nullptr, 0);
    } else if (item.compare(0, 4, L"log=") == 0) {
      LogEntry entry;
      wchar_t* rest = nullptr;
      entry.event = static_cast<int>(wcstol(item.c_str() + 4, &rest, 0));
      if (*rest == L',') entry.error = wcstoul(rest + 1, &rest, 0);
      if (*rest == L',') {
        entry.hasDescription = true;
        entry.description = rest + 1;
      }
      script.entries.push_back(entry);
    }
  }
  return script;
}

// DIFXAPI_DOUBLE_RECORD: file that gets one UTF-8 line per call.
void Record(const std::wstring& line) {
  std::wstring path = Env(L"DIFXAPI_DOUBLE_RECORD");
  if (path.empty()) return;
  win32::UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  std::wstring text = line + L"\n";
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

const wchar_t* SetOrNull(const void* p) { return p ? L"set" : L"null"; }

// Delivers the scripted log entries to the callback set at this moment, as
// the platform does while an operation runs, and returns the scripted result.
DWORD RunOperation() {
  Script script = ReadScript();
  for (const LogEntry& e : script.entries) {
    std::wstring line = L"log " + std::to_wstring(e.event) + L"," + std::to_wstring(e.error);
    Record(line + (g_callback ? L"" : L" (no callback)"));
    if (g_callback) g_callback(e.event, e.error, e.hasDescription ? e.description.c_str() : nullptr, g_context);
  }
  return script.result;
}

std::wstring OperationLine(const wchar_t* name, const wchar_t* inf, DWORD flags) {
  return std::wstring(name) + L" inf=" + (inf ? inf : L"(null)") + L" flags=" + std::to_wstring(flags);
}

std::wstring InstallLine(const wchar_t* name, const wchar_t* inf, DWORD flags, const InstallerInfo* info,
                         BOOL* needReboot) {
  std::wstring reboot = needReboot ? std::to_wstring(*needReboot) : L"null";
  return OperationLine(name, inf, flags) + L" installer=" + SetOrNull(info) + L" reboot=" + reboot;
}

}  // namespace

// Exported by name through difxapi.def (undecorated on i686 too).
extern "C" {

void WINAPI DIFXAPISetLogCallbackW(LogCallback callback, void* context) {
  Record(std::wstring(L"SetLogCallback callback=") + SetOrNull(reinterpret_cast<const void*>(callback)) +
         L" context=" + SetOrNull(context));
  g_callback = callback;
  g_context = context;
}

DWORD WINAPI DriverPackagePreinstallW(const wchar_t* infPath, DWORD flags) {
  Record(OperationLine(L"Preinstall", infPath, flags));
  return RunOperation();
}

DWORD WINAPI DriverPackageInstallW(const wchar_t* infPath, DWORD flags,
                                                         const InstallerInfo* installerInfo, BOOL* needReboot) {
  Record(InstallLine(L"Install", infPath, flags, installerInfo, needReboot));
  return RunOperation();
}

DWORD WINAPI DriverPackageUninstallW(const wchar_t* infPath, DWORD flags,
                                                           const InstallerInfo* installerInfo, BOOL* needReboot) {
  Record(InstallLine(L"Uninstall", infPath, flags, installerInfo, needReboot));
  return RunOperation();
}

}  // extern "C"
