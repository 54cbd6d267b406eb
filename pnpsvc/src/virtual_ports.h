// Virtual COM ports: one root-enumerated ports-class node per attached
// adapter whose device number has a "SerialPort" configured, bound to the
// adapter by the node's "DeviceId", and kept in step with the system's COM
// port database (msports, loaded at run time).
#pragma once

#include <cstdint>

namespace pnpsvc {

constexpr const char kVirtualPortHardwareId[] = "vtVCP\\VirtualSerial";
constexpr const char kVirtualPortInf[] = "vtVCP.inf";
constexpr const char kPortsEnumKeyPath[] = "SYSTEM\\CurrentControlSet\\Enum\\ROOT\\PORTS";

// The install kit the ports use; DeviceInstallKit unless a test replaces it.
using InstallKitRunner = bool (*)(const char* command);
void SetInstallKitRunner(InstallKitRunner runner);
bool RunInstallKit(const char* command);

// Pause between tries to bind the node that the install kit created.
void SetBindRetryPauseMs(unsigned ms);

void AddSerialPort(uint32_t serial);
bool BindVirtualPort(uint32_t serial, int port);
void RemoveVirtualPort(uint32_t serial);
bool IsComPortInUse(int port);
void ModifyComDB(int newPort, int oldPort);
void TraceCurrentPortUsage();

}  // namespace pnpsvc
