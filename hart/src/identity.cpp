#include "hart/identity.h"

namespace hart {

std::vector<uint8_t> EncodeCommand0Data(const Identity& id) {
    std::vector<uint8_t> data = {
        kCommand0Expansion,
        id.manufacturerId,
        id.deviceType,
        id.preambles,
        id.hartRevision,
        id.deviceRevision,
        id.softwareRevision,
        static_cast<uint8_t>((id.hardwareRevision << 3) | (id.physicalSignalling & 0x07)),
        id.flags,
        static_cast<uint8_t>(id.deviceId >> 16),
        static_cast<uint8_t>(id.deviceId >> 8),
        static_cast<uint8_t>(id.deviceId),
    };
    if (id.hartRevision >= 6) {
        data.push_back(id.preambles);  // response preambles
        data.push_back(0);             // last device variable code
    }
    if (id.hartRevision >= 7) {
        const uint8_t rest[] = {0, 0,                   // configuration change counter
                                0,                      // extended device status
                                0, id.manufacturerId,   // manufacturer code
                                0, id.manufacturerId,   // private label distributor
                                1};                     // device profile: process automation
        data.insert(data.end(), rest, rest + sizeof rest);
    }
    return data;
}

bool DecodeCommand0Data(const uint8_t* data, size_t count, Identity& id) {
    if (count < kCommand0MinData || data[0] != kCommand0Expansion) return false;
    id.manufacturerId = data[1];
    id.deviceType = data[2];
    id.preambles = data[3];
    id.hartRevision = data[4];
    id.deviceRevision = data[5];
    id.softwareRevision = data[6];
    id.hardwareRevision = data[7] >> 3;
    id.physicalSignalling = data[7] & 0x07;
    id.flags = data[8];
    id.deviceId = (uint32_t(data[9]) << 16) | (uint32_t(data[10]) << 8) | data[11];
    return true;
}

bool DecodeCommand0Answer(const Frame& answer, Identity& id) {
    if (answer.type != FrameType::Answer) return false;
    if (answer.command != 0 && answer.command != 11) return false;
    if (answer.responseCode & kCommErrorBit) return false;
    return DecodeCommand0Data(answer.data.data(), answer.data.size(), id);
}

LongAddress LongAddressOf(const Identity& id) {
    return MakeLongAddress(id.manufacturerId, id.deviceType, id.deviceId);
}

std::vector<uint8_t> PackAscii(const std::string& text, size_t characters) {
    characters = (characters + 3) / 4 * 4;
    std::vector<uint8_t> out;
    out.reserve(characters / 4 * 3);
    uint32_t group = 0;
    for (size_t i = 0; i < characters; ++i) {
        unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : ' ';
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
        if (c < 0x20 || c > 0x5F) c = '?';
        group = (group << 6) | (c & 0x3F);
        if (i % 4 == 3) {
            out.push_back(static_cast<uint8_t>(group >> 16));
            out.push_back(static_cast<uint8_t>(group >> 8));
            out.push_back(static_cast<uint8_t>(group));
            group = 0;
        }
    }
    return out;
}

std::string UnpackAscii(const uint8_t* bytes, size_t count) {
    std::string text;
    auto put = [&text](unsigned code) { text.push_back(static_cast<char>(code < 32 ? code + 64 : code)); };
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (i % 3) {
        case 0: put(b >> 2); break;
        case 1: put(((bytes[i - 1] & 0x03) << 4) | (b >> 4)); break;
        case 2:
            put(((bytes[i - 1] & 0x0F) << 2) | (b >> 6));
            put(b & 0x3F);
            break;
        }
    }
    return text;
}

}  // namespace hart
