/* Compiled as C: modemapi.h is all a C caller needs. */
#include <stddef.h>

#include "modemapi/modemapi.h"

_Static_assert(sizeof(vtHART_DeviceConfig) == 7, "the device row is 7 packed bytes");
_Static_assert(offsetof(vtHART_DeviceConfig, serial) == 1, "serial at byte 1");
_Static_assert(offsetof(vtHART_DeviceConfig, attached) == 5, "attached flag at byte 5");
_Static_assert(offsetof(vtHART_DeviceConfig, inUse) == 6, "in-use flag at byte 6");
_Static_assert(sizeof(vtHART_AttachedDevice) == 7, "one row layout for both exports");
_Static_assert(sizeof(vtHART_ConfigurationChange) == 5, "the configuration is 5 packed bytes");
_Static_assert(offsetof(vtHART_ConfigurationChange, serial) == 1, "serial at byte 1");

/* A C caller's reading of a device number's configuration. */
uint8_t CCallerReadsConfiguration(uint8_t deviceNumber, vtHART_DeviceConfig* row) {
  uint8_t status = vtHART_GetDriverConfiguration(deviceNumber, (uint8_t*)row);
  if (status != VTHART_STATUS_OK) return status;
  return row->kind == 1 ? VTHART_STATUS_OK : VTHART_STATUS_NOT_CONFIGURED;
}
