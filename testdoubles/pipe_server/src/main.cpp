// recording_pipe_server [--pipe NAME] [--count N] [--seconds S]
//
// Serves the pipe (the service's by default), prints every request as one
// line of hexadecimal bytes on standard output, and ends after N requests or
// S seconds (default 60), whichever comes first. Exit code 0 when N requests
// arrived (or no N was given), 1 on time-out, 2 when the pipe cannot be made.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pipe_server/recording_pipe_server.h"

int main(int argc, char** argv) {
  std::string pipeName;
  size_t count = 0;
  unsigned seconds = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--pipe")) pipeName = argv[i + 1];
    else if (!std::strcmp(argv[i], "--count")) count = std::strtoul(argv[i + 1], nullptr, 10);
    else if (!std::strcmp(argv[i], "--seconds")) seconds = std::strtoul(argv[i + 1], nullptr, 10);
  }

  testdoubles::RecordingPipeServer server(pipeName);
  server.SetListener([](const testdoubles::RecordingPipeServer::Message& message) {
    for (size_t i = 0; i < message.size(); ++i) std::printf(i ? " %02X" : "%02X", message[i]);
    std::printf("\n");
    std::fflush(stdout);
  });
  if (!server.Start()) {
    std::fprintf(stderr, "cannot create the pipe\n");
    return 2;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  const bool done = server.WaitForRequests(count ? count : SIZE_MAX, seconds * 1000u);
  server.Stop();
  return (done || count == 0) ? 0 : 1;
}
