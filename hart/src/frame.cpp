#include "hart/frame.h"

namespace hart {

namespace {

bool KnownType(uint8_t type) {
    return type == static_cast<uint8_t>(FrameType::Burst) || type == static_cast<uint8_t>(FrameType::Request) ||
           type == static_cast<uint8_t>(FrameType::Answer);
}

bool ValidDelimiter(uint8_t delimiter) {
    return (delimiter & 0x78) == 0 && KnownType(delimiter & kFrameTypeMask);
}

size_t AddressSize(uint8_t delimiter) {
    return (delimiter & kLongAddressBit) ? kLongAddressSize : kShortAddressSize;
}

}  // namespace

LongAddress MakeLongAddress(uint8_t manufacturerId, uint8_t deviceType, uint32_t deviceId) {
    return {static_cast<uint8_t>(manufacturerId & kAddressMask), deviceType, static_cast<uint8_t>(deviceId >> 16),
            static_cast<uint8_t>(deviceId >> 8), static_cast<uint8_t>(deviceId)};
}

const char* FrameErrorText(FrameError error) {
    switch (error) {
    case FrameError::None: return "no error";
    case FrameError::TooShort: return "frame too short";
    case FrameError::BadDelimiter: return "unknown delimiter";
    case FrameError::Truncated: return "frame shorter than its byte count";
    case FrameError::TooLong: return "bytes after the checksum";
    case FrameError::BadChecksum: return "checksum mismatch";
    case FrameError::NoStatus: return "answer without status bytes";
    case FrameError::DataTooLong: return "byte count above 255";
    }
    return "unknown error";
}

uint8_t Checksum(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum ^= bytes[i];
    return sum;
}

FrameError BuildFrame(const Frame& frame, std::vector<uint8_t>& out) {
    out.clear();
    const size_t statusBytes = frame.HasStatus() ? 2 : 0;
    const size_t byteCount = statusBytes + frame.data.size();
    if (byteCount > kMaxByteCount) return FrameError::DataTooLong;

    uint8_t delimiter = static_cast<uint8_t>(frame.type);
    if (frame.longAddress) delimiter |= kLongAddressBit;
    out.push_back(delimiter);

    uint8_t first = frame.address[0] & kAddressMask;
    if (frame.primaryMaster) first |= kMasterBit;
    if (frame.burstMode) first |= kBurstBit;
    out.push_back(first);
    if (frame.longAddress) out.insert(out.end(), frame.address.begin() + 1, frame.address.end());

    out.push_back(frame.command);
    out.push_back(static_cast<uint8_t>(byteCount));
    if (statusBytes) {
        out.push_back(frame.responseCode);
        out.push_back(frame.deviceStatus);
    }
    out.insert(out.end(), frame.data.begin(), frame.data.end());
    out.push_back(Checksum(out.data(), out.size()));
    return FrameError::None;
}

FrameError ParseFrame(const uint8_t* bytes, size_t length, Frame& out) {
    if (length < 1 + kShortAddressSize + 3) return FrameError::TooShort;
    const uint8_t delimiter = bytes[0];
    if (!ValidDelimiter(delimiter)) return FrameError::BadDelimiter;
    const size_t addressSize = AddressSize(delimiter);
    const size_t headerSize = 1 + addressSize + 2;
    if (length < headerSize + 1) return FrameError::TooShort;
    const size_t byteCount = bytes[headerSize - 1];
    const size_t total = headerSize + byteCount + 1;
    if (length < total) return FrameError::Truncated;
    if (length > total) return FrameError::TooLong;

    out = Frame{};
    out.type = static_cast<FrameType>(delimiter & kFrameTypeMask);
    out.longAddress = addressSize == kLongAddressSize;
    out.primaryMaster = (bytes[1] & kMasterBit) != 0;
    out.burstMode = (bytes[1] & kBurstBit) != 0;
    out.address[0] = bytes[1] & kAddressMask;
    for (size_t i = 1; i < addressSize; ++i) out.address[i] = bytes[1 + i];
    out.command = bytes[1 + addressSize];

    const uint8_t* payload = bytes + headerSize;
    size_t dataCount = byteCount;
    if (out.HasStatus()) {
        if (byteCount < 2) return FrameError::NoStatus;
        out.responseCode = payload[0];
        out.deviceStatus = payload[1];
        payload += 2;
        dataCount -= 2;
    }
    out.data.assign(payload, payload + dataCount);

    if (Checksum(bytes, total - 1) != bytes[total - 1]) return FrameError::BadChecksum;
    return FrameError::None;
}

bool IsAnswerTo(const uint8_t* request, size_t requestLength, const uint8_t* answer, size_t answerLength) {
    if (!request || !answer || requestLength < 1 || answerLength < 1) return false;
    if (!ValidDelimiter(request[0]) || !ValidDelimiter(answer[0])) return false;
    if ((answer[0] & kFrameTypeMask) != static_cast<uint8_t>(FrameType::Answer)) return false;
    if ((answer[0] & kLongAddressBit) != (request[0] & kLongAddressBit)) return false;
    const size_t addressSize = AddressSize(request[0]);
    // Delimiter, address and command of both.
    if (requestLength < 2 + addressSize || answerLength < 2 + addressSize) return false;
    if ((answer[1] & kAddressMask) != (request[1] & kAddressMask)) return false;
    for (size_t i = 2; i <= addressSize; ++i) {
        if (answer[i] != request[i]) return false;
    }
    return answer[1 + addressSize] == request[1 + addressSize];
}

bool ReadBurstAddress(const uint8_t* bytes, size_t length, LongAddress* address) {
    if (!bytes || !address) return false;
    const uint8_t burst = kLongAddressBit | static_cast<uint8_t>(FrameType::Burst);
    // Delimiter, address, command, byte count, two status bytes.
    if (length < 1 + kLongAddressSize + 4 || bytes[0] != burst) return false;
    *address = {static_cast<uint8_t>(bytes[1] & kAddressMask), bytes[2], bytes[3], bytes[4], bytes[5]};
    return true;
}

std::vector<uint8_t> BuildShortCommand0(uint8_t pollingAddress, bool primaryMaster) {
    Frame frame;
    frame.address[0] = pollingAddress;
    frame.primaryMaster = primaryMaster;
    std::vector<uint8_t> out;
    BuildFrame(frame, out);
    return out;
}

namespace {

// A long frame of the given type to or from a device; answers get both
// status bytes 0.
std::vector<uint8_t> BuildLongFrame(FrameType type, const LongAddress& address, bool primaryMaster,
                                    uint8_t command, const uint8_t* data, size_t count) {
    Frame frame;
    frame.type = type;
    frame.longAddress = true;
    frame.address = address;
    frame.primaryMaster = primaryMaster;
    frame.command = command;
    if (count) frame.data.assign(data, data + count);
    std::vector<uint8_t> out;
    BuildFrame(frame, out);
    return out;
}

}  // namespace

std::vector<uint8_t> BuildLongRequest(const LongAddress& address, bool primaryMaster, uint8_t command,
                                      const uint8_t* data, size_t count) {
    return BuildLongFrame(FrameType::Request, address, primaryMaster, command, data, count);
}

std::vector<uint8_t> BuildLongAnswer(const LongAddress& address, bool primaryMaster, uint8_t command,
                                     const std::vector<uint8_t>& data) {
    return BuildLongFrame(FrameType::Answer, address, primaryMaster, command, data.data(), data.size());
}

}  // namespace hart
