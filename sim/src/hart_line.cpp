#include "hart_line.h"

#include <algorithm>
#include <cstring>

#include "hart/identity.h"

namespace sim {

namespace {

// Response codes and communication errors of the answers.
constexpr uint8_t kInvalidSelection = 2;
constexpr uint8_t kTooFewDataBytes = 5;
constexpr uint8_t kNotImplemented = 64;
constexpr uint8_t kChecksumError = hart::kCommErrorBit | 0x08;  // longitudinal parity

hart::Identity IdentityOf(const SimFieldDevice& d) {
    hart::Identity id;
    id.manufacturerId = d.manufacturerId;
    id.deviceType = d.deviceType;
    id.preambles = d.preambles;
    id.hartRevision = d.hartRevision;
    id.deviceRevision = d.deviceRevision;
    id.softwareRevision = d.softwareRevision;
    id.hardwareRevision = d.hardwareRevision;
    id.physicalSignalling = d.physicalSignalling;
    id.flags = d.flags;
    id.deviceId = d.deviceId & 0xFFFFFF;
    return id;
}

hart::LongAddress LongAddressOf(const SimFieldDevice& d) {
    return hart::MakeLongAddress(d.manufacturerId, d.deviceType, d.deviceId);
}

bool IsBroadcast(const hart::Frame& f) {
    if (!f.longAddress) return false;
    for (uint8_t b : f.address)
        if (b) return false;
    return true;
}

bool Addressed(const SimFieldDevice& d, const hart::Frame& f) {
    if (!f.longAddress) return f.address[0] == d.pollingAddress;
    return f.address == LongAddressOf(d);
}

struct Answer {
    uint8_t firstStatus = 0;
    std::vector<uint8_t> data;
};

// The built-in answer of a device; false for no answer.
bool BuiltInAnswer(FieldDevice& device, const hart::Frame& request, Answer& answer) {
    SimFieldDevice& d = device.config;
    switch (request.command) {
    case 0:
        answer.data = hart::EncodeCommand0Data(IdentityOf(d));
        return true;
    case 6: {
        if (request.data.empty()) {
            answer.firstStatus = kTooFewDataBytes;
            return true;
        }
        const uint8_t limit = d.hartRevision >= 6 ? 63 : 15;
        if (request.data[0] > limit) {
            answer.firstStatus = kInvalidSelection;
            return true;
        }
        d.pollingAddress = request.data[0];
        answer.data = request.data;
        return true;
    }
    case 11: {
        const std::vector<uint8_t> tag = hart::PackAscii(d.tag, 8);
        if (request.data.size() < tag.size() || !std::equal(tag.begin(), tag.end(), request.data.begin()))
            return false;
        answer.data = hart::EncodeCommand0Data(IdentityOf(d));
        return true;
    }
    case 13: {
        answer.data = hart::PackAscii(d.tag, 8);
        const std::vector<uint8_t> descriptor = hart::PackAscii(d.descriptor, 16);
        answer.data.insert(answer.data.end(), descriptor.begin(), descriptor.end());
        answer.data.insert(answer.data.end(), d.date, d.date + 3);
        return true;
    }
    case 20:
        if (d.hartRevision < 6) {
            answer.firstStatus = kNotImplemented;
            return true;
        }
        answer.data.assign(32, 0);
        std::memcpy(answer.data.data(), d.longTag, strnlen(d.longTag, 32));
        return true;
    case 105:
        if (d.hartRevision >= 7) {
            // control code, expansion flag 31, eight device variable codes
            // (250 = unused), message 0, one message, extended command number
            answer.data = {d.burstMode, 31, 250, 250, 250, 250, 250, 250, 250, 250, 0, 1, 0, d.burstCommand};
        } else if (d.hartRevision == 6) {
            answer.data = {d.burstMode, d.burstCommand, 250, 250, 250, 250};
        } else {
            answer.data = {d.burstMode, d.burstCommand};
        }
        return true;
    default:
        answer.firstStatus = kNotImplemented;
        return true;
    }
}

std::vector<uint8_t> BuildAnswerFrame(const FieldDevice& device, const hart::Frame& request, const Answer& answer) {
    hart::Frame frame;
    frame.type = hart::FrameType::Answer;
    frame.longAddress = request.longAddress;
    frame.address = request.longAddress ? LongAddressOf(device.config) : request.address;
    frame.primaryMaster = request.primaryMaster;
    frame.burstMode = device.config.burstMode != 0;
    frame.command = request.command;
    frame.responseCode = answer.firstStatus;
    if (answer.firstStatus & hart::kCommErrorBit) {
        frame.deviceStatus = 0;
    } else {
        frame.deviceStatus = device.config.deviceStatus;
        frame.data = answer.data;
    }
    std::vector<uint8_t> bytes;
    if (frame.data.size() > hart::kMaxByteCount - 2) frame.data.resize(hart::kMaxByteCount - 2);
    hart::BuildFrame(frame, bytes);
    return bytes;
}

}  // namespace

std::vector<LineFrame> HartLine::Transmit(const uint8_t* bytes, size_t length) {
    std::vector<LineFrame> answers;
    hart::Frame request;
    const hart::FrameError error = hart::ParseFrame(bytes, length, request);
    if (error != hart::FrameError::None && error != hart::FrameError::BadChecksum) return answers;
    if (request.type != hart::FrameType::Request) return answers;
    const bool broadcast = IsBroadcast(request);

    for (FieldDevice& device : devices_) {
        const bool addressed = Addressed(device.config, request);
        if (device.silent || (!addressed && !(broadcast && request.command == 11))) continue;
        // Short frames carry command 0 only.
        if (!request.longAddress && request.command != 0) continue;

        LineFrame out;
        out.delayMs = device.config.answerDelayMs;
        Answer answer;
        if (error == hart::FrameError::BadChecksum) {
            if (!addressed) continue;
            answer.firstStatus = kChecksumError;
            out.frame = BuildAnswerFrame(device, request, answer);
        } else if (auto it = device.overrides.find(request.command); it != device.overrides.end()) {
            const AnswerOverride& o = it->second;
            if (o.kind == AnswerOverride::Kind::Silent) continue;
            if (o.kind == AnswerOverride::Kind::Raw) {
                out.frame = o.bytes;
            } else {
                answer.firstStatus = o.firstStatus;
                answer.data = o.bytes;
                out.frame = BuildAnswerFrame(device, request, answer);
            }
        } else {
            if (!BuiltInAnswer(device, request, answer)) continue;
            out.frame = BuildAnswerFrame(device, request, answer);
        }
        answers.push_back(std::move(out));
    }
    return answers;
}

std::vector<uint8_t> HartLine::BurstFrame(const FieldDevice& device, uint8_t command, const uint8_t* data,
                                          size_t count) {
    hart::Frame frame;
    frame.type = hart::FrameType::Burst;
    frame.longAddress = true;
    frame.address = LongAddressOf(device.config);
    frame.primaryMaster = true;
    frame.burstMode = true;
    frame.command = command;
    frame.deviceStatus = device.config.deviceStatus;
    if (count) frame.data.assign(data, data + std::min<size_t>(count, hart::kMaxByteCount - 2));
    std::vector<uint8_t> bytes;
    hart::BuildFrame(frame, bytes);
    return bytes;
}

FieldDevice* HartLine::Find(uint32_t deviceId) {
    for (FieldDevice& d : devices_)
        if (d.config.deviceId == (deviceId & 0xFFFFFF)) return &d;
    return nullptr;
}

void HartLine::AddOrReplace(const SimFieldDevice& config) {
    SimFieldDevice c = config;
    c.deviceId &= 0xFFFFFF;
    c.pollingAddress &= 0x3F;
    c.tag[sizeof c.tag - 1] = '\0';
    c.descriptor[sizeof c.descriptor - 1] = '\0';
    c.longTag[sizeof c.longTag - 1] = '\0';
    if (FieldDevice* existing = Find(c.deviceId)) {
        *existing = FieldDevice{c, {}, false};
        return;
    }
    devices_.push_back(FieldDevice{c, {}, false});
}

bool HartLine::Remove(uint32_t deviceId) {
    for (auto it = devices_.begin(); it != devices_.end(); ++it) {
        if (it->config.deviceId == (deviceId & 0xFFFFFF)) {
            devices_.erase(it);
            return true;
        }
    }
    return false;
}

std::vector<SimFieldDevice> HartLine::Configs() const {
    std::vector<SimFieldDevice> configs;
    for (const FieldDevice& d : devices_) configs.push_back(d.config);
    return configs;
}

}  // namespace sim
