// The boot image that the EEPROM upgrade writes, and the two firmware
// tables it is made from (the EEPROM loader and the boot program).
#pragma once

#include <cstdint>
#include <vector>

namespace adaptercfg {

// One 20-byte record: count (at most 16), target address, type, data.
struct FirmwareRecord {
  uint8_t count;
  uint16_t address;
  uint8_t type;  // kRecordData or kRecordEnd
  uint8_t data[16];
};
constexpr uint8_t kRecordData = 0;
constexpr uint8_t kRecordEnd = 1;
constexpr size_t kFirmwareRecordSize = 20;

// The tables the program carries. The file that defines them is chosen when
// the program is built (ADAPTERCFG_FIRMWARE_TABLES in CMakeLists.txt); the
// repository's src/firmware_tables.cpp holds stand-ins of the right shape.
const std::vector<FirmwareRecord>& EepromLoaderTable();  // 69 records
const std::vector<FirmwareRecord>& BootProgramTable();   // 58 data records and the end record
// True for stand-in tables: they are not the adapter's controller code, and
// writing them would leave an adapter that no longer starts. The program
// then never offers or runs the upgrade.
bool FirmwareTablesAreStandIns();

// The loader as the legacy driver takes it: 20 bytes a record, the address
// little-endian (1380 bytes).
std::vector<uint8_t> PackFirmwareTable(const std::vector<FirmwareRecord>& records);

constexpr size_t kUnpackedProgramSize = 8000;
struct UnpackedProgram {
  std::vector<uint8_t> bytes;  // kUnpackedProgramSize, 0 where no record wrote
  uint16_t start = 0;          // lowest target address
  uint16_t length = 0;         // highest address + count - start + 1
};
// False when a record's count exceeds 16 or its bytes would lie outside the
// 8000-byte buffer, or there is no data record.
bool UnpackProgram(const std::vector<FirmwareRecord>& records, UnpackedProgram* program);

constexpr uint16_t kVendorId = 0x08CC;
constexpr uint16_t kProductId = 0x0030;
constexpr uint8_t kImageMarkWriting = 0xB1;
constexpr uint8_t kImageMarkComplete = 0xB2;
constexpr uint16_t kUpgradedWord = 0x08B2;  // first EEPROM word of an upgraded adapter
constexpr size_t kDescriptorBlockSize = 40;
constexpr size_t kImageOverhead = 60;  // header, descriptor record and final record

// The 40-byte descriptor block loaded at 0x0800 with the adapter's serial.
std::vector<uint8_t> BuildDescriptorBlock(uint16_t serial);
// The boot image: header, program record, descriptor record, final record
// (program length + 60 bytes), with kImageMarkWriting in byte 0.
std::vector<uint8_t> BuildBootImage(const UnpackedProgram& program, uint16_t serial);

}  // namespace adaptercfg
