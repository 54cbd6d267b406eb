// Status bytes of the modem interface library.
//
// Every vtHART_ export answers one unsigned byte; 0 is success. The enum's
// underlying type is uint8_t so that a value converts to the export's result
// without a cast. StatusMeaning() gives the one-line meaning of each code
// (for logs and test messages; the library itself never shows text).
#pragma once

#include <cstdint>

namespace shared {

enum vtHART_Status : uint8_t {
  kStatusOk = 0,
  kStatusNotConfigured = 1,       // no "USB-Id" for the number, slot taken meanwhile, or open failed
  kStatusNotFound = 2,            // serial not under EnumKey, path gone, or no more rows
  kStatusIoError = 3,             // vendor request, registry, pipe, OS class or event failure
  kStatusInvalidArgument = 4,     // range and pointer checks
  kStatusParamRefused = 5,        // the adapter refused the parameter byte
  kStatusTimeout = 6,             // the I/O thread did not finish a vendor request in 3000 ms
  kStatusSendRejected = 7,        // the adapter answered a send with send status 0x8300
  kStatusRingEmpty = 8,           // receive ring empty
  kStatusThreadOrEvent = 9,       // thread/event not created, not running, or service event missing
  kStatusAlreadyRunning = 10,     // message handler or relay already running
  kStatusRingOverrun = 11,        // this entry was the newest when a frame was dropped
  kStatusNotOpen = 12,            // device number not open (slot empty)
  kStatusDeviceRemoved = 13,      // the device's I/O ended without a close (latched)
  kStatusInUse = 15,              // adapter in use by another process
  kStatusNoFreeDevice = 16,       // no free device number
  kStatusNotSupported = 21,       // reserved device operation
  kStatusHandlerStopTimeout = 35, // message-handler thread did not end within 5000 ms
};

// Meaning of a status code, or "unknown status" for a code not in the table.
const char* StatusMeaning(uint8_t status);

}  // namespace shared
