// Device install kit: a small command interpreter over SetupAPI and newdev
// that installs, restarts and removes device nodes.
//
//   install <inf> <hardware id>
//   remove  [=Class] pattern...     restart [=Class] pattern...
//
// A pattern "*" matches every device; "@..." matches instance ids, anything
// else hardware and compatible ids; a leading "'" (after the "@") makes the
// rest literal, otherwise "*" is a wildcard. Matching ignores case. The kit
// answers only true or false; its messages go to the trace.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace pnpsvc {

bool DeviceInstallKit(const char* command);

namespace installkit {

// Splits a command string into arguments: spaces and tabs separate outside
// double quotes; a quote toggles quoting and is dropped; "" inside quotes is
// one literal quote.
bool CreateCommandLine(const char* text, std::vector<std::string>& args);

// Case-insensitive match of an id against a pattern with "*" wildcards.
bool WildcardMatch(const std::string& id, const std::string& pattern);

// Replaces the class-installer calls that remove or restart one matched
// device ("remove" or "restart", instance id) -- for tests on platforms whose
// SetupAPI cannot run them (Wine). Null restores the real calls.
using DeviceActionHook = bool (*)(const char* action, const std::string& instanceId);
void SetDeviceActionHook(DeviceActionHook hook);

// Replaces newdev's UpdateDriverForPlugAndPlayDevicesA -- for tests on
// platforms whose newdev cannot install a driver (Wine). Null restores it.
using DriverUpdateFunction = BOOL(WINAPI*)(HWND window, LPCSTR hardwareId, LPCSTR fullInfPath, DWORD flags,
                                           PBOOL reboot);
void SetDriverUpdateHook(DriverUpdateFunction update);

bool cmdInstall(int argc, char** argv);
bool cmdUpdate(int argc, char** argv);
bool cmdRemove(int argc, char** argv);
bool cmdRestart(int argc, char** argv);

}  // namespace installkit
}  // namespace pnpsvc
