#include "service_control.h"

#include <dbt.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>

#include "adapter_tracking.h"
#include "device_notices.h"
#include "pipe_server.h"
#include "shared/adapter_interface.h"
#include "shared/named_events.h"
#include "shared/service_pipe.h"
#include "trace.h"
#include "virtual_ports.h"
#include "win32/callback_guard.h"
#include "win32/unique_handle.h"

namespace pnpsvc {
namespace {

constexpr DWORD kStartWaitHintMs = 3000;
// A stop waits for the device notice in hand, at worst a virtual COM port
// install with its binding tries.
constexpr DWORD kStopWaitHintMs = 10000;

struct LocalMemoryTraits {
  using type = HLOCAL;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr; }
  static void close(type h) { LocalFree(h); }
};
using UniqueLocalMemory = win32::UniqueResource<LocalMemoryTraits>;

struct DeviceNotifyTraits {
  using type = HDEVNOTIFY;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr; }
  static void close(type h) { UnregisterDeviceNotification(h); }
};

// State shared by the service-main thread and the control handler's thread.
struct ServiceState {
  win32::CriticalSection statusLock;  // the status record is written by both threads
  SERVICE_STATUS_HANDLE statusHandle = nullptr;
  SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
  HANDLE stopEvent = nullptr;  // guarded by statusLock
  WinUsbApi usb;               // read by the device notice worker while it runs
  DWORD startError = 0;        // why the start ended early when no event-log report says so
};
ServiceState g_service;

void PrintErrorLine(const char* format) { printf(format, GetLastErrorText().c_str()); }

// Everybody may wait on the plug-and-play event; only the service and
// administrators may change it.
constexpr const char kPnpEventSecurity[] = "D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100000;;;WD)";

}  // namespace

std::string GetLastErrorText() {
  DWORD error = GetLastError();
  char buffer[256];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                LANG_NEUTRAL, buffer, sizeof(buffer), nullptr);
  if (length == 0 || length + 14 > sizeof(buffer)) return {};
  std::string text(buffer, length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  char code[16];
  snprintf(code, sizeof(code), " (0x%lx)", static_cast<unsigned long>(error));
  return text + code;
}

void InstallService() {
  char path[512];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (length == 0 || length >= sizeof(path)) {
    if (length >= sizeof(path)) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    printf("Unable to install %s - %s\n", kDisplayName, GetLastErrorText().c_str());
    return;
  }
  win32::UniqueServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm) {
    PrintErrorLine("OpenSCManager failed - %s\n");
    return;
  }
  // Quoted, so that a path with blanks cannot be read as a shorter program.
  std::string command = std::string("\"") + path + "\"";
  win32::UniqueServiceHandle service(CreateServiceA(
      scm.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
      SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, "\0\0", nullptr, nullptr));
  if (!service) {
    PrintErrorLine("CreateService failed - %s\n");
    return;
  }
  printf("%s installed.\n", kDisplayName);
}

void RemoveService() {
  win32::UniqueServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm) {
    PrintErrorLine("OpenSCManager failed - %s\n");
    return;
  }
  win32::UniqueServiceHandle service(OpenServiceA(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
  if (!service) {
    PrintErrorLine("OpenService failed - %s\n");
    return;
  }
  SERVICE_STATUS status = {};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    printf("Stopping %s.", kDisplayName);
    fflush(stdout);
    Sleep(1000);
    while (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOP_PENDING) {
      printf(".");
      fflush(stdout);
      Sleep(1000);
    }
    if (status.dwCurrentState == SERVICE_STOPPED)
      printf("\n%s stopped.\n", kDisplayName);
    else
      printf("\n%s failed to stop.\n", kDisplayName);
  }
  if (DeleteService(service.get()))
    printf("%s removed.\n", kDisplayName);
  else
    PrintErrorLine("DeleteService failed - %s\n");
}

