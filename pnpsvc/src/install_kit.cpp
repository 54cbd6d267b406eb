#include "install_kit.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <newdev.h>
#include <setupapi.h>

#include <atomic>
#include <cctype>
#include <cstring>

#include "shared/system_library.h"
#include "trace.h"
#include "unique_dev_info_list.h"
#include "win32/unique_handle.h"

namespace pnpsvc {
namespace installkit {
namespace {

using Handler = bool (*)(int, char**);
struct Command {
  const char* name;
  Handler handler;
};
// Searched in this order.
const Command kDeviceInstallKitCommands[] = {
    {"restart", cmdRestart},
    {"install", cmdInstall},
    {"remove", cmdRemove},
};

using DeviceCallback = bool (*)(HDEVINFO list, SP_DEVINFO_DATA* device, void* context);

std::atomic<DeviceActionHook> g_actionHook{nullptr};
std::atomic<DriverUpdateFunction> g_updateHook{nullptr};

// The kit runs in session 0 under the service's work lock: a driver that
// needs the user's consent (an unsigned or untrusted package) must fail at
// once with its error, not wait for an answer nobody can see.
constexpr DWORD kDriverUpdateFlags = INSTALLFLAG_FORCE | INSTALLFLAG_NONINTERACTIVE;

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// Finds `part` in `text` at or after `from`, ignoring case; npos if absent.
size_t FindNoCase(const std::string& text, const std::string& part, size_t from) {
  if (part.size() > text.size()) return std::string::npos;
  for (size_t i = from; i + part.size() <= text.size(); ++i)
    if (EqualNoCase(text.data() + i, part.data(), part.size())) return i;
  return std::string::npos;
}

// One pattern, decoded: instance id or hardware id, literal or wildcard.
struct Pattern {
  bool instanceId = false;
  bool literal = false;
  std::string text;
};

Pattern DecodePattern(const char* arg) {
  Pattern p;
  if (*arg == '@') {
    p.instanceId = true;
    ++arg;
  }
  if (*arg == '\'') {
    p.literal = true;
    ++arg;
  }
  p.text = arg;
  if (!p.literal && p.text.find('*') == std::string::npos) p.literal = true;
  return p;
}

bool PatternMatches(const Pattern& p, const std::string& id) {
  if (p.literal) return id.size() == p.text.size() && EqualNoCase(id.data(), p.text.data(), id.size());
  return WildcardMatch(id, p.text);
}

// The device's instance id (at most 200 characters) from the configuration
// manager. Some platforms (Wine) answer it with an empty id; SetupAPI's own
// copy of the id then stands in.
CONFIGRET DeviceInstanceId(HDEVINFO list, SP_DEVINFO_DATA* device, HMACHINE machine, char (&id)[201]) {
  id[0] = 0;
  CONFIGRET cr = CM_Get_Device_ID_ExA(device->DevInst, id, 200, 0, machine);
  if (cr == CR_SUCCESS && id[0] == 0 && !SetupDiGetDeviceInstanceIdA(list, device, id, 200, nullptr)) id[0] = 0;
  id[200] = 0;
  return cr;
}

std::string GetDeviceId(HDEVINFO list, SP_DEVINFO_DATA* device) {
  SP_DEVINFO_LIST_DETAIL_DATA_A detail = {};
  detail.cbSize = sizeof(detail);
  if (!SetupDiGetDeviceInfoListDetailA(list, &detail)) {
    PNP_TRACE(kTraceError, "SetupDiGetDeviceInfoListDetail() failed with code %lu", GetLastError());
    return {};
  }
  char id[201];
  CONFIGRET cr = DeviceInstanceId(list, device, detail.RemoteMachineHandle, id);
  if (cr != CR_SUCCESS) {
    PNP_TRACE(kTraceError, "CM_Get_Device_ID_Ex() failed with code %lu", static_cast<unsigned long>(cr));
    return {};
  }
  return id;
}

// Reads a REG_MULTI_SZ device property into its strings.
std::vector<std::string> GetMultiSzProperty(HDEVINFO list, SP_DEVINFO_DATA* device, DWORD property) {
  std::vector<std::string> result;
  DWORD type = 0, size = 0;
  SetupDiGetDeviceRegistryPropertyA(list, device, property, &type, nullptr, 0, &size);
  if (size == 0) return result;
  std::vector<char> buffer(size + 2, 0);
  if (!SetupDiGetDeviceRegistryPropertyA(list, device, property, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                         size, nullptr) ||
      type != REG_MULTI_SZ)
    return result;
  for (const char* s = buffer.data(); *s; s += std::strlen(s) + 1) result.emplace_back(s);
  return result;
}

bool EnumerateDevices(DWORD flags, int argc, char** argv, DeviceCallback callback, void* context) {
  if (argc < 1) {
    PNP_TRACE(kTraceError, "EnumerateDevices() needs at least one argument");
    return false;
  }
  GUID classGuid = {};
  const GUID* cls = nullptr;
  int first = 0;
  if (argv[0][0] == '=') {
    DWORD required = 0;
    if (!SetupDiClassGuidsFromNameExA(argv[0] + 1, &classGuid, 1, &required, nullptr, nullptr) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      PNP_TRACE(kTraceError, "SetupDiClassGuidsFromNameEx(%s) failed with code %lu", argv[0] + 1, GetLastError());
      return false;
    }
    if (required == 0) {
      PNP_TRACE(kTraceInfo, "class <%s> not known", argv[0] + 1);
      return true;
    }
    cls = &classGuid;
    first = 1;
  }

  bool all = false;
  std::vector<Pattern> patterns;
  for (int i = first; i < argc; ++i) {
    if (std::strcmp(argv[i], "*") == 0)
      all = true;
    else
      patterns.push_back(DecodePattern(argv[i]));
  }
  bool onlyInstanceIds = !patterns.empty();
  for (const Pattern& p : patterns)
    if (!p.instanceId || !p.literal) onlyInstanceIds = false;

  UniqueDevInfoList list;
  if (all || !onlyInstanceIds) {
    list.reset(SetupDiGetClassDevsExA(cls, nullptr, nullptr, flags | (cls ? 0 : DIGCF_ALLCLASSES), nullptr, nullptr,
                                      nullptr));
    if (!list) {
      PNP_TRACE(kTraceError, "SetupDiGetClassDevsEx() failed (code: %lu)", GetLastError());
      return false;
    }
  } else {
    list.reset(SetupDiCreateDeviceInfoListExA(cls, nullptr, nullptr, nullptr));
    if (!list) {
      PNP_TRACE(kTraceError, "SetupDiCreateDeviceInfoListEx() failed (code: %lu)", GetLastError());
      return false;
    }
    bool opened = true;
    for (const Pattern& p : patterns) {
      opened = SetupDiOpenDeviceInfoA(list.get(), p.text.c_str(), nullptr, 0, nullptr) != FALSE;
      if (!opened) PNP_TRACE(kTraceError, "SetupDiOpenDeviceInfo() failed (code: %lu)", GetLastError());
    }
    if (!opened) return false;
  }

  SP_DEVINFO_LIST_DETAIL_DATA_A detail = {};
  detail.cbSize = sizeof(detail);
  if (!SetupDiGetDeviceInfoListDetailA(list.get(), &detail)) {
    PNP_TRACE(kTraceError, "SetupDiGetDeviceInfoListDetail() failed (code: %lu)", GetLastError());
    return false;
  }

  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof(device);
  for (DWORD index = 0; SetupDiEnumDeviceInfo(list.get(), index, &device); ++index) {
    bool match = all || onlyInstanceIds;
    if (!match) {
      char id[201];
      if (DeviceInstanceId(list.get(), &device, detail.RemoteMachineHandle, id) != CR_SUCCESS) {
        PNP_TRACE(kTraceError, "CM_Get_Device_ID_Ex failed");
        id[0] = 0;
      }
      std::vector<std::string> ids = GetMultiSzProperty(list.get(), &device, SPDRP_HARDWAREID);
      std::vector<std::string> compatible = GetMultiSzProperty(list.get(), &device, SPDRP_COMPATIBLEIDS);
      ids.insert(ids.end(), compatible.begin(), compatible.end());
      for (const Pattern& p : patterns) {
        if (p.instanceId) {
          match = PatternMatches(p, id);
        } else {
          for (const std::string& hw : ids)
            if (PatternMatches(p, hw)) match = true;
        }
        if (match) break;
      }
    }
    if (match && !callback(list.get(), &device, context)) return false;
  }
  return true;
}

bool RemoveCallback(HDEVINFO list, SP_DEVINFO_DATA* device, void*) {
  std::string id = GetDeviceId(list, device);
  if (id.empty()) {
    PNP_TRACE(kTraceError, "GetDeviceId() failed");
    return false;
  }
  if (DeviceActionHook hook = g_actionHook.load()) {
    if (!hook("remove", id)) return false;
    PNP_TRACE(kTraceInfo, "device <%s> removed", id.c_str());
    return true;
  }
  SP_REMOVEDEVICE_PARAMS params = {};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  params.Scope = DI_REMOVEDEVICE_GLOBAL;
  params.HwProfile = 0;
  if (!SetupDiSetClassInstallParamsA(list, device, &params.ClassInstallHeader, sizeof(params))) {
    PNP_TRACE(kTraceError, "SetupDiSetClassInstallParams() failed with code %lu", GetLastError());
    return false;
  }
  if (!SetupDiCallClassInstaller(DIF_REMOVE, list, device)) {
    PNP_TRACE(kTraceError, "SetupDiCallClassInstaller() failed with code %lu", GetLastError());
    return false;
  }
  PNP_TRACE(kTraceInfo, "device <%s> removed", id.c_str());
  return true;
}

bool RestartCallback(HDEVINFO list, SP_DEVINFO_DATA* device, void*) {
  std::string id = GetDeviceId(list, device);
  if (id.empty()) {
    PNP_TRACE(kTraceError, "GetDeviceId() failed");
    return false;
  }
  if (DeviceActionHook hook = g_actionHook.load()) return hook("restart", id);
  SP_PROPCHANGE_PARAMS params = {};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = DICS_PROPCHANGE;
  params.Scope = DICS_FLAG_CONFIGSPECIFIC;
  params.HwProfile = 0;
  if (!SetupDiSetClassInstallParamsA(list, device, &params.ClassInstallHeader, sizeof(params))) {
    PNP_TRACE(kTraceError, "SetupDiSetClassInstallParams() failed (code: %lu)", GetLastError());
    return false;
  }
  if (!SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, list, device)) {
    PNP_TRACE(kTraceError, "SetupDiCallClassInstaller() failed (code: %lu)", GetLastError());
    return false;
  }
  return true;
}

}  // namespace

void SetDeviceActionHook(DeviceActionHook hook) { g_actionHook.store(hook); }
void SetDriverUpdateHook(DriverUpdateFunction update) { g_updateHook.store(update); }

bool CreateCommandLine(const char* text, std::vector<std::string>& args) {
  args.clear();
  if (!text) return false;
  bool quoted = false, inArg = false;
  std::string current;
  for (const char* p = text; *p; ++p) {
    char c = *p;
    if (c == '"') {
      if (quoted && p[1] == '"') {  // "" inside quotes: one literal quote
        current += '"';
        ++p;
      } else {
        quoted = !quoted;
      }
      inArg = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inArg) args.push_back(current);
      current.clear();
      inArg = false;
    } else {
      current += c;
      inArg = true;
    }
  }
  if (inArg) args.push_back(current);
  return true;
}

