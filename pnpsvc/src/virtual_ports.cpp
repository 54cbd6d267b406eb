#include "virtual_ports.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "install_kit.h"
#include "shared/registry_layout.h"
#include "shared/system_library.h"
#include "trace.h"
#include "win32/unique_handle.h"

namespace pnpsvc {
namespace {

std::atomic<InstallKitRunner> g_installKit{nullptr};
std::atomic<unsigned> g_bindPauseMs{200};
constexpr int kBindTries = 24;

// The COM port database of msports, loaded at run time.
using HCOMDB = HANDLE;
constexpr ULONG kReportBits = 0;
using ComDBOpenFn = LONG(WINAPI*)(HCOMDB*);
using ComDBCloseFn = LONG(WINAPI*)(HCOMDB);
using ComDBGetCurrentPortUsageFn = LONG(WINAPI*)(HCOMDB, BYTE*, DWORD, ULONG, DWORD*);
using ComDBClaimPortFn = LONG(WINAPI*)(HCOMDB, DWORD, BOOL, BOOL*);
using ComDBReleasePortFn = LONG(WINAPI*)(HCOMDB, DWORD);

template <typename Fn>
Fn Proc(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class ComDatabase {
 public:
  ComDatabase() {
    module_.reset(shared::LoadSystemLibrary(L"msports.dll"));
    if (!module_) {
      PNP_TRACE(kTraceError, "LoadLibrary(\"msports\") failed (code: %lu)", GetLastError());
      return;
    }
    open_ = Proc<ComDBOpenFn>(module_.get(), "ComDBOpen");
    close_ = Proc<ComDBCloseFn>(module_.get(), "ComDBClose");
    usage_ = Proc<ComDBGetCurrentPortUsageFn>(module_.get(), "ComDBGetCurrentPortUsage");
    claim_ = Proc<ComDBClaimPortFn>(module_.get(), "ComDBClaimPort");
    release_ = Proc<ComDBReleasePortFn>(module_.get(), "ComDBReleasePort");
    if (!open_ || !close_ || !usage_ || !claim_ || !release_) {
      PNP_TRACE(kTraceError, "Not all Procs in msports found");
      return;
    }
    LONG rc = open_(&db_);
    if (rc != ERROR_SUCCESS || !db_ || db_ == INVALID_HANDLE_VALUE) {
      PNP_TRACE(kTraceError, "ComDBOpen() failed (code: %ld)", rc);
      db_ = nullptr;
    }
  }
  ~ComDatabase() {
    if (db_) close_(db_);
  }
  ComDatabase(const ComDatabase&) = delete;
  ComDatabase& operator=(const ComDatabase&) = delete;

  bool opened() const { return db_ != nullptr; }

  // Size in ports and the usage bitmap (bit n-1 for COMn); false on failure.
  bool ReadUsage(DWORD& maxPorts, std::vector<BYTE>& bits) {
    maxPorts = 0;
    LONG rc = usage_(db_, nullptr, 0, kReportBits, &maxPorts);
    if (rc != ERROR_SUCCESS) {
      PNP_TRACE(kTraceError, "ComDBGetCurrentPortUsage() for max ports failed (code: %ld)", rc);
      return false;
    }
    try {
      bits.assign((maxPorts + 7) / 8, 0);
    } catch (...) {
      PNP_TRACE(kTraceError, "Memory allocation failed");
      return false;
    }
    DWORD reported = 0;
    rc = usage_(db_, bits.data(), static_cast<DWORD>(bits.size()), kReportBits, &reported);
    if (rc != ERROR_SUCCESS) {
      PNP_TRACE(kTraceError, "ComDBGetCurrentPortUsage() for port bits failed (code: %ld)", rc);
      return false;
    }
    return true;
  }

  LONG Claim(int port) {
    BOOL forced = FALSE;
    return claim_(db_, static_cast<DWORD>(port), TRUE, &forced);
  }
  LONG Release(int port) { return release_(db_, static_cast<DWORD>(port)); }

 private:
  win32::UniqueModule module_;
  ComDBOpenFn open_ = nullptr;
  ComDBCloseFn close_ = nullptr;
  ComDBGetCurrentPortUsageFn usage_ = nullptr;
  ComDBClaimPortFn claim_ = nullptr;
  ComDBReleasePortFn release_ = nullptr;
  HCOMDB db_ = nullptr;
};

// A REG_DWORD value. Type and size are asked first, so that a value of
// another type or size is never read into the DWORD.
bool ReadDword(HKEY key, const char* name, DWORD& value) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_DWORD ||
      size != sizeof(DWORD))
    return false;
  return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
         type == REG_DWORD && size == sizeof(DWORD);
}

// Whether the value exists at all, whatever its type and size.
bool ValueExists(HKEY key, const char* name) {
  DWORD size = 0;
  return RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
}

// Serials are 16 bits; only the low 16 bits of a stored value count.
bool SameSerial(DWORD stored, uint32_t serial) { return (stored & 0xFFFF) == (serial & 0xFFFF); }

// Whether the instance's "HardwareID" is a REG_MULTI_SZ starting with ours.
bool IsVirtualPortNode(HKEY instance) {
  char buffer[502] = {};
  DWORD type = 0, size = 500;
  if (RegQueryValueExA(instance, "HardwareID", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      type != REG_MULTI_SZ)
    return false;
  return std::strcmp(buffer, kVirtualPortHardwareId) == 0;
}

// Walks the ROOT\PORTS instances that carry our hardware id. The visitor gets
// the instance name, the instance key and its "Device Parameters" key, and
// returns true to stop.
template <typename Visitor>
bool ForEachVirtualPortNode(Visitor visit) {
  win32::UniqueRegKey ports;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortsEnumKeyPath, 0, KEY_READ, ports.put()) != ERROR_SUCCESS) return false;
  for (DWORD index = 0;; ++index) {
    char name[51];
    DWORD nameSize = sizeof(name);
    LONG rc = RegEnumKeyExA(ports.get(), index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;  // a name longer than ours can be is not one of ours
    if (rc != ERROR_SUCCESS) return false;
    win32::UniqueRegKey instance;
    if (RegOpenKeyExA(ports.get(), name, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, instance.put()) != ERROR_SUCCESS)
      continue;
    if (!IsVirtualPortNode(instance.get())) continue;
    win32::UniqueRegKey params;
    if (RegOpenKeyExA(instance.get(), "Device Parameters", 0, KEY_QUERY_VALUE | KEY_SET_VALUE, params.put()) !=
        ERROR_SUCCESS)
      continue;
    if (visit(name, instance.get(), params.get())) return true;
  }
}

void SetString(HKEY key, const char* name, const std::string& text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}

}  // namespace

