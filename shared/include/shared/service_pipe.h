// ServicePipe: the named pipe over which modemapi and adaptercfg ask pnpsvc
// to change the adapter configuration, and the layout of its messages.
//
// A request is one message: an ASCII command word with its terminating zero,
// then the command's arguments (zero-terminated strings, little-endian
// integers). Each command fixes the exact message length; the service
// executes only a request of exactly that length and answers every message,
// valid or not, with ServicePipeReply (8 zero bytes).
//
//   "evHRT_DeleteKey" 0  key 0                              strlen(key) + 17
//   "evHRT_CreateKey" 0  key 0                              strlen(key) + 17
//   "evHRT_SetValue"  0  key 0  name 0  int32 type  uint32 length  data
//                                          strlen(key) + strlen(name) + length + 25
//   "evHRT_Renumerate" 0                                    17
//
// The key is a device-number key name relative to ConfigKey: the decimal
// device number "0" .. "255" (shared::ParseDeviceNumberKeyName); the service
// ignores a request with any other key. The builders and the parser below are the one place that
// knows this layout: the library's and adaptercfg's clients build with them,
// pnpsvc's server parses with them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace shared {

// The service behind the pipe as the service control manager knows it: its
// service name, and the display name that the list of services shows and
// that messages to the user name it by.
constexpr const char kServiceName[] = "VELTRA evHRT USB";
constexpr const char kServiceDisplayName[] = "VELTRA FSK Mavix";

constexpr const char kServicePipeName[] = "\\\\.\\pipe\\VELTRA-evHRTusbSrvPipe";

// Command words, compared together with their terminating zero.
constexpr const char kCmdDeleteKey[] = "evHRT_DeleteKey";
constexpr const char kCmdCreateKey[] = "evHRT_CreateKey";
constexpr const char kCmdSetValue[] = "evHRT_SetValue";
constexpr const char kCmdRenumerate[] = "evHRT_Renumerate";

// Server side: pipe settings, request buffer and read limit. The service
// creates the first instance of the name, so that a process that took the
// name before it makes the start fail instead of receiving the clients, and
// refuses clients on other machines.
constexpr DWORD kServicePipeOpenMode =
    PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE;  // 0x40080003
constexpr DWORD kServicePipeMode =
    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;  // 0xE
constexpr DWORD kServicePipeInstances = 1;
constexpr DWORD kServicePipeDefaultTimeoutMs = 1000;
constexpr size_t kServicePipeRequestBufferSize = 200;
constexpr size_t kServicePipeReadLimit = 180;  // at most this much of a request is read
constexpr size_t kServicePipeMinRequest = 4;   // shorter messages are ignored

// Client side: one CallNamedPipeA per request.
constexpr DWORD kServicePipeClientReplyBufferSize = 100;
constexpr DWORD kServicePipeClientTimeoutMs = 1000;

// ServicePipeReply: 8 zero bytes after every request.
constexpr size_t kServicePipeReplySize = 8;
extern const uint8_t kServicePipeReply[kServicePipeReplySize];

enum class PipeCommand { DeleteKey, CreateKey, SetValue, Renumerate };

// A request the service executes, taken apart.
struct ServicePipeRequest {
  PipeCommand command = PipeCommand::Renumerate;
  std::string key;               // DeleteKey, CreateKey, SetValue
  std::string valueName;         // SetValue
  int32_t valueType = 0;         // SetValue: registry type, e.g. REG_DWORD (4)
  std::vector<uint8_t> data;     // SetValue
};

// Builders. Each returns the exact message, or an empty vector when the
// message would not fit the service's read limit (the service must never act
// on a partial read) or a string holds a zero byte.
std::vector<uint8_t> BuildDeleteKeyRequest(const std::string& key);
std::vector<uint8_t> BuildCreateKeyRequest(const std::string& key);
std::vector<uint8_t> BuildSetValueRequest(const std::string& key, const std::string& valueName,
                                          int32_t valueType, const void* data, uint32_t dataLength);
std::vector<uint8_t> BuildSetDwordRequest(const std::string& key, const std::string& valueName,
                                          uint32_t value);
std::vector<uint8_t> BuildRenumerateRequest();

// Parser, as the service applies it: true and `request` filled when the
// message starts with a command word and its zero, in the order DeleteKey,
// CreateKey, SetValue, Renumerate, and has exactly the length that command
// fixes. False for everything the service ignores (shorter than 4 bytes,
// unknown command, any other length). Pass only a message read whole: a
// read of kServicePipeReadLimit bytes that ended with ERROR_MORE_DATA is the
// start of a longer message and must be ignored, not parsed.
bool ParseServicePipeRequest(const uint8_t* message, size_t length, ServicePipeRequest* request);

// Client call: sends one request with CallNamedPipeA (100-byte reply buffer,
// 1000 ms). Only the call's success counts; the reply is not examined.
bool SendServicePipeRequest(const std::vector<uint8_t>& request);

}  // namespace shared
