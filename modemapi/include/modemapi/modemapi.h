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

/*
 * Status codes: every export answers one of these bytes. The same table as
 * shared/status_codes.h, here as plain constants so that a C or other-language
 * caller needs nothing but this header.
 */
#define VTHART_STATUS_OK 0                     /* success */
#define VTHART_STATUS_NOT_CONFIGURED 1         /* number not configured, or the adapter cannot be opened */
#define VTHART_STATUS_NOT_FOUND 2              /* adapter not attached, or no more rows */
#define VTHART_STATUS_IO_ERROR 3               /* vendor request, registry, pipe or system error */
#define VTHART_STATUS_INVALID_ARGUMENT 4       /* range or pointer check failed */
#define VTHART_STATUS_PARAM_REFUSED 5          /* the adapter refused the parameter byte */
#define VTHART_STATUS_TIMEOUT 6                /* a vendor request was not done within 3000 ms */
#define VTHART_STATUS_SEND_REJECTED 7          /* the adapter answered a send with 0x8300 */
#define VTHART_STATUS_RING_EMPTY 8             /* no received frame waiting */
#define VTHART_STATUS_THREAD_OR_EVENT 9        /* thread or event not created, or nothing running to stop */
#define VTHART_STATUS_ALREADY_RUNNING 10       /* message handler or plug-and-play relay already running */
#define VTHART_STATUS_RING_OVERRUN 11          /* a frame was dropped after this entry */
#define VTHART_STATUS_NOT_OPEN 12              /* device number not open */
#define VTHART_STATUS_DEVICE_REMOVED 13        /* the adapter went away while open */
#define VTHART_STATUS_IN_USE 15                /* adapter in use by another process */
#define VTHART_STATUS_NO_FREE_DEVICE 16        /* no free device number */
#define VTHART_STATUS_NOT_SUPPORTED 21         /* operation not supported */
#define VTHART_STATUS_HANDLER_STOP_TIMEOUT 35  /* the message handler did not end within 5000 ms */

/*
 * The 7-byte row that vtHART_GetDriverConfiguration and vtHART_AttachedDevices
 * write (packed, little-endian), and the 5-byte configuration argument of
 * vtHART_SetDriverConfiguration. The exports take byte pointers; pass the
 * address of one of these.
 */
#pragma pack(push, 1)
typedef struct vtHART_DeviceConfig {
  uint8_t kind;     /* GetDriverConfiguration: 1 configured, 0 not (row all 0); AttachedDevices: 1 USB adapter */
  uint32_t serial;  /* adapter serial (16-bit value) */
  uint8_t attached; /* 1: listed as attached */
  uint8_t inUse;    /* 1: in use by another holder */
} vtHART_DeviceConfig;
typedef vtHART_DeviceConfig vtHART_AttachedDevice;

typedef struct vtHART_ConfigurationChange {
  uint8_t action;   /* VTHART_CONFIG_UNBIND or VTHART_CONFIG_BIND */
  uint32_t serial;  /* bind only, at most 0xFFFF */
} vtHART_ConfigurationChange;
#pragma pack(pop)

#define VTHART_CONFIG_UNBIND 0
#define VTHART_CONFIG_BIND 1

/* Flags of vtHART_AttachedDevices: a new scan lists bound and/or unbound
 * adapters; VTHART_ATTACHED_NEXT continues the last scan. */
#define VTHART_ATTACHED_UNBOUND 0x20
#define VTHART_ATTACHED_BOUND 0x40
#define VTHART_ATTACHED_NEXT 0x80

/* Modes of vtHART_NotifyPnP. */
#define VTHART_PNP_SET_EVENT 1   /* set the caller's event on every notice */
#define VTHART_PNP_PULSE_EVENT 2 /* pulse it (any mode other than 1 and 3) */
#define VTHART_PNP_STOP 3        /* stop the relay (event argument null) */

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
