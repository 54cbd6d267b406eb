// The identity a field device reports in its command 0 answer (also the
// answer of command 11), and HART packed ASCII as used by tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hart/frame.h"

namespace hart {

constexpr uint8_t kCommand0Expansion = 254;

// Data bytes of a command 0 answer (after the two status bytes):
//   0 expansion (254), 1 manufacturer id, 2 device type, 3 request preambles,
//   4 universal command revision, 5 device revision, 6 software revision,
//   7 hardware revision (bits 7..3) and physical signalling (bits 2..0),
//   8 flags, 9..11 device id (most significant first);
//   revision 6 and higher: 12 response preambles, 13 last device variable;
//   revision 7 and higher: 14..15 configuration change counter,
//   16 extended device status, 17..18 manufacturer code, 19..20 private
//   label distributor, 21 device profile.
struct Identity {
    uint8_t manufacturerId = 0;
    uint8_t deviceType = 0;
    uint8_t preambles = 5;
    uint8_t hartRevision = 5;  // universal command revision
    uint8_t deviceRevision = 0;
    uint8_t softwareRevision = 0;
    uint8_t hardwareRevision = 0;    // 0..31
    uint8_t physicalSignalling = 0;  // 0..7
    uint8_t flags = 0;
    uint32_t deviceId = 0;  // 24 bits
};

constexpr size_t kCommand0MinData = 12;

// Data of a command 0 answer for this identity, as long as its revision
// requires (12, 14 or 22 bytes).
std::vector<uint8_t> EncodeCommand0Data(const Identity& identity);

// Decodes a command 0 (or command 11) answer's data. False when there are
// fewer than 12 bytes or the expansion byte is not 254.
bool DecodeCommand0Data(const uint8_t* data, size_t count, Identity& identity);

// Decodes a whole answer frame: parsed without error, an answer, command
// 0 or 11, response code without communication error, identity data.
bool DecodeCommand0Answer(const Frame& answer, Identity& identity);

LongAddress LongAddressOf(const Identity& identity);

// Packed ASCII: four 6-bit characters in three bytes. Packing takes the
// characters 0x20..0x5F (lower case is raised to upper case, anything else
// becomes '?') and pads with blanks to `characters` (rounded up to 4).
std::vector<uint8_t> PackAscii(const std::string& text, size_t characters);

// Unpacks `count` bytes: a code below 32 is the character code + 64. A
// count that is not a multiple of 3 ends with the characters complete so far.
std::string UnpackAscii(const uint8_t* bytes, size_t count);

}  // namespace hart
