// The run-time binding of the modem interface library modemapi.dll.
//
// The DTM never links the library: each user of the adapter (the channel,
// the driver configuration control, the DTM's configured-device check) holds
// one CHartDriverApi by value and binds it with Load. The entry points are
// typed from the library's own header, so the i686 build calls them with the
// library's calling convention.
//
// Declared here by agreement between the DTM object and the channel;
// implemented in modem/modem_binding.cpp.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "modemapi/modemapi.h"

class CHartDriverApi {
 public:
  using DeviceInitFn = decltype(&vtHART_DeviceInit);
  using SetParamFn = decltype(&vtHART_SetParam);
  using StartMessageHandlerFn = decltype(&vtHART_StartMessageHandler);
  using StopMessageHandlerFn = decltype(&vtHART_StopMessageHandler);
  using CloseDeviceFn = decltype(&vtHART_CloseDevice);
  using ReceiveFn = decltype(&vtHART_Receive);
  using SendFn = decltype(&vtHART_Send);
  using GetParamFn = decltype(&vtHART_GetParam);
  using GetDriverConfigurationFn = decltype(&vtHART_GetDriverConfiguration);
  using SetDriverConfigurationFn = decltype(&vtHART_SetDriverConfiguration);
  using AttachedDevicesFn = decltype(&vtHART_AttachedDevices);
  using NotifyPnPFn = decltype(&vtHART_NotifyPnP);

  CHartDriverApi() = default;
  // Frees the library whatever the count (Unload).
  ~CHartDriverApi();
  CHartDriverApi(const CHartDriverApi&) = delete;
  CHartDriverApi& operator=(const CHartDriverApi&) = delete;

  // Binds the library (or counts one more use of a bound one). On failure
  // answers false and *reason (when given) receives a new BSTR: string 130
  // when modemapi.dll cannot be loaded, 131 when one of the twelve entry
  // points is missing (the library is then freed again).
  bool Load(BSTR* reason);
  // Undoes one successful Load; the last one frees the library.
  void Release();
  // Frees the library unconditionally (destructor path).
  void Unload();

  // Binds a library of another file name (tests bind doubles); only while
  // unloaded.
  void SetLibraryName(const wchar_t* name) {
    if (!module && name) libraryName = name;
  }

  bool IsLoaded() const { return module != nullptr; }
  ULONG LoadCount() const { return loadCount; }

  // Valid only while loaded; in the library's order of binding.
  DeviceInitFn DeviceInit = nullptr;
  SetParamFn SetParam = nullptr;
  StartMessageHandlerFn StartMessageHandler = nullptr;
  StopMessageHandlerFn StopMessageHandler = nullptr;
  CloseDeviceFn CloseDevice = nullptr;
  ReceiveFn Receive = nullptr;
  SendFn Send = nullptr;
  GetParamFn GetParam = nullptr;
  GetDriverConfigurationFn GetDriverConfiguration = nullptr;
  SetDriverConfigurationFn SetDriverConfiguration = nullptr;
  AttachedDevicesFn AttachedDevices = nullptr;
  NotifyPnPFn NotifyPnP = nullptr;

 private:
  void ClearEntryPoints();

  ULONG loadCount = 0;
  HMODULE module = nullptr;
  const wchar_t* libraryName = L"modemapi.dll";
};

// One Load for the lifetime of a scope (the DTM's configured-device check).
class ScopedDriverBinding {
 public:
  explicit ScopedDriverBinding(CHartDriverApi& api) : api_(api) {}
  ~ScopedDriverBinding() {
    if (bound_) api_.Release();
  }
  ScopedDriverBinding(const ScopedDriverBinding&) = delete;
  ScopedDriverBinding& operator=(const ScopedDriverBinding&) = delete;

  bool Load(BSTR* reason) {
    bound_ = api_.Load(reason);
    return bound_;
  }

 private:
  CHartDriverApi& api_;
  bool bound_ = false;
};

// Message ids of the binding and of the library's status codes, in the
// DTM's string table and translation document.
namespace modem_messages {
constexpr UINT kLibraryNotLoaded = 130;
constexpr UINT kEntryPointsMissing = 131;
constexpr UINT kErrorStartCallback = 132;   // IDS_ErrorStartCallback
constexpr UINT kErrorSetRetryCount = 133;   // IDS_ErrorSetRetryCount
constexpr UINT kErrorInitializing = 134;    // any status without its own message
// The message of a library status code (its low byte); 0 for status 0.
UINT MessageIdOfStatus(BYTE status);
}  // namespace modem_messages
