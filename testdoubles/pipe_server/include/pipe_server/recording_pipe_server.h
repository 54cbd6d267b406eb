// A stand-in for the service's pipe server that records what clients send.
//
// It serves one message-mode pipe instance (by default the service's pipe
// name), records every request message byte for byte (also one longer than
// the service would read), answers each with the 8 zero bytes of the service's
// reply, and disconnects the client once it has closed its end.
// Use it on a thread of a test (Start/Stop) or through the
// recording_pipe_server program for tests that need it in another process.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "win32/unique_handle.h"

namespace testdoubles {

class RecordingPipeServer {
 public:
  using Message = std::vector<uint8_t>;

  explicit RecordingPipeServer(std::string pipeName = {});  // empty: the service's pipe
  ~RecordingPipeServer();
  RecordingPipeServer(const RecordingPipeServer&) = delete;
  RecordingPipeServer& operator=(const RecordingPipeServer&) = delete;

  // Creates the pipe (so a client can connect as soon as this returns) and
  // starts the serving thread. False when the pipe cannot be created, for
  // example because another server has the name.
  bool Start();
  // Ends the serving thread and closes the pipe. Safe to call twice.
  void Stop();

  // Called on the serving thread with each request, after it is recorded.
  void SetListener(std::function<void(const Message&)> listener);

  std::vector<Message> Requests() const;
  size_t RequestCount() const;
  void ClearRequests();
  // Waits until at least `count` requests were recorded; false on time-out.
  bool WaitForRequests(size_t count, DWORD timeoutMs) const;

 private:
  static DWORD WINAPI ThreadProc(void* self);
  void Serve();
  bool WaitIo(OVERLAPPED& overlapped, DWORD* transferred, DWORD timeoutMs);
  bool ReadMessage(Message& message);

  std::string pipeName_;
  win32::UniqueFile pipe_;
  win32::UniqueHandle stopEvent_;
  win32::UniqueHandle ioEvent_;
  win32::UniqueHandle recordedEvent_;  // set after every recorded request
  win32::UniqueHandle thread_;
  mutable win32::CriticalSection lock_;
  std::vector<Message> requests_;
  std::function<void(const Message&)> listener_;
};

}  // namespace testdoubles
