// The configuration pipe: one client at a time sends one request and gets
// 8 zero bytes back, whatever the request was. Requests change ConfigKey or
// re-create the virtual COM ports; nothing outside ConfigKey is written.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "shared/service_pipe.h"
#include "win32/unique_handle.h"

namespace pnpsvc {

// How long the loop waits for a connected client to send its request, and
// to take its reply and close, before it drops the client, so that one stuck
// client cannot block every other configuration change or the service's stop.
constexpr DWORD kClientIoTimeoutMs = 5000;

// Carries out one complete message (`complete` false: the client sent more
// than the read limit, and nothing is executed on a partial read). Returns
// whether the message was a valid request that was executed.
bool ExecutePipeMessage(const uint8_t* message, size_t length, bool complete);

// A key name the service accepts: a device number "0" .. "255" in decimal.
bool IsDeviceKeyName(const std::string& key);

// Who may do what with the pipe: every local user may connect, read and
// write; only the service (LocalSystem) may change the descriptor, and the
// owner gets no implicit right to. Network logons are refused outright.
constexpr const char kServicePipeSecurity[] = "D:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GRGW;;;WD)(A;;RC;;;OW)";

// Creates ServicePipe with that descriptor as the first instance of its name;
// the handle is not inheritable.
// Invalid (with the error in GetLastError) when the name is taken.
win32::UniqueFile CreateServicePipe();

void DeleteConfigKey(const std::string& key);
void CreateConfigKey(const std::string& key);
void SetConfigValue(const std::string& key, const std::string& name, int32_t type, const uint8_t* data,
                    uint32_t length);

// Serves requests on `pipe` until `stopEvent` is set.
void ServiceLoop(HANDLE pipe, HANDLE ioEvent, HANDLE stopEvent);

}  // namespace pnpsvc
