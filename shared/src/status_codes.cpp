#include "shared/status_codes.h"

namespace shared {

namespace {

struct StatusText {
  uint8_t code;
  const char* meaning;
};

const StatusText kStatusTexts[] = {
    {kStatusOk, "success"},
    {kStatusNotConfigured, "device number not configured, or the adapter cannot be opened"},
    {kStatusNotFound, "not found / no more rows"},
    {kStatusIoError, "I/O or system error"},
    {kStatusInvalidArgument, "invalid argument"},
    {kStatusParamRefused, "parameter refused by the adapter"},
    {kStatusTimeout, "request timeout"},
    {kStatusSendRejected, "the adapter rejected the send"},
    {kStatusRingEmpty, "receive ring empty"},
    {kStatusThreadOrEvent, "thread or event cannot be created, or not running"},
    {kStatusAlreadyRunning, "already running"},
    {kStatusRingOverrun, "receive ring overrun"},
    {kStatusNotOpen, "device number not open"},
    {kStatusDeviceRemoved, "device removed"},
    {kStatusInUse, "adapter in use by another process"},
    {kStatusNoFreeDevice, "no free device number"},
    {kStatusNotSupported, "operation not supported"},
    {kStatusHandlerStopTimeout, "the message-handler thread did not end in time"},
};

}  // namespace

const char* StatusMeaning(uint8_t status) {
  for (const StatusText& entry : kStatusTexts) {
    if (entry.code == status) return entry.meaning;
  }
  return "unknown status";
}

}  // namespace shared