bool WildcardMatch(const std::string& id, const std::string& pattern) {
  size_t star = pattern.find('*');
  if (star == std::string::npos)
    return id.size() == pattern.size() && EqualNoCase(id.data(), pattern.data(), id.size());
  // The part before the first star must start the id.
  if (star > id.size() || !EqualNoCase(id.data(), pattern.data(), star)) return false;
  size_t pos = star;
  size_t partStart = star + 1;
  for (;;) {
    size_t next = pattern.find('*', partStart);
    std::string part = pattern.substr(partStart, next == std::string::npos ? std::string::npos : next - partStart);
    if (next == std::string::npos) {
      // The part after the last star must end the id (empty: any rest).
      if (part.size() > id.size() - pos) return false;
      return EqualNoCase(id.data() + id.size() - part.size(), part.data(), part.size());
    }
    size_t found = FindNoCase(id, part, pos);
    if (found == std::string::npos) return false;
    pos = found + part.size();
    partStart = next + 1;
  }
}

bool cmdUpdate(int argc, char** argv) {
  if (argc < 2) {
    PNP_TRACE(kTraceError, "two arguments needed");
    return false;
  }
  if (!argv[0] || !*argv[0]) {
    PNP_TRACE(kTraceError, "invalid inf file name");
    return false;
  }
  if (!argv[1] || !*argv[1]) {
    PNP_TRACE(kTraceError, "invalid hwid found");
    return false;
  }
  char infPath[MAX_PATH];
  DWORD n = GetFullPathNameA(argv[0], MAX_PATH, infPath, nullptr);
  if (n == 0 || n >= MAX_PATH) {
    PNP_TRACE(kTraceInfo, "Couldn't get full path name for inf <%s>", argv[0]);
    return false;
  }
  if (GetFileAttributesA(infPath) == INVALID_FILE_ATTRIBUTES) {
    PNP_TRACE(kTraceInfo, "inf file <%s> does not exists", infPath);
    return false;
  }
  const char kUpdateName[] = "UpdateDriverForPlugAndPlayDevicesA";
  win32::UniqueModule newdev;
  DriverUpdateFunction update = g_updateHook.load();
  if (!update) {
    newdev.reset(shared::LoadSystemLibrary(L"newdev.dll"));
    if (!newdev) {
      PNP_TRACE(kTraceInfo, "Could not load <newdev.dll>");
      return false;
    }
    update = reinterpret_cast<DriverUpdateFunction>(
        reinterpret_cast<void*>(GetProcAddress(newdev.get(), kUpdateName)));
    if (!update) {
      PNP_TRACE(kTraceInfo, "Function %s not found in dll", kUpdateName);
      return false;
    }
  }
  BOOL reboot = FALSE;
  if (!update(nullptr, argv[1], infPath, kDriverUpdateFlags, &reboot)) {
    PNP_TRACE(kTraceInfo, "%s failed with code %lu", kUpdateName, GetLastError());
    return false;
  }
  return true;
}

