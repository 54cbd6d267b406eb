#include "pipe_server.h"

#include <sddl.h>

#include <string>

#include "adapter_tracking.h"
#include "shared/registry_layout.h"
#include "trace.h"
#include "win32/unique_handle.h"

namespace pnpsvc {
namespace {

enum class WaitResult { kDone, kStopped, kTimedOut };

// Waits for the overlapped operation on `pipe` or for the stop event. An
// operation that does not complete is cancelled and waited out, so that the
// OVERLAPPED and its buffer may go out of scope afterwards.
WaitResult WaitIo(HANDLE pipe, OVERLAPPED& ov, HANDLE stopEvent, DWORD timeoutMs, DWORD& bytes, DWORD& error) {
  HANDLE handles[2] = {stopEvent, ov.hEvent};
  DWORD rc = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
  if (rc == WAIT_OBJECT_0 + 1) {
    error = GetOverlappedResult(pipe, &ov, &bytes, FALSE) ? ERROR_SUCCESS : GetLastError();
    return WaitResult::kDone;
  }
  CancelIoEx(pipe, &ov);
  GetOverlappedResult(pipe, &ov, &bytes, TRUE);
  return rc == WAIT_OBJECT_0 ? WaitResult::kStopped : WaitResult::kTimedOut;
}

// Starts an overlapped operation's bookkeeping: a clean OVERLAPPED on the
// loop's I/O event, the event reset.
void Prepare(OVERLAPPED& ov, HANDLE ioEvent) {
  ov = OVERLAPPED{};
  ov.hEvent = ioEvent;
  ResetEvent(ioEvent);
}

// Gives the client the time to take its reply: until it closes its end, at
// most the client time-out, and no longer than the stop event allows. Not
// FlushFileBuffers: on the server end of a pipe that returns only once the
// client has read everything, so a client that neither reads nor closes
// would hold the loop, and with it every other client and the service's
// stop, for good. A client that read its reply and closed (CallNamedPipeA)
// ends the wait at once: the pending read breaks. One that sends more is
// done as well; it gets nothing else on this connection.
WaitResult AwaitClientEnd(HANDLE pipe, HANDLE ioEvent, HANDLE stopEvent) {
  OVERLAPPED ov;
  Prepare(ov, ioEvent);
  uint8_t extra = 0;
  DWORD bytes = 0, error = ERROR_SUCCESS;
  if (ReadFile(pipe, &extra, 1, nullptr, &ov) || GetLastError() != ERROR_IO_PENDING) return WaitResult::kDone;
  return WaitIo(pipe, ov, stopEvent, kClientIoTimeoutMs, bytes, error);
}

std::string ConfigSubkeyPath(const std::string& key) { return std::string(shared::kConfigKeyPath) + "\\" + key; }

}  // namespace

bool IsDeviceKeyName(const std::string& key) { return shared::ParseDeviceNumberKeyName(key, nullptr); }

win32::UniqueFile CreateServicePipe() {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kServicePipeSecurity, SDDL_REVISION_1, &sd, nullptr))
    return win32::UniqueFile();
  // Not inheritable: a process started while the service runs (a class
  // installer of the install kit) would otherwise keep the only instance of
  // the name alive after the service ends, and its next start would fail.
  SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
  win32::UniqueFile pipe(CreateNamedPipeA(shared::kServicePipeName, shared::kServicePipeOpenMode,
                                          shared::kServicePipeMode, shared::kServicePipeInstances, 0, 0,
                                          shared::kServicePipeDefaultTimeoutMs, &sa));
  DWORD error = GetLastError();
  LocalFree(sd);
  // The first-instance flag makes a taken name fail the creation; Wine
  // ignores the flag, so the instance count is checked as well.
  DWORD instances = 0;
  if (pipe && (!GetNamedPipeHandleStateA(pipe.get(), nullptr, &instances, nullptr, nullptr, nullptr, 0) ||
               instances != 1)) {
    pipe.reset();
    error = ERROR_ACCESS_DENIED;
  }
  SetLastError(error);
  return pipe;
}

void DeleteConfigKey(const std::string& key) {
  win32::UniqueRegKey config;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, shared::kConfigKeyPath, 0, KEY_ALL_ACCESS | shared::kRegistryView,
                    config.put()) != ERROR_SUCCESS)
    return;
  // Fails, and so keeps the key, while it still has subkeys.
  RegDeleteKeyExA(config.get(), key.c_str(), shared::kRegistryView, 0);
}