void SetInstallKitRunner(InstallKitRunner runner) { g_installKit.store(runner); }

bool RunInstallKit(const char* command) {
  InstallKitRunner runner = g_installKit.load();
  return runner ? runner(command) : DeviceInstallKit(command);
}

void SetBindRetryPauseMs(unsigned ms) { g_bindPauseMs.store(ms); }

void AddSerialPort(uint32_t serial) {
  PNP_TRACE_SCOPE("AddSerialPort");
  PNP_TRACE(kTraceInfo, "args: %lu", static_cast<unsigned long>(serial));
  win32::UniqueRegKey config;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, shared::kConfigKeyPath, 0, KEY_READ | shared::kRegistryView, config.put()) !=
      ERROR_SUCCESS)
    return;
  int port = 0;
  for (int number = 0; number < shared::kDeviceNumberCount && port == 0; ++number) {
    win32::UniqueRegKey slot;
    std::string name = shared::DeviceNumberKeyName(static_cast<uint8_t>(number));
    if (RegOpenKeyExA(config.get(), name.c_str(), 0, KEY_READ | shared::kRegistryView, slot.put()) != ERROR_SUCCESS)
      break;  // numbers are contiguous
    DWORD usbId = 0, serialPort = 0;
    if (ReadDword(slot.get(), shared::kUsbIdValueName, usbId) && SameSerial(usbId, serial) &&
        ReadDword(slot.get(), shared::kSerialPortValueName, serialPort) && serialPort != 0)
      port = static_cast<int>(serialPort);
  }
  if (port == 0) return;
  PNP_TRACE(kTraceInfo, "SerialPort %d found", port);

  if (IsComPortInUse(port)) {
    ReportServiceError("COM port already existent");
    return;
  }
  std::string command = std::string("install ") + kVirtualPortInf + " " + kVirtualPortHardwareId;
  if (!RunInstallKit(command.c_str())) return;
  // The node the kit creates need not be in the registry when the kit returns.
  for (int attempt = 0; attempt < kBindTries; ++attempt) {
    Sleep(g_bindPauseMs.load());
    if (BindVirtualPort(serial, port)) break;
  }
}

