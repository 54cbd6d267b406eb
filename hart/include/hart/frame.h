// HART frames as they travel between a master and field devices: building
// and checking. The adapter adds the preambles, so a frame here starts with
// the delimiter and ends with the checksum.
//
// Layout: delimiter, address (1 byte short, 5 bytes long), command, byte
// count, [two status bytes in answers and burst frames], data, checksum
// (XOR of every byte before it). The byte count covers the status bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hart {

// Delimiter: bit 7 long address, bits 0..2 frame type. Expansion bytes and
// other physical layers (bits 3..6) are not used on this line.
constexpr uint8_t kLongAddressBit = 0x80;
constexpr uint8_t kFrameTypeMask = 0x07;

enum class FrameType : uint8_t {
    Burst = 0x01,    // BACK: burst frame from a field device
    Request = 0x02,  // STX: master to field device
    Answer = 0x06,   // ACK: field device to master
};

// First address byte: bit 7 the master (1 primary), bit 6 burst mode.
constexpr uint8_t kMasterBit = 0x80;
constexpr uint8_t kBurstBit = 0x40;
constexpr uint8_t kAddressMask = 0x3F;

constexpr size_t kShortAddressSize = 1;
constexpr size_t kLongAddressSize = 5;
constexpr size_t kMaxByteCount = 255;

// First status byte of an answer: bit 7 set means a communication error
// (the rest of the byte tells which); clear means a response code.
constexpr uint8_t kCommErrorBit = 0x80;

using LongAddress = std::array<uint8_t, kLongAddressSize>;

// Long address of a device: manufacturer id (low 6 bits), device type, the
// 24-bit device id most significant byte first.
LongAddress MakeLongAddress(uint8_t manufacturerId, uint8_t deviceType, uint32_t deviceId);

struct Frame {
    FrameType type = FrameType::Request;
    bool longAddress = false;
    // Address bits without the master and burst bits: short frames use
    // address[0] (the polling address), long frames all five.
    LongAddress address{};
    bool primaryMaster = false;
    bool burstMode = false;
    uint8_t command = 0;
    // Answers and burst frames only.
    uint8_t responseCode = 0;
    uint8_t deviceStatus = 0;
    std::vector<uint8_t> data;  // after the status bytes, if any

    bool HasStatus() const { return type != FrameType::Request; }
};

enum class FrameError {
    None,
    TooShort,      // fewer bytes than delimiter, address, command, count, checksum
    BadDelimiter,  // unknown frame type or bits 3..6 set
    Truncated,     // the byte count asks for more bytes than there are
    TooLong,       // bytes left over after the checksum
    BadChecksum,
    NoStatus,      // answer or burst frame with a byte count below 2
    DataTooLong,   // (build) byte count would exceed 255
};

const char* FrameErrorText(FrameError error);

uint8_t Checksum(const uint8_t* bytes, size_t count);

// Builds the frame bytes, delimiter to checksum. DataTooLong when the byte
// count would exceed 255 (then `out` is left empty).
FrameError BuildFrame(const Frame& frame, std::vector<uint8_t>& out);

// Checks `length` bytes as one complete frame and decodes it. With
// BadChecksum the fields are filled all the same (a device still knows
// whom a corrupt request was meant for); with any other error `out` is
// unspecified.
FrameError ParseFrame(const uint8_t* bytes, size_t length, Frame& out);

// Whether `answer` is a field device's answer to `request` (both as they
// travel, delimiter first): an answer frame with the request's address form,
// its address (master and burst bits aside) and its command. Only the
// header is looked at, so an answer damaged behind it still counts as the
// one the request got; a frame from anyone else, or a late answer to an
// earlier command, does not.
bool IsAnswerTo(const uint8_t* request, size_t requestLength, const uint8_t* answer, size_t answerLength);

// The long address (first byte without master and burst bits) of a burst
// frame with a long address, long enough to hold its address, command, byte
// count and both status bytes; false for anything else.
bool ReadBurstAddress(const uint8_t* bytes, size_t length, LongAddress* address);

// Short-frame command 0 to a polling address (0..63): 5 bytes.
std::vector<uint8_t> BuildShortCommand0(uint8_t pollingAddress, bool primaryMaster);

// Long-frame request to a device.
std::vector<uint8_t> BuildLongRequest(const LongAddress& address, bool primaryMaster, uint8_t command,
                                      const uint8_t* data, size_t count);

// Long-frame answer of a device to a primary or secondary master: both
// status bytes 0, then data.
std::vector<uint8_t> BuildLongAnswer(const LongAddress& address, bool primaryMaster, uint8_t command,
                                     const std::vector<uint8_t>& data);

}  // namespace hart