void CreateConfigKey(const std::string& key) {
  win32::UniqueRegKey subkey;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, ConfigSubkeyPath(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                  KEY_ALL_ACCESS | shared::kRegistryView, nullptr, subkey.put(), nullptr);
}

void SetConfigValue(const std::string& key, const std::string& name, int32_t type, const uint8_t* data,
                    uint32_t length) {
  win32::UniqueRegKey subkey;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ConfigSubkeyPath(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS | shared::kRegistryView, nullptr, subkey.put(), nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(subkey.get(), name.c_str(), 0, static_cast<DWORD>(type), length ? data : nullptr, length);
}

bool ExecutePipeMessage(const uint8_t* message, size_t length, bool complete) {
  if (!complete) return false;  // never act on the first part of a longer message
  shared::ServicePipeRequest request;
  if (!shared::ParseServicePipeRequest(message, length, &request)) return false;
  if (request.command != shared::PipeCommand::Renumerate && !IsDeviceKeyName(request.key)) return false;

  win32::CsLock lock(ServiceWorkLock());
  switch (request.command) {
    case shared::PipeCommand::DeleteKey:
      DeleteConfigKey(request.key);
      break;
    case shared::PipeCommand::CreateKey:
      CreateConfigKey(request.key);
      break;
    case shared::PipeCommand::SetValue:
      SetConfigValue(request.key, request.valueName, request.valueType, request.data.data(),
                     static_cast<uint32_t>(request.data.size()));
      break;
    case shared::PipeCommand::Renumerate:
      RenumerateDevices();
      break;
  }
  return true;
}

void ServiceLoop(HANDLE pipe, HANDLE ioEvent, HANDLE stopEvent) {
  PNP_TRACE_SCOPE("ServiceLoop");
  for (;;) {
    if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) return;

    OVERLAPPED ov;
    DWORD bytes = 0, error = ERROR_SUCCESS;
    Prepare(ov, ioEvent);
    bool connected = ConnectNamedPipe(pipe, &ov) != FALSE;
    if (!connected) {
      error = GetLastError();
      if (error == ERROR_PIPE_CONNECTED) {
        connected = true;  // the client came between create/disconnect and connect
      } else if (error == ERROR_IO_PENDING) {
        if (WaitIo(pipe, ov, stopEvent, INFINITE, bytes, error) == WaitResult::kStopped) return;
        connected = error == ERROR_SUCCESS;
      }
    }
    if (!connected) {
      DisconnectNamedPipe(pipe);
      // Guard against a tight loop on a pipe that keeps failing.
      if (WaitForSingleObject(stopEvent, 10) == WAIT_OBJECT_0) return;
      continue;
    }

    uint8_t request[shared::kServicePipeRequestBufferSize] = {};
    bool received = false, complete = true;
    Prepare(ov, ioEvent);
    bytes = 0;
    if (ReadFile(pipe, request, shared::kServicePipeReadLimit, nullptr, &ov)) {
      received = GetOverlappedResult(pipe, &ov, &bytes, FALSE) != FALSE;
    } else {
      error = GetLastError();
      if (error == ERROR_IO_PENDING) {
        WaitResult w = WaitIo(pipe, ov, stopEvent, kClientIoTimeoutMs, bytes, error);
        if (w == WaitResult::kStopped) return;
        if (w == WaitResult::kDone) {
          received = error == ERROR_SUCCESS || error == ERROR_MORE_DATA;
          complete = error == ERROR_SUCCESS;
        }
      } else if (error == ERROR_MORE_DATA) {
        GetOverlappedResult(pipe, &ov, &bytes, FALSE);
        received = true;
        complete = false;
      }
    }

    if (received) {
      if (bytes > shared::kServicePipeReadLimit) bytes = shared::kServicePipeReadLimit;
      ExecutePipeMessage(request, bytes, complete);

      Prepare(ov, ioEvent);
      bool written = WriteFile(pipe, shared::kServicePipeReply, shared::kServicePipeReplySize, nullptr, &ov) != FALSE;
      if (!written && GetLastError() == ERROR_IO_PENDING) {
        WaitResult w = WaitIo(pipe, ov, stopEvent, kClientIoTimeoutMs, bytes, error);
        if (w == WaitResult::kStopped) return;
        written = w == WaitResult::kDone && error == ERROR_SUCCESS;
      }
      if (written && AwaitClientEnd(pipe, ioEvent, stopEvent) == WaitResult::kStopped) return;
    }
    DisconnectNamedPipe(pipe);
  }
}

}  // namespace pnpsvc
