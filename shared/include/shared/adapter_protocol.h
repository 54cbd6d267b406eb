// The adapter's vendor protocol: setup packet, request types, request codes
// and the layouts of the send frame and the receive reply. The library speaks
// it, the service reads the serial with it, the simulated adapter answers it.
//
// Every request is one control transfer on the default endpoint with an
// 8-byte setup packet. Multi-byte data is little-endian; the index is 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace shared {

// Setup packet of a control transfer, laid out as the USB standard sends it
// (WinUSB takes it by value in this layout).
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

// Request types: the adapter accepts only these two.
constexpr uint8_t kRequestTypeOut = 0x40;  // vendor, host-to-device, device recipient
constexpr uint8_t kRequestTypeIn = 0xC0;   // vendor, device-to-host, device recipient

// Request codes. Comment: direction and answer length | what it does.
constexpr uint8_t kReqWriteRam = 0xA0;      // out  | value = RAM address, data = bytes (boot loader)
constexpr uint8_t kReqStartHart = 0xB0;     // in 1 | value kPrimaryMaster / kSecondaryMaster; 0 = started
constexpr uint8_t kReqSendFrame = 0xB1;     // out  | the send frame below
constexpr uint8_t kReqReceiveReply = 0xB2;  // in   | n + kReplyDataOffset: the receive reply below
constexpr uint8_t kReqSetParam = 0xB3;      // in 2 | value = parameter byte; answer 0 = accepted
constexpr uint8_t kReqGetParam = 0xB4;      // in 1 | the parameter byte
constexpr uint8_t kReqReceivePoll = 0xB5;   // in 1 | data bytes of the next reply waiting (0 = none)
constexpr uint8_t kReqSendStatus = 0xB6;    // in 2 | kSendStatusOk or kSendStatusRefused
constexpr uint8_t kReqStop = 0xD0;          // in 1 | stops HART; answer ignored
constexpr uint8_t kReqPrepare = 0xD1;       // in 1 | first step of starting; answer ignored
constexpr uint8_t kReqSerial = 0xD2;        // in 2 | the adapter's serial (boot loader; read by the service)

// Processor control register of the adapter's USB controller, written with
// kReqWriteRam: 1 holds the processor, 0 lets it run.
constexpr uint16_t kCpuControlAddress = 0xE600;

// Send frame (kReqSendFrame): FF FF FF FF, preambles, frame length, FF FF,
// then the frame.
constexpr size_t kSendHeaderSize = 8;
constexpr size_t kSendPreamblesOffset = 4;
constexpr size_t kSendLengthOffset = 5;
constexpr uint8_t kMinPreambles = 5;
constexpr uint8_t kMaxPreambles = 20;
constexpr uint8_t kMaxFrameLength = 192;

// Answers of kReqSendStatus.
constexpr uint16_t kSendStatusOk = 0x0000;
constexpr uint16_t kSendStatusRefused = 0x8300;

// Receive reply (kReqReceiveReply): byte 0 kind, byte 6 data length, bytes
// 9.. data.
constexpr size_t kReplyKindOffset = 0;
constexpr size_t kReplyLengthOffset = 6;
constexpr size_t kReplyDataOffset = 9;
constexpr size_t kReplyMaxSize = kReplyDataOffset + kMaxFrameLength;  // 201

// Kinds of a receive reply (byte 0).
constexpr uint8_t kReplyKindAnswer = 0x40;  // a field device's answer to a request
constexpr uint8_t kReplyKindBurst = 0x80;   // a burst frame
constexpr uint8_t kReplyKindStatus = 0xC0;  // a communication status of the adapter

// Master role argument of kReqStartHart.
constexpr uint16_t kPrimaryMaster = 1;
constexpr uint16_t kSecondaryMaster = 2;

}  // namespace shared
