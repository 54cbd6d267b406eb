// Simulated adapters that Wine's SetupAPI reports as present (see README.md).
#pragma once

#include <string>

namespace adapter_presence {

struct PresentAdapter {
  std::string interfacePath;  // as SetupAPI reports it
  std::wstring deviceFile;    // the file CreateFileA(interfacePath) opens
};

// `name` becomes the last part of the device instance id (letters and digits).
bool RegisterPresentAdapter(const std::string& name, PresentAdapter* adapter);
bool SetAdapterLinked(const std::string& interfacePath, bool linked);

}  // namespace adapter_presence