bool BindVirtualPort(uint32_t serial, int port) {
  return ForEachVirtualPortNode([&](const char* name, HKEY instance, HKEY params) {
    if (ValueExists(params, "DeviceId")) return false;  // taken, whatever the value holds
    DWORD type = 0;
    char oldName[51] = {};
    DWORD oldSize = sizeof(oldName) - 1;
    if (RegQueryValueExA(params, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(oldName), &oldSize) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
      oldName[0] = 0;

    DWORD id = serial;
    RegSetValueExA(params, "DeviceId", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&id), sizeof(id));
    char portName[32];
    snprintf(portName, sizeof(portName), "COM%d", port);
    SetString(params, "PortName", portName);
    char friendly[64];
    snprintf(friendly, sizeof(friendly), "VELTRA Virtual COM Port (COM%d)", port);
    SetString(instance, "FriendlyName", friendly);

    std::string restart = std::string("restart @ROOT\\PORTS\\") + name;
    RunInstallKit(restart.c_str());
    if (std::strcmp(oldName, portName) != 0) {
      int oldPort = (_strnicmp(oldName, "COM", 3) == 0) ? std::atoi(oldName + 3) : 0;
      ModifyComDB(port, oldPort);
    }
    return true;
  });
}

void RemoveVirtualPort(uint32_t serial) {
  ForEachVirtualPortNode([&](const char* name, HKEY, HKEY params) {
    DWORD id = 0;
    if (!ReadDword(params, "DeviceId", id) || !SameSerial(id, serial)) return false;
    std::string remove = std::string("remove @ROOT\\PORTS\\") + name;
    RunInstallKit(remove.c_str());
    return true;
  });
}

bool IsComPortInUse(int port) {
  ComDatabase db;
  if (!db.opened()) return false;
  DWORD maxPorts = 0;
  std::vector<BYTE> bits;
  if (!db.ReadUsage(maxPorts, bits)) return false;
  if (port < 1 || static_cast<DWORD>(port) > maxPorts) return false;
  int bit = port - 1;
  return (bits[bit / 8] >> (bit % 8)) & 1;
}

void TraceCurrentPortUsage() {
  if (TraceThreshold() < kTraceInfo) return;  // nothing would be written
  ComDatabase db;
  if (!db.opened()) return;
  DWORD maxPorts = 0;
  std::vector<BYTE> bits;
  if (!db.ReadUsage(maxPorts, bits)) return;
  PNP_TRACE(kTraceInfo, "Max Ports: %lu", static_cast<unsigned long>(maxPorts));
  for (DWORD bit = 0; bit < maxPorts; ++bit)
    if ((bits[bit / 8] >> (bit % 8)) & 1) PNP_TRACE(kTraceInfo, "COM%lu in use", static_cast<unsigned long>(bit + 1));
}

void ModifyComDB(int newPort, int oldPort) {
  PNP_TRACE_SCOPE("ModifyComDB");
  PNP_TRACE(kTraceInfo, "args: new=%d, old=%d", newPort, oldPort);
  TraceCurrentPortUsage();
  {
    ComDatabase db;
    if (db.opened()) {
      // A node that had no COM name yet has nothing to release.
      LONG rc = oldPort > 0 ? db.Release(oldPort) : ERROR_SUCCESS;
      if (rc != ERROR_SUCCESS) {
        PNP_TRACE(kTraceError, "ComDBReleasePort(%d) failed (code: %ld)", oldPort, rc);
      } else {
        rc = db.Claim(newPort);
        if (rc != ERROR_SUCCESS) PNP_TRACE(kTraceError, "ComDBClaimPort(%d) failed (code: %ld)", newPort, rc);
      }
    }
  }
  TraceCurrentPortUsage();
}

}  // namespace pnpsvc
