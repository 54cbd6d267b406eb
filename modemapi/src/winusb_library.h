// WinUSB, loaded at run time from the system folder.
//
// One module per process, shared by every device object: the first object
// loads it, each object that got it counts one reference, the last one frees
// it. The entry points are declared here from WinUSB's documented signatures
// (stdcall, the setup packet passed by value).
#pragma once

#include <windows.h>

#include "shared/adapter_protocol.h"

namespace modemapi {

using WinUsbInterfaceHandle = void*;

using WinUsbInitializeFn = BOOL(WINAPI*)(HANDLE deviceHandle, WinUsbInterfaceHandle* interfaceHandle);
using WinUsbFreeFn = BOOL(WINAPI*)(WinUsbInterfaceHandle interfaceHandle);
using WinUsbGetDescriptorFn = BOOL(WINAPI*)(WinUsbInterfaceHandle interfaceHandle, UCHAR descriptorType,
                                            UCHAR index, USHORT languageId, PUCHAR buffer,
                                            ULONG bufferLength, PULONG lengthTransferred);
using WinUsbControlTransferFn = BOOL(WINAPI*)(WinUsbInterfaceHandle interfaceHandle, shared::SetupPacket setup,
                                              PUCHAR buffer, ULONG bufferLength,
                                              PULONG lengthTransferred, LPOVERLAPPED overlapped);

struct WinUsbEntryPoints {
  WinUsbInitializeFn initialize = nullptr;
  WinUsbFreeFn free = nullptr;
  WinUsbGetDescriptorFn getDescriptor = nullptr;
  WinUsbControlTransferFn controlTransfer = nullptr;
};

// Loads WinUSB if it is not loaded yet and counts one reference. False (and
// no reference) when the module or one of its four entry points is missing.
bool AcquireWinUsb(WinUsbEntryPoints* entryPoints);

// Gives back a reference taken by AcquireWinUsb; the last frees the module.
void ReleaseWinUsb();

// What the process holds of WinUSB right now (for tests): whether the module
// is loaded, how many device objects hold it, how often it has been loaded.
struct WinUsbUse {
  bool loaded = false;
  unsigned references = 0;
  unsigned loads = 0;
};
WinUsbUse QueryWinUsbUse();

}  // namespace modemapi
