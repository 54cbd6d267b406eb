// The four WinUSB entry points the adapter's users call, with WinUSB's
// calling convention and signatures. Transfers complete before the call
// returns, also when an OVERLAPPED is given.
#include <windows.h>

#include "device_file.h"
#include "registry.h"
#include "shared/adapter_protocol.h"

extern "C" {

// WinUSB's interface handle is an opaque pointer; its setup packet has the
// layout of shared::SetupPacket and is passed by value.
typedef void* WINUSB_INTERFACE_HANDLE;

__declspec(dllexport) BOOL WINAPI WinUsb_Initialize(HANDLE DeviceHandle, WINUSB_INTERFACE_HANDLE* InterfaceHandle);
__declspec(dllexport) BOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE InterfaceHandle);
__declspec(dllexport) BOOL WINAPI WinUsb_GetDescriptor(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR DescriptorType,
                                                       UCHAR Index, USHORT LanguageID, PUCHAR Buffer,
                                                       ULONG BufferLength, PULONG LengthTransferred);
__declspec(dllexport) BOOL WINAPI WinUsb_ControlTransfer(WINUSB_INTERFACE_HANDLE InterfaceHandle,
                                                         shared::SetupPacket SetupPacket, PUCHAR Buffer,
                                                         ULONG BufferLength, PULONG LengthTransferred,
                                                         LPOVERLAPPED Overlapped);

}  // extern "C"

namespace {

BOOL Fail(DWORD error) {
    ::SetLastError(error);
    return FALSE;
}

// Reports a transfer that already finished through the caller's OVERLAPPED.
void CompleteOverlapped(LPOVERLAPPED overlapped, DWORD error, ULONG transferred) {
    if (!overlapped) return;
    overlapped->Internal = error ? 0xC0000001 /* STATUS_UNSUCCESSFUL */ : 0;
    overlapped->InternalHigh = transferred;
    if (overlapped->hEvent) ::SetEvent(overlapped->hEvent);
}

}  // namespace

BOOL WINAPI WinUsb_Initialize(HANDLE DeviceHandle, WINUSB_INTERFACE_HANDLE* InterfaceHandle) {
    if (!InterfaceHandle) return Fail(ERROR_INVALID_PARAMETER);
    *InterfaceHandle = nullptr;
    if (!DeviceHandle || DeviceHandle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);

    std::string text;
    sim::AdapterDescription description;
    if (!sim::ReadDescriptionFromHandle(DeviceHandle, text) || !sim::ParseDescription(text, description))
        return Fail(ERROR_INVALID_FUNCTION);  // not one of our device files

    // A test made this adapter in this process: its state counts, not the file.
    sim::AdapterPtr adapter = sim::FindAdapter(description.serial);
    if (!adapter || adapter->path().empty()) adapter = sim::AdapterForDescription(description);
    if (!adapter->present()) return Fail(adapter->goneError());

    *InterfaceHandle = sim::OpenInterface(adapter);
    return TRUE;
}

BOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE InterfaceHandle) {
    if (!sim::CloseInterface(InterfaceHandle)) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL WINAPI WinUsb_GetDescriptor(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR DescriptorType, UCHAR Index,
                                 USHORT LanguageID, PUCHAR Buffer, ULONG BufferLength, PULONG LengthTransferred) {
    sim::AdapterPtr adapter = sim::AdapterOfInterface(InterfaceHandle);
    if (!adapter) return Fail(ERROR_INVALID_HANDLE);
    ULONG transferred = 0;
    const DWORD error = adapter->GetDescriptor(DescriptorType, Index, LanguageID, Buffer, BufferLength, transferred);
    if (LengthTransferred) *LengthTransferred = transferred;
    return error ? Fail(error) : TRUE;
}

BOOL WINAPI WinUsb_ControlTransfer(WINUSB_INTERFACE_HANDLE InterfaceHandle, shared::SetupPacket SetupPacket,
                                   PUCHAR Buffer, ULONG BufferLength, PULONG LengthTransferred,
                                   LPOVERLAPPED Overlapped) {
    sim::AdapterPtr adapter = sim::AdapterOfInterface(InterfaceHandle);
    if (!adapter) return Fail(ERROR_INVALID_HANDLE);
    ULONG transferred = 0;
    const DWORD error = adapter->ControlTransfer(SetupPacket, Buffer, BufferLength, transferred);
    if (LengthTransferred) *LengthTransferred = transferred;
    CompleteOverlapped(Overlapped, error, transferred);
    return error ? Fail(error) : TRUE;
}
