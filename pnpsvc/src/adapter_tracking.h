// Adapter tracking: the list of attached adapters under EnumKey (path ->
// serial), kept at start-up, on arrival and on removal, and the re-creation
// of every virtual COM port on request.
//
// Arrival and removal run on the control handler's thread, the start-up
// enumeration and the pipe requests on the service-main thread. Everything
// that writes EnumKey, ConfigKey or the virtual COM port nodes holds
// ServiceWorkLock(), so that the two threads never bind or remove a port
// node under each other's feet.
#pragma once

#include <windows.h>
#include <winusb.h>

#include <cstdint>
#include <string>

#include "win32/unique_handle.h"

namespace pnpsvc {

win32::CriticalSection& ServiceWorkLock();

// The WinUSB entry points, taken from "winusb" at service start.
struct WinUsbApi {
  using InitializeFn = BOOL(WINAPI*)(HANDLE, void**);
  using FreeFn = BOOL(WINAPI*)(void*);
  using ControlTransferFn = BOOL(WINAPI*)(void*, WINUSB_SETUP_PACKET, UCHAR*, ULONG, ULONG*, OVERLAPPED*);
  using GetDescriptorFn = BOOL(WINAPI*)(void*, UCHAR, UCHAR, USHORT, UCHAR*, ULONG, ULONG*);

  win32::UniqueModule module;
  InitializeFn Initialize = nullptr;
  FreeFn Free = nullptr;
  ControlTransferFn ControlTransfer = nullptr;
  GetDescriptorFn GetDescriptor = nullptr;

  enum class LoadResult { kLoaded, kNoModule, kMissingEntry };
  LoadResult Load();
  bool complete() const { return Initialize && Free && ControlTransfer && GetDescriptor; }
};

// Deletes EnumKey (creating its non-volatile parent when missing).
void DeleteEnumKey();
// Records every present adapter and gives it its virtual COM port.
void EnumerateDevices(const WinUsbApi& usb);
// The adapter's 16-bit serial (vendor request shared::kReqSerial), 0 on any failure.
uint16_t ReadDeviceSerial(const WinUsbApi& usb, const char* path);
// Arrival and removal of an adapter interface; both pulse pnpEvent.
void OnDeviceArrival(const WinUsbApi& usb, const std::string& path, HANDLE pnpEvent);
void OnDeviceRemoval(const std::string& path, HANDLE pnpEvent);
// The ANSI path of a notification's wide interface name (at most 1000
// characters); false for a name that does not fit.
bool InterfaceNameToPath(const wchar_t* name, std::string& path);
// Removes every virtual COM port node and re-creates one per EnumKey value.
void RenumerateDevices();

}  // namespace pnpsvc
