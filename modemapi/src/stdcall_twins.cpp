// The vtHARTvb_ twins: stdcall (the callee removes the arguments) for callers
// that cannot use cdecl. Each forwards to the vtHART_ function of its verb.
#include "modemapi/modemapi.h"

extern "C" {

uint8_t __stdcall vtHARTvb_DeviceInit(uint8_t deviceNumber, uint8_t primaryMaster) {
  return vtHART_DeviceInit(deviceNumber, primaryMaster);
}

uint8_t __stdcall vtHARTvb_DynamicInit(const char* adapterName, uint8_t* deviceNumber, uint8_t primaryMaster) {
  return vtHART_DynamicInit(adapterName, deviceNumber, primaryMaster);
}

uint8_t __stdcall vtHARTvb_Send(uint8_t deviceNumber, uint8_t preambles, uint8_t length, const uint8_t* frame) {
  return vtHART_Send(deviceNumber, preambles, length, frame);
}

uint8_t __stdcall vtHARTvb_Receive(uint8_t deviceNumber, uint8_t* kind, uint8_t* length, uint8_t* data) {
  return vtHART_Receive(deviceNumber, kind, length, data);
}

uint8_t __stdcall vtHARTvb_SetParam(uint8_t deviceNumber, uint8_t value) {
  return vtHART_SetParam(deviceNumber, value);
}

uint8_t __stdcall vtHARTvb_GetParam(uint8_t deviceNumber, uint8_t* value) {
  return vtHART_GetParam(deviceNumber, value);
}

uint8_t __stdcall vtHARTvb_CloseDevice(uint8_t deviceNumber) { return vtHART_CloseDevice(deviceNumber); }

uint8_t __stdcall vtHARTvb_GetDriverConfiguration(uint8_t deviceNumber, uint8_t* row) {
  return vtHART_GetDriverConfiguration(deviceNumber, row);
}

// The third argument is part of this twin's stack frame and is not used.
uint8_t __stdcall vtHARTvb_SetDriverConfiguration(uint8_t deviceNumber, const uint8_t* configuration,
                                                  uint32_t /*ignored*/) {
  return vtHART_SetDriverConfiguration(deviceNumber, configuration);
}

uint8_t __stdcall vtHARTvb_AttachedDevices(uint8_t flags, uint8_t* row) {
  return vtHART_AttachedDevices(flags, row);
}

uint8_t __stdcall vtHARTvb_NotifyPnP(HANDLE event, uint8_t mode) { return vtHART_NotifyPnP(event, mode); }

}  // extern "C"
