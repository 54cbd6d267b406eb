// The adapter's vendor requests: codes, request types and frame layouts.
//
// Every request is one control transfer on the default endpoint with an
// 8-byte setup packet. Multi-byte data is little-endian; the index is 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace modemapi {

// Setup packet of a control transfer, laid out as the USB standard sends it.
#pragma pack(push, 1)
struct SetupPacket {
  uint8_t requestType;
  uint8_t request;
  uint16_t value;
  uint16_t index;
  uint16_t length;
};
#pragma pack(pop)
static_assert(sizeof(SetupPacket) == 8, "setup packet is 8 bytes");

constexpr uint8_t kRequestTypeOut = 0x40;  // vendor, host-to-device, device recipient
constexpr uint8_t kRequestTypeIn = 0xC0;   // vendor, device-to-host, device recipient

// Request codes.
constexpr uint8_t kReqWriteRam = 0xA0;       // out: value = RAM address, data = bytes
constexpr uint8_t kReqStartHart = 0xB0;      // in 1: value 1 primary / 2 secondary master
constexpr uint8_t kReqSendFrame = 0xB1;      // out: send frame below
constexpr uint8_t kReqReceiveReply = 0xB2;   // in n+9: receive reply
constexpr uint8_t kReqSetParam = 0xB3;       // in 2: value = parameter, answer 0 = accepted
constexpr uint8_t kReqGetParam = 0xB4;       // in 1: the parameter
constexpr uint8_t kReqReceivePoll = 0xB5;    // in 1: data bytes waiting (0 = none)
constexpr uint8_t kReqSendStatus = 0xB6;     // in 2: 0 sent, 0x8300 refused
constexpr uint8_t kReqStop = 0xD0;           // in 1: ignored
constexpr uint8_t kReqPrepare = 0xD1;        // in 1: ignored, first step of Init
constexpr uint8_t kReqSerial = 0xD2;         // in 2: adapter serial (read by the service)

// Processor control register of the adapter's USB controller: 1 holds the
// processor, 0 lets it run.
constexpr uint16_t kCpuControlAddress = 0xE600;

// Send frame (request 0xB1): FF FF FF FF, preambles, length, FF FF, frame.
constexpr size_t kSendHeaderSize = 8;
constexpr uint8_t kMinPreambles = 5;
constexpr uint8_t kMaxPreambles = 20;
constexpr uint8_t kMaxFrameLength = 192;
constexpr uint16_t kSendStatusOk = 0x0000;
constexpr uint16_t kSendStatusRefused = 0x8300;

// Receive reply (request 0xB2): byte 0 kind, byte 6 data length, bytes 9.. data.
constexpr size_t kReplyKindOffset = 0;
constexpr size_t kReplyLengthOffset = 6;
constexpr size_t kReplyDataOffset = 9;
constexpr size_t kReplyMaxSize = kReplyDataOffset + kMaxFrameLength;  // 201

// Master role argument of the start request.
constexpr uint16_t kPrimaryMaster = 1;
constexpr uint16_t kSecondaryMaster = 2;

}  // namespace modemapi
