// Recording double of the device install kit (see README.md).
#pragma once

#include <string>
#include <vector>

namespace installkit_double {

// The kit's entry: records the command and emulates it on the registry.
bool Run(const char* command);

// Forgets the record, removes every ROOT\PORTS node and restores defaults.
void Reset();
std::vector<std::string> Commands();
void SetInstallFails(bool fails);
// Port name the system gives a new node ("" for none); default "COM7".
void SetSystemPortName(const std::string& name);

// Instance names under ROOT\PORTS whose first hardware id is `hardwareId`.
std::vector<std::string> Nodes(const std::string& hardwareId);

}  // namespace installkit_double