CommandLineAction ParseCommandLine(int argc, char** argv) {
  if (argc > 1 && argv[1] && (argv[1][0] == '-' || argv[1][0] == '/')) {
    if (_stricmp(argv[1] + 1, "install") == 0) return CommandLineAction::kInstall;
    if (_stricmp(argv[1] + 1, "remove") == 0) return CommandLineAction::kRemove;
  }
  return CommandLineAction::kRunService;
}

bool ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint) {
  win32::CsLock lock(g_service.statusLock);
  SERVICE_STATUS& s = g_service.status;
  s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  s.dwCurrentState = state;
  // Shutdown is taken as a stop, so that port nodes do not outlive a reboot.
  s.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  s.dwWin32ExitCode = exitCode;
  s.dwServiceSpecificExitCode = 0;
  s.dwWaitHint = waitHint;
  if (state == SERVICE_RUNNING || state == SERVICE_STOPPED)
    s.dwCheckPoint = 0;
  else
    ++s.dwCheckPoint;
  if (!g_service.statusHandle || !SetServiceStatus(g_service.statusHandle, &s)) {
    ReportServiceError("SetServiceStatus failed");
    return false;
  }
  return true;
}

void ServiceStop() {
  PNP_TRACE_SCOPE("ServiceStop");
  win32::CsLock lock(g_service.statusLock);  // ServiceStart forgets the event under this lock before closing it
  if (g_service.stopEvent) SetEvent(g_service.stopEvent);
}

DWORD WINAPI service_ctrl_ex(DWORD control, DWORD eventType, void* eventData, void*) {
  const bool handled = win32::guard(false, [&] {
    PNP_TRACE_SCOPE("service_ctrl_ex");
    switch (control) {
      case SERVICE_CONTROL_STOP:
      case SERVICE_CONTROL_SHUTDOWN:
        ReportServiceStatus(SERVICE_STOP_PENDING, NO_ERROR, kStopWaitHintMs);
        ServiceStop();
        break;
      case SERVICE_CONTROL_DEVICEEVENT: {
        auto* header = static_cast<DEV_BROADCAST_HDR*>(eventData);
        if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) break;
        if (eventType != DBT_DEVICEARRIVAL && eventType != DBT_DEVICEREMOVECOMPLETE) break;
        auto* iface = static_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(eventData);
        std::string path;
        if (!InterfaceNameToPath(iface->dbcc_name, path)) break;
        // Carried out on the notice worker: the handler answers at once.
        PostDeviceNotice(eventType == DBT_DEVICEARRIVAL ? DeviceNotice::kArrival : DeviceNotice::kRemoval, path);
        break;
      }
      default:
        break;
    }
    DWORD state, exitCode, waitHint;
    {
      win32::CsLock lock(g_service.statusLock);
      state = g_service.status.dwCurrentState;
      exitCode = g_service.status.dwWin32ExitCode;
      waitHint = g_service.status.dwWaitHint;
    }
    ReportServiceStatus(state, exitCode, waitHint);
    return true;
  });
  // A stop that raised on its way still stops the service.
  if (!handled && (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN))
    win32::guard([] { ServiceStop(); });
  return NO_ERROR;
}

