// The simulated adapters of this process, by serial, and the live WinUSB
// interface handles that point at them.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "adapter.h"

namespace sim {

using AdapterPtr = std::shared_ptr<Adapter>;

// Makes (or replaces) the adapter of this serial; a replaced adapter is
// unplugged so that its open handles fail.
AdapterPtr CreateAdapter(uint16_t serial, const std::wstring& path);
AdapterPtr FindAdapter(uint16_t serial);
// The adapter of this serial, made from the description when this process
// has none yet.
AdapterPtr AdapterForDescription(const AdapterDescription& description);
bool RemoveAdapter(uint16_t serial);
void RemoveAllAdapters();

// Rewrites the adapter's device file from its state (best effort).
void RewriteDeviceFile(Adapter& adapter);

// WinUSB interface handles: an opaque pointer that names one adapter.
void* OpenInterface(const AdapterPtr& adapter);
AdapterPtr AdapterOfInterface(void* handle);
bool CloseInterface(void* handle);

}  // namespace sim
