#include "firmware.h"

namespace adaptercfg {

std::vector<uint8_t> PackFirmwareTable(const std::vector<FirmwareRecord>& records) {
  std::vector<uint8_t> bytes;
  bytes.reserve(records.size() * kFirmwareRecordSize);
  for (const FirmwareRecord& r : records) {
    bytes.push_back(r.count);
    bytes.push_back(static_cast<uint8_t>(r.address));
    bytes.push_back(static_cast<uint8_t>(r.address >> 8));
    bytes.push_back(r.type);
    bytes.insert(bytes.end(), r.data, r.data + 16);
  }
  return bytes;
}

bool UnpackProgram(const std::vector<FirmwareRecord>& records, UnpackedProgram* program) {
  program->bytes.assign(kUnpackedProgramSize, 0);
  uint32_t lowest = UINT32_MAX, highestEnd = 0;
  for (const FirmwareRecord& r : records) {
    if (r.type != kRecordData) continue;
    if (r.count > 16) return false;
    // Records come from a table compiled in, but a wrong table must fail the
    // upgrade, not write past the buffer.
    if (uint32_t(r.address) + r.count >= kUnpackedProgramSize) return false;
    for (uint8_t i = 0; i < r.count; ++i) program->bytes[r.address + i] = r.data[i];
    if (r.address < lowest) lowest = r.address;
    if (uint32_t(r.address) + r.count > highestEnd) highestEnd = uint32_t(r.address) + r.count;
  }
  if (lowest == UINT32_MAX) return false;
  program->start = static_cast<uint16_t>(lowest);
  // One byte longer than the records' span: the byte after the last record
  // is written too (it is 0). The loader on the adapter expects this length.
  program->length = static_cast<uint16_t>(highestEnd - lowest + 1);
  return true;
}

std::vector<uint8_t> BuildDescriptorBlock(uint16_t serial) {
  std::vector<uint8_t> block = {
      // Device descriptor: USB 1.10, class from the interface, 64-byte endpoint 0,
      // vendor 0x08CC, product 0x0030, release 0, no strings, one configuration.
      18, 1, 0x10, 0x01, 0, 0, 0, 64, 0xCC, 0x08, 0x30, 0x00, 0x00, 0x00, 0, 0, 0, 1,
      // Configuration descriptor: total 18 bytes, one interface, bus powered, 200 mA.
      9, 2, 18, 0, 1, 1, 0, 0x80, 0x64,
      // Interface 0, no endpoints, vendor class.
      9, 4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0,
      static_cast<uint8_t>(serial), static_cast<uint8_t>(serial >> 8), 0, 0};
  return block;
}

std::vector<uint8_t> BuildBootImage(const UnpackedProgram& program, uint16_t serial) {
  const uint16_t length = program.length;
  std::vector<uint8_t> image = {
      kImageMarkWriting,
      static_cast<uint8_t>(kVendorId), static_cast<uint8_t>(kVendorId >> 8),
      static_cast<uint8_t>(kProductId), static_cast<uint8_t>(kProductId >> 8),
      0x00, 0x00,
      static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
      static_cast<uint8_t>(program.start >> 8), static_cast<uint8_t>(program.start)};
  image.insert(image.end(), program.bytes.begin() + program.start, program.bytes.begin() + program.start + length);
  const uint8_t descriptorRecord[] = {0x00, 0x28, 0x08, 0x00};  // 40 bytes at 0x0800
  image.insert(image.end(), descriptorRecord, descriptorRecord + 4);
  const std::vector<uint8_t> descriptor = BuildDescriptorBlock(serial);
  image.insert(image.end(), descriptor.begin(), descriptor.end());
  const uint8_t finalRecord[] = {0x80, 0x01, 0x7F, 0x92, 0x00};
  image.insert(image.end(), finalRecord, finalRecord + 5);
  return image;
}

}  // namespace adaptercfg