bool cmdInstall(int argc, char** argv) {
  if (argc < 2) {
    PNP_TRACE(kTraceError, "two arguments needed");
    return false;
  }
  if (!*argv[0]) {
    PNP_TRACE(kTraceError, "Emtpy inf not allowed");
    return false;
  }
  if (!*argv[1]) {
    PNP_TRACE(kTraceError, "Emtpy hwid not allowed");
    return false;
  }
  char infPath[MAX_PATH];
  DWORD n = GetFullPathNameA(argv[0], MAX_PATH, infPath, nullptr);
  if (n == 0 || n >= MAX_PATH) {
    PNP_TRACE(kTraceError, "GetFullPathName() for inf <%s> failed with code %lu", argv[0], GetLastError());
    return false;
  }
  // Hardware id list: the id and two terminating zeros.
  char hwIdList[255 + 2] = {};
  if (std::strlen(argv[1]) > 255) {
    PNP_TRACE(kTraceError, "StringCchCopy() failed with hr=0x%08X", 0x8007007Au);
    return false;
  }
  std::strcpy(hwIdList, argv[1]);
  DWORD listBytes = static_cast<DWORD>(std::strlen(hwIdList) + 2);

  GUID classGuid;
  char className[32];
  if (!SetupDiGetINFClassA(infPath, &classGuid, className, sizeof(className), nullptr)) {
    PNP_TRACE(kTraceError, "SetupDiGetINFClass() failed with code %lu", GetLastError());
    return false;
  }
  UniqueDevInfoList list(SetupDiCreateDeviceInfoList(&classGuid, nullptr));
  if (!list) {
    PNP_TRACE(kTraceError, "SetupDiCreateDeviceInfoList() failed (code: %lu)", GetLastError());
    return false;
  }
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof(device);
  if (!SetupDiCreateDeviceInfoA(list.get(), className, &classGuid, nullptr, nullptr, DICD_GENERATE_ID, &device)) {
    PNP_TRACE(kTraceError, "SetupDiCreateDeviceInfo() failed (code: %lu)", GetLastError());
    return false;
  }
  if (!SetupDiSetDeviceRegistryPropertyA(list.get(), &device, SPDRP_HARDWAREID, reinterpret_cast<BYTE*>(hwIdList),
                                         listBytes)) {
    PNP_TRACE(kTraceError, "SetupDiSetDeviceRegistryProperty() failed (code: %lu)", GetLastError());
    return false;
  }
  if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list.get(), &device)) {
    PNP_TRACE(kTraceError, "SetupDiCallClassInstaller() failed (code: %lu)", GetLastError());
    return false;
  }
  return cmdUpdate(argc, argv);
}

