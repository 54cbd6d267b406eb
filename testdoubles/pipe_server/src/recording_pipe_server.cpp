#include "pipe_server/recording_pipe_server.h"

#include "shared/service_pipe.h"

namespace testdoubles {

namespace {
constexpr DWORD kClientCloseWaitMs = 2000;
}

RecordingPipeServer::RecordingPipeServer(std::string pipeName)
    : pipeName_(pipeName.empty() ? std::string(shared::kServicePipeName) : std::move(pipeName)) {}

RecordingPipeServer::~RecordingPipeServer() { Stop(); }

bool RecordingPipeServer::Start() {
  if (thread_) return true;
  pipe_.reset(::CreateNamedPipeA(pipeName_.c_str(), shared::kServicePipeOpenMode,
                                 shared::kServicePipeMode, shared::kServicePipeInstances, 0, 0,
                                 shared::kServicePipeDefaultTimeoutMs, nullptr));
  if (!pipe_) return false;
  stopEvent_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  ioEvent_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  recordedEvent_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
  thread_.reset(::CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
  if (!thread_) {
    pipe_.reset();
    return false;
  }
  return true;
}

void RecordingPipeServer::Stop() {
  if (!thread_) return;
  ::SetEvent(stopEvent_.get());
  ::WaitForSingleObject(thread_.get(), INFINITE);
  thread_.reset();
  pipe_.reset();
}

void RecordingPipeServer::SetListener(std::function<void(const Message&)> listener) {
  win32::CsLock hold(lock_);
  listener_ = std::move(listener);
}

std::vector<RecordingPipeServer::Message> RecordingPipeServer::Requests() const {
  win32::CsLock hold(lock_);
  return requests_;
}

size_t RecordingPipeServer::RequestCount() const {
  win32::CsLock hold(lock_);
  return requests_.size();
}

void RecordingPipeServer::ClearRequests() {
  win32::CsLock hold(lock_);
  requests_.clear();
}

bool RecordingPipeServer::WaitForRequests(size_t count, DWORD timeoutMs) const {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (RequestCount() >= count) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    ::WaitForSingleObject(recordedEvent_.get(), static_cast<DWORD>(deadline - now));
  }
}

DWORD WINAPI RecordingPipeServer::ThreadProc(void* self) {
  static_cast<RecordingPipeServer*>(self)->Serve();
  return 0;
}

// Waits for an overlapped operation or the stop event. False when stopped,
// timed out or failed (the operation is then cancelled).
bool RecordingPipeServer::WaitIo(OVERLAPPED& overlapped, DWORD* transferred, DWORD timeoutMs) {
  const HANDLE waits[2] = {stopEvent_.get(), ioEvent_.get()};
  if (::WaitForMultipleObjects(2, waits, FALSE, timeoutMs) != WAIT_OBJECT_0 + 1) {
    ::CancelIo(pipe_.get());
    ::GetOverlappedResult(pipe_.get(), &overlapped, transferred, TRUE);
    return false;
  }
  return ::GetOverlappedResult(pipe_.get(), &overlapped, transferred, FALSE) != FALSE;
}

// Reads one whole message, however long.
bool RecordingPipeServer::ReadMessage(Message& message) {
  message.clear();
  for (;;) {
    uint8_t chunk[512];
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ioEvent_.get();
    ::ResetEvent(ioEvent_.get());
    DWORD got = 0;
    BOOL ok = ::ReadFile(pipe_.get(), chunk, sizeof chunk, &got, &overlapped);
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (!ok && error == ERROR_IO_PENDING) {
      ok = WaitIo(overlapped, &got, INFINITE);
      error = ok ? ERROR_SUCCESS : ::GetLastError();
    } else if (ok || error == ERROR_MORE_DATA) {
      ::GetOverlappedResult(pipe_.get(), &overlapped, &got, FALSE);
    }
    if (!ok && error != ERROR_MORE_DATA) return false;
    message.insert(message.end(), chunk, chunk + got);
    if (ok) return true;
  }
}

void RecordingPipeServer::Serve() {
  for (;;) {
    if (::WaitForSingleObject(stopEvent_.get(), 0) == WAIT_OBJECT_0) return;

    OVERLAPPED connect = {};
    connect.hEvent = ioEvent_.get();
    ::ResetEvent(ioEvent_.get());
    DWORD unused = 0;
    if (!::ConnectNamedPipe(pipe_.get(), &connect)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_IO_PENDING) {
        if (!WaitIo(connect, &unused, INFINITE)) {
          if (::WaitForSingleObject(stopEvent_.get(), 0) == WAIT_OBJECT_0) return;
          ::DisconnectNamedPipe(pipe_.get());
          continue;
        }
      } else if (error != ERROR_PIPE_CONNECTED) {
        ::DisconnectNamedPipe(pipe_.get());
        continue;
      }
    }

    Message message;
    if (ReadMessage(message)) {
      std::function<void(const Message&)> listener;
      {
        win32::CsLock hold(lock_);
        requests_.push_back(message);
        listener = listener_;
      }
      if (listener) listener(message);
      ::SetEvent(recordedEvent_.get());

      OVERLAPPED write = {};
      write.hEvent = ioEvent_.get();
      ::ResetEvent(ioEvent_.get());
      DWORD written = 0;
      if (!::WriteFile(pipe_.get(), shared::kServicePipeReply, shared::kServicePipeReplySize,
                       &written, &write) &&
          ::GetLastError() == ERROR_IO_PENDING) {
        WaitIo(write, &written, INFINITE);
      }
      // Let the client take the reply: wait until it closes its end (the
      // read then fails as a broken pipe) before disconnecting.
      uint8_t drain[16];
      OVERLAPPED closeWait = {};
      closeWait.hEvent = ioEvent_.get();
      ::ResetEvent(ioEvent_.get());
      DWORD got = 0;
      if (!::ReadFile(pipe_.get(), drain, sizeof drain, &got, &closeWait) &&
          ::GetLastError() == ERROR_IO_PENDING) {
        WaitIo(closeWait, &got, kClientCloseWaitMs);
      }
    }
    ::DisconnectNamedPipe(pipe_.get());
  }
}

}  // namespace testdoubles
