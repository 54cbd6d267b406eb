#include "winusb_library.h"

#include <utility>

#include "shared/system_library.h"
#include "win32/unique_handle.h"

namespace modemapi {

namespace {

// Process-wide WinUSB state. The lock is created with the library's static
// data when the library is attached to a process, before any export runs.
struct WinUsbModule {
  win32::CriticalSection lock;
  win32::UniqueModule module;
  WinUsbEntryPoints entryPoints;
  unsigned references = 0;
  unsigned loads = 0;
};

WinUsbModule g_winUsb;

template <typename Fn>
bool LookUp(HMODULE module, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  return *fn != nullptr;
}

// Called under the lock.
bool LoadWinUsb() {
  if (g_winUsb.module) return true;
  win32::UniqueModule module(shared::LoadSystemLibrary(L"winusb.dll"));
  if (!module) return false;
  WinUsbEntryPoints entryPoints;
  if (!LookUp(module.get(), "WinUsb_Initialize", &entryPoints.initialize) ||
      !LookUp(module.get(), "WinUsb_Free", &entryPoints.free) ||
      !LookUp(module.get(), "WinUsb_GetDescriptor", &entryPoints.getDescriptor) ||
      !LookUp(module.get(), "WinUsb_ControlTransfer", &entryPoints.controlTransfer)) {
    return false;  // the module is freed on the way out
  }
  g_winUsb.module = std::move(module);
  g_winUsb.entryPoints = entryPoints;
  ++g_winUsb.loads;
  return true;
}

}  // namespace

bool AcquireWinUsb(WinUsbEntryPoints* entryPoints) {
  win32::CsLock lock(g_winUsb.lock);
  if (!LoadWinUsb()) return false;
  ++g_winUsb.references;
  *entryPoints = g_winUsb.entryPoints;
  return true;
}

void ReleaseWinUsb() {
  win32::CsLock lock(g_winUsb.lock);
  if (g_winUsb.references == 0) return;
  if (--g_winUsb.references == 0) {
    g_winUsb.entryPoints = WinUsbEntryPoints();
    g_winUsb.module.reset();
  }
}

WinUsbUse QueryWinUsbUse() {
  win32::CsLock lock(g_winUsb.lock);
  WinUsbUse use;
  use.loaded = g_winUsb.module.valid();
  use.references = g_winUsb.references;
  use.loads = g_winUsb.loads;
  return use;
}

}  // namespace modemapi
