/*
 * Exports of the modem interface library modemapi.dll.
 *
 * Every function answers one status byte (shared/status_codes.h); 0 is
 * success. The vtHART_ functions use the cdecl convention; each vtHARTvb_
 * twin uses stdcall and forwards to the vtHART_ function of the same verb
 * (vtHARTvb_SetDriverConfiguration takes a third, ignored argument). The
 * ordinals are fixed by modemapi-i686.def and modemapi-x86_64.def.
 */
#ifndef MODEMAPI_MODEMAPI_H
#define MODEMAPI_MODEMAPI_H

#include <windows.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Called on the message-handler thread while received entries wait. */
typedef void(__cdecl* vtHART_MessageCallback)(uint8_t deviceNumber, void* user);

uint8_t __cdecl vtHART_DeviceInit(uint8_t deviceNumber, uint8_t primaryMaster);
uint8_t __cdecl vtHART_DynamicInit(const char* adapterName, uint8_t* deviceNumber, uint8_t primaryMaster);
uint8_t __cdecl vtHART_Send(uint8_t deviceNumber, uint8_t preambles, uint8_t length, const uint8_t* frame);
uint8_t __cdecl vtHART_Receive(uint8_t deviceNumber, uint8_t* kind, uint8_t* length, uint8_t* data);
uint8_t __cdecl vtHART_SetParam(uint8_t deviceNumber, uint8_t value);
uint8_t __cdecl vtHART_GetParam(uint8_t deviceNumber, uint8_t* value);
uint8_t __cdecl vtHART_CloseDevice(uint8_t deviceNumber);
uint8_t __cdecl vtHART_StartMessageHandler(uint8_t deviceNumber, vtHART_MessageCallback callback, void* user);
uint8_t __cdecl vtHART_StopMessageHandler(uint8_t deviceNumber);
uint8_t __cdecl vtHART_GetDriverConfiguration(uint8_t deviceNumber, uint8_t* row);
uint8_t __cdecl vtHART_SetDriverConfiguration(uint8_t deviceNumber, const uint8_t* configuration);
uint8_t __cdecl vtHART_AttachedDevices(uint8_t flags, uint8_t* row);
uint8_t __cdecl vtHART_NotifyPnP(HANDLE event, uint8_t mode);

uint8_t __stdcall vtHARTvb_DeviceInit(uint8_t deviceNumber, uint8_t primaryMaster);
uint8_t __stdcall vtHARTvb_DynamicInit(const char* adapterName, uint8_t* deviceNumber, uint8_t primaryMaster);
uint8_t __stdcall vtHARTvb_Send(uint8_t deviceNumber, uint8_t preambles, uint8_t length, const uint8_t* frame);
uint8_t __stdcall vtHARTvb_Receive(uint8_t deviceNumber, uint8_t* kind, uint8_t* length, uint8_t* data);
uint8_t __stdcall vtHARTvb_SetParam(uint8_t deviceNumber, uint8_t value);
uint8_t __stdcall vtHARTvb_GetParam(uint8_t deviceNumber, uint8_t* value);
uint8_t __stdcall vtHARTvb_CloseDevice(uint8_t deviceNumber);
uint8_t __stdcall vtHARTvb_GetDriverConfiguration(uint8_t deviceNumber, uint8_t* row);
uint8_t __stdcall vtHARTvb_SetDriverConfiguration(uint8_t deviceNumber, const uint8_t* configuration,
                                                  uint32_t ignored);
uint8_t __stdcall vtHARTvb_AttachedDevices(uint8_t flags, uint8_t* row);
uint8_t __stdcall vtHARTvb_NotifyPnP(HANDLE event, uint8_t mode);

#ifdef __cplusplus
}
#endif

#endif /* MODEMAPI_MODEMAPI_H */
