#include "shared/service_pipe.h"

#include <cstring>

namespace shared {

const uint8_t kServicePipeReply[kServicePipeReplySize] = {};

namespace {

void Append(std::vector<uint8_t>& out, const void* bytes, size_t count) {
  const size_t start = out.size();
  out.resize(start + count);
  if (count) std::memcpy(out.data() + start, bytes, count);
}

// A string with its terminating zero; false if it holds a zero itself.
bool AppendString(std::vector<uint8_t>& out, const std::string& text) {
  if (text.find('\0') != std::string::npos) return false;
  Append(out, text.c_str(), text.size() + 1);
  return true;
}

void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::vector<uint8_t> Finish(std::vector<uint8_t> message, bool ok) {
  if (!ok || message.size() > kServicePipeReadLimit) return {};
  return message;
}

std::vector<uint8_t> BuildKeyRequest(const char* command, const std::string& key) {
  std::vector<uint8_t> message;
  Append(message, command, std::strlen(command) + 1);
  bool ok = AppendString(message, key);
  return Finish(std::move(message), ok);
}

bool StartsWithCommand(const uint8_t* message, size_t length, const char* command) {
  size_t wordLength = std::strlen(command) + 1;
  return length >= wordLength && std::memcmp(message, command, wordLength) == 0;
}

// Length of the zero-terminated string at `offset`, or false when no zero
// follows inside the message.
bool StringAt(const uint8_t* message, size_t length, size_t offset, size_t* stringLength) {
  if (offset >= length) return false;
  const void* zero = std::memchr(message + offset, 0, length - offset);
  if (!zero) return false;
  *stringLength = static_cast<const uint8_t*>(zero) - (message + offset);
  return true;
}

}  // namespace

std::vector<uint8_t> BuildDeleteKeyRequest(const std::string& key) {
  return BuildKeyRequest(kCmdDeleteKey, key);
}

std::vector<uint8_t> BuildCreateKeyRequest(const std::string& key) {
  return BuildKeyRequest(kCmdCreateKey, key);
}

std::vector<uint8_t> BuildSetValueRequest(const std::string& key, const std::string& valueName,
                                          int32_t valueType, const void* data, uint32_t dataLength) {
  std::vector<uint8_t> message;
  Append(message, kCmdSetValue, sizeof kCmdSetValue);
  bool ok = AppendString(message, key) && AppendString(message, valueName);
  if (dataLength > kServicePipeReadLimit) ok = false;
  if (ok) {
    AppendLe32(message, static_cast<uint32_t>(valueType));
    AppendLe32(message, dataLength);
    if (dataLength) Append(message, data, dataLength);
  }
  return Finish(std::move(message), ok);
}

std::vector<uint8_t> BuildSetDwordRequest(const std::string& key, const std::string& valueName,
                                          uint32_t value) {
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return BuildSetValueRequest(key, valueName, REG_DWORD, bytes, sizeof bytes);
}

std::vector<uint8_t> BuildRenumerateRequest() {
  return std::vector<uint8_t>(kCmdRenumerate, kCmdRenumerate + sizeof kCmdRenumerate);
}

bool ParseServicePipeRequest(const uint8_t* message, size_t length, ServicePipeRequest* request) {
  if (!message || !request || length < kServicePipeMinRequest) return false;

  const bool deleteKey = StartsWithCommand(message, length, kCmdDeleteKey);
  const bool createKey = !deleteKey && StartsWithCommand(message, length, kCmdCreateKey);
  if (deleteKey || createKey) {
    const size_t offset = sizeof kCmdDeleteKey;  // 16, the same for both words
    size_t keyLength = 0;
    if (!StringAt(message, length, offset, &keyLength) || length != keyLength + 17) return false;
    request->command = deleteKey ? PipeCommand::DeleteKey : PipeCommand::CreateKey;
    request->key.assign(reinterpret_cast<const char*>(message + offset), keyLength);
    request->valueName.clear();
    request->valueType = 0;
    request->data.clear();
    return true;
  }

  if (StartsWithCommand(message, length, kCmdSetValue)) {
    const size_t keyOffset = sizeof kCmdSetValue;  // 15
    size_t keyLength = 0;
    size_t nameLength = 0;
    if (!StringAt(message, length, keyOffset, &keyLength)) return false;
    const size_t nameOffset = keyOffset + keyLength + 1;
    if (!StringAt(message, length, nameOffset, &nameLength)) return false;
    const size_t typeOffset = nameOffset + nameLength + 1;
    if (typeOffset + 8 > length) return false;
    const uint32_t dataLength = ReadLe32(message + typeOffset + 4);
    // 64-bit sum: a huge length field must not wrap around to a match.
    const uint64_t expected = uint64_t(keyLength) + nameLength + dataLength + 25;
    if (expected != length) return false;
    request->command = PipeCommand::SetValue;
    request->key.assign(reinterpret_cast<const char*>(message + keyOffset), keyLength);
    request->valueName.assign(reinterpret_cast<const char*>(message + nameOffset), nameLength);
    request->valueType = static_cast<int32_t>(ReadLe32(message + typeOffset));
    const uint8_t* data = message + typeOffset + 8;
    request->data.assign(data, data + dataLength);
    return true;
  }

  if (StartsWithCommand(message, length, kCmdRenumerate)) {
    if (length != sizeof kCmdRenumerate) return false;  // 17
    request->command = PipeCommand::Renumerate;
    request->key.clear();
    request->valueName.clear();
    request->valueType = 0;
    request->data.clear();
    return true;
  }
  return false;
}

bool SendServicePipeRequest(const std::vector<uint8_t>& request) {
  if (request.empty()) return false;
  uint8_t reply[kServicePipeClientReplyBufferSize];
  DWORD replyLength = 0;
  return ::CallNamedPipeA(kServicePipeName, const_cast<uint8_t*>(request.data()),
                          static_cast<DWORD>(request.size()), reply, sizeof reply, &replyLength,
                          kServicePipeClientTimeoutMs) != FALSE;
}

}  // namespace shared
