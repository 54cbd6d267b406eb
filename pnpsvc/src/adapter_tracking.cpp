#include "adapter_tracking.h"

#include <setupapi.h>

#include <cstring>
#include <vector>

#include "shared/adapter_interface.h"
#include "shared/adapter_protocol.h"
#include "shared/registry_layout.h"
#include "shared/system_library.h"
#include "trace.h"
#include "unique_dev_info_list.h"
#include "virtual_ports.h"

namespace pnpsvc {

namespace {

constexpr size_t kMaxPathChars = 1000;

// Creates or opens the parent of ConfigKey and EnumKey, non-volatile.
bool OpenAdapterRootKey(win32::UniqueRegKey& root) {
  return RegCreateKeyExA(HKEY_LOCAL_MACHINE, shared::kAdapterRootKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS | shared::kRegistryView, nullptr, root.put(), nullptr) == ERROR_SUCCESS;
}

// Creates or opens EnumKey, volatile, in the 32-bit view. The parent is made
// first and non-volatile: created in one step, every missing level would be
// volatile, and no non-volatile ConfigKey could be created under it again.
bool OpenEnumKeyForWrite(win32::UniqueRegKey& key) {
  win32::UniqueRegKey root;
  if (!OpenAdapterRootKey(root)) return false;
  return RegCreateKeyExA(root.get(), shared::kEnumSubkeyName, 0, nullptr, REG_OPTION_VOLATILE,
                         KEY_ALL_ACCESS | shared::kRegistryView, nullptr, key.put(), nullptr) == ERROR_SUCCESS;
}

void RecordAdapter(const std::string& path, uint16_t serial) {
  win32::UniqueRegKey key;
  if (!OpenEnumKeyForWrite(key)) return;
  DWORD data = serial;
  RegSetValueExA(key.get(), path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

}  // namespace

win32::CriticalSection& ServiceWorkLock() {
  static win32::CriticalSection lock;
  return lock;
}

WinUsbApi::LoadResult WinUsbApi::Load() {
  module.reset(shared::LoadSystemLibrary(L"winusb.dll"));
  if (!module) return LoadResult::kNoModule;
  auto proc = [this](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module.get(), name)); };
  Initialize = reinterpret_cast<InitializeFn>(proc("WinUsb_Initialize"));
  Free = reinterpret_cast<FreeFn>(proc("WinUsb_Free"));
  ControlTransfer = reinterpret_cast<ControlTransferFn>(proc("WinUsb_ControlTransfer"));
  GetDescriptor = reinterpret_cast<GetDescriptorFn>(proc("WinUsb_GetDescriptor"));
  if (complete()) return LoadResult::kLoaded;
  *this = WinUsbApi();  // a module without every entry point is not kept loaded
  return LoadResult::kMissingEntry;
}

void DeleteEnumKey() {
  win32::UniqueRegKey root;
  if (!OpenAdapterRootKey(root)) return;
  RegDeleteKeyExA(root.get(), shared::kEnumSubkeyName, shared::kRegistryView, 0);
}

uint16_t ReadDeviceSerial(const WinUsbApi& usb, const char* path) {
  if (!usb.complete()) return 0;
  win32::UniqueFile file(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
  if (!file) return 0;
  void* usbHandle = nullptr;
  if (!usb.Initialize(file.get(), &usbHandle)) return 0;

  uint16_t serial = 0;
  UCHAR descriptor[18];
  ULONG got = 0;
  if (usb.GetDescriptor(usbHandle, 1, 0, 0, descriptor, sizeof(descriptor), &got)) {
    WINUSB_SETUP_PACKET packet = {};
    packet.RequestType = shared::kRequestTypeIn;
    packet.Request = shared::kReqSerial;
    packet.Length = 2;
    UCHAR data[2] = {};
    ULONG transferred = 0;
    if (usb.ControlTransfer(usbHandle, packet, data, sizeof(data), &transferred, nullptr) && transferred == 2)
      serial = static_cast<uint16_t>(data[0] | (data[1] << 8));
  }
  usb.Free(usbHandle);
  return serial;
}

void EnumerateDevices(const WinUsbApi& usb) {
  win32::CsLock lock(ServiceWorkLock());
  TraceCurrentPortUsage();
  UniqueDevInfoList list(
      SetupDiGetClassDevsA(&shared::AdapterInterfaceGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!list) return;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA iface = {};
    iface.cbSize = sizeof(iface);
    if (!SetupDiEnumDeviceInterfaces(list.get(), nullptr, &shared::AdapterInterfaceGuid, index, &iface)) break;
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(list.get(), &iface, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) break;
    std::vector<BYTE> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(list.get(), &iface, detail, size, nullptr, nullptr)) break;
    std::string path = detail->DevicePath;
    uint16_t serial = ReadDeviceSerial(usb, path.c_str());
    PNP_TRACE(kTraceInfo, "EnumerateDevices: %s (serial: %u)", path.c_str(), serial);
    RecordAdapter(path, serial);
    AddSerialPort(serial);
  }
}

bool InterfaceNameToPath(const wchar_t* name, std::string& path) {
  char buffer[kMaxPathChars + 1];
  int n = WideCharToMultiByte(CP_ACP, 0, name, -1, buffer, sizeof(buffer), nullptr, nullptr);
  if (n <= 0) return false;  // too long or not convertible: recording a cut path would mislead readers
  path = buffer;
  return true;
}

void OnDeviceArrival(const WinUsbApi& usb, const std::string& path, HANDLE pnpEvent) {
  {
    win32::CsLock lock(ServiceWorkLock());
    uint16_t serial = ReadDeviceSerial(usb, path.c_str());
    // Arrival and removal are traced as part of the control handler that runs them.
    Trace(TraceRecord{kTraceInfo, "service_ctrl_ex", __LINE__}, "DeviceArrival: %s (serial: %u)", path.c_str(),
          serial);
    RecordAdapter(path, serial);
    AddSerialPort(serial);
  }
  if (pnpEvent) PulseEvent(pnpEvent);
}

void OnDeviceRemoval(const std::string& path, HANDLE pnpEvent) {
  {
    win32::CsLock lock(ServiceWorkLock());
    win32::UniqueRegKey key;
    if (OpenEnumKeyForWrite(key)) {
      DWORD serial = 0, type = 0, size = sizeof(serial);
      bool found = RegQueryValueExA(key.get(), path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&serial),
                                    &size) == ERROR_SUCCESS &&
                   type == REG_DWORD;
      Trace(TraceRecord{kTraceInfo, "service_ctrl_ex", __LINE__}, "DeviceRemoveComplete: %s (serial: %lu)",
            path.c_str(), static_cast<unsigned long>(found ? serial : 0));
      if (found) RemoveVirtualPort(serial);
      RegDeleteValueA(key.get(), path.c_str());
    }
  }
  if (pnpEvent) PulseEvent(pnpEvent);
}

void RenumerateDevices() {
  win32::CsLock lock(ServiceWorkLock());
  std::string removeAll = std::string("remove ") + kVirtualPortHardwareId;
  RunInstallKit(removeAll.c_str());
  win32::UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, shared::kEnumKeyPath, 0, KEY_READ | shared::kRegistryView, key.put()) !=
      ERROR_SUCCESS)
    return;
  for (DWORD index = 0;; ++index) {
    char name[500];
    DWORD nameSize = sizeof(name), type = 0, serial = 0, dataSize = sizeof(serial);
    if (RegEnumValueA(key.get(), index, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(&serial),
                      &dataSize) != ERROR_SUCCESS)
      break;
    if (type != REG_DWORD) continue;
    PNP_TRACE(kTraceInfo, "RenumerateDevices: %s (serial: %lu)", name, static_cast<unsigned long>(serial));
    AddSerialPort(serial);
  }
}

}  // namespace pnpsvc