bool cmdRemove(int argc, char** argv) {
  if (!EnumerateDevices(DIGCF_PRESENT, argc, argv, RemoveCallback, nullptr)) {
    PNP_TRACE(kTraceError, "EnumerateDevices() failed");
    return false;
  }
  return true;
}

bool cmdRestart(int argc, char** argv) {
  if (!EnumerateDevices(DIGCF_PRESENT, argc, argv, RestartCallback, nullptr)) {
    PNP_TRACE(kTraceError, "EnumerateDevices() failed");
    return false;
  }
  return true;
}

}  // namespace installkit

bool DeviceInstallKit(const char* command) {
  using namespace installkit;
  PNP_TRACE(kTraceInfo, ">> DeviceInstallKit(\"%s\")", command ? command : "(NULL)");
  bool result = false;
  std::vector<std::string> args;
  if (!CreateCommandLine(command, args)) {
    PNP_TRACE(kTraceError, "CreateCommandLine() failed");
  } else if (args.empty()) {
    PNP_TRACE(kTraceError, "unknown command <%s>", "");
  } else {
    std::string name = args[0];
    if (!name.empty() && (name[0] == '-' || name[0] == '/')) name.erase(0, 1);
    const Command* found = nullptr;
    for (const Command& c : kDeviceInstallKitCommands)
      if (name.size() == std::strlen(c.name) && EqualNoCase(name.data(), c.name, name.size())) {
        found = &c;
        break;
      }
    if (!found) {
      PNP_TRACE(kTraceError, "unknown command <%s>", name.c_str());
    } else {
      std::vector<char*> argv;
      for (size_t i = 1; i < args.size(); ++i) argv.push_back(&args[i][0]);
      argv.push_back(nullptr);
      result = found->handler(static_cast<int>(args.size() - 1), argv.data());
      if (!result) PNP_TRACE(kTraceError, "execution of command <%s> failed", name.c_str());
    }
  }
  PNP_TRACE(kTraceInfo, "<< DeviceInstallKit: %s", result ? "true" : "false");
  return result;
}

}  // namespace pnpsvc