void ServiceStart() {
  PNP_TRACE_SCOPE("ServiceStart");
  SECURITY_ATTRIBUTES eventSa = {sizeof(eventSa), nullptr, FALSE};
  UniqueLocalMemory eventSd;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(kPnpEventSecurity, SDDL_REVISION_1,
                                                           reinterpret_cast<PSECURITY_DESCRIPTOR*>(eventSd.put()),
                                                           nullptr))
    eventSa.lpSecurityDescriptor = eventSd.get();
  win32::UniqueHandle pnpEvent(CreateEventA(&eventSa, TRUE, FALSE, shared::kServicePnpEventGlobalName));
  win32::UniqueHandle stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  {
    win32::CsLock lock(g_service.statusLock);
    g_service.stopEvent = stopEvent.get();
  }

  if (stopEvent && !StartDeviceNotices(&g_service.usb, pnpEvent.get())) {
    g_service.startError = GetLastError() ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
  } else if (stopEvent) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = shared::AdapterInterfaceGuid;
    win32::UniqueResource<DeviceNotifyTraits> notify(
        RegisterDeviceNotificationA(g_service.statusHandle, &filter, DEVICE_NOTIFY_SERVICE_HANDLE));
    if (!notify) {
      ReportServiceStatus(SERVICE_STOPPED, LastReportedError(), 0);
    } else {
      win32::UniqueHandle ioEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
      win32::UniqueFile pipe = CreateServicePipe();
      if (!pipe || !ioEvent) {
        ReportServiceError("Unable to create named pipe");
      } else if (ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0)) {
        ServiceLoop(pipe.get(), ioEvent.get(), stopEvent.get());
      }
    }
    // Before the events close: a late notice is dropped, never carried out
    // after EnumKey is gone.
    StopDeviceNotices();
  }
  win32::CsLock lock(g_service.statusLock);
  g_service.stopEvent = nullptr;
}

void WINAPI ServiceMain(DWORD, char**) {
  const bool ran = win32::guard(false, [&] {
    ReadTraceThresholdFromRegistry();
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      if (char* slash = std::strrchr(path, '\\')) *slash = 0;
      SetCurrentDirectoryA(path);
    }

    DeleteEnumKey();
    using RegisterFn = SERVICE_STATUS_HANDLE(WINAPI*)(LPCSTR, LPHANDLER_FUNCTION_EX, LPVOID);
    auto registerHandler = reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("advapi32"), "RegisterServiceCtrlHandlerExA")));

    WinUsbApi::LoadResult loaded = g_service.usb.Load();
    if (loaded == WinUsbApi::LoadResult::kLoaded) {
      EnumerateDevices(g_service.usb);
      if (registerHandler) g_service.statusHandle = registerHandler(kServiceName, service_ctrl_ex, nullptr);
      if (g_service.statusHandle && ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, kStartWaitHintMs))
        ServiceStart();
      DeleteEnumKey();
      std::string removeAll = std::string("remove ") + kVirtualPortHardwareId;
      RunInstallKit(removeAll.c_str());
    } else {
      // Without WinUSB there is nothing to track; say so to the service control
      // manager instead of leaving the service start-pending.
      if (registerHandler) g_service.statusHandle = registerHandler(kServiceName, service_ctrl_ex, nullptr);
      if (g_service.statusHandle)
        ReportServiceStatus(SERVICE_STOPPED,
                            loaded == WinUsbApi::LoadResult::kNoModule ? ERROR_MOD_NOT_FOUND : ERROR_PROC_NOT_FOUND, 0);
      g_service.usb = WinUsbApi();
      return true;
    }

    g_service.usb = WinUsbApi();  // the notice worker has ended
    if (g_service.statusHandle)
      ReportServiceStatus(SERVICE_STOPPED, g_service.startError ? g_service.startError : LastReportedError(), 0);
    return true;
  });
  if (ran) return;
  // Something raised on the way (an allocation): the notice worker ends,
  // the stop event is forgotten and the manager learns that the service
  // stopped.
  win32::guard([] {
    StopDeviceNotices();
    {
      win32::CsLock lock(g_service.statusLock);
      g_service.stopEvent = nullptr;
    }
    g_service.usb = WinUsbApi();
    if (g_service.statusHandle) ReportServiceStatus(SERVICE_STOPPED, ERROR_NOT_ENOUGH_MEMORY, 0);
  });
}

int ServiceProgramMain(int argc, char** argv) {
  switch (ParseCommandLine(argc, argv)) {
    case CommandLineAction::kInstall:
      InstallService();
      return 0;
    case CommandLineAction::kRemove:
      RemoveService();
      return 0;
    case CommandLineAction::kRunService:
      break;
  }
  char name[sizeof(kServiceName)];
  std::memcpy(name, kServiceName, sizeof(name));
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) ReportServiceError("StartServiceCtrlDispatcher failed.");
  return 0;
}

}  // namespace pnpsvc
