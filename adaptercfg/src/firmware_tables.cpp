// STAND-IN firmware tables.
//
// The adapter's real EEPROM loader and boot program are its maker's
// controller code and are not part of this repository. These tables have
// exactly their shape, so that every path of the upgrade runs:
//   - EEPROM loader: 68 data records of 16 bytes at 0x0000..0x043F and the
//     end record: 69 records, 1380 bytes as the driver takes them;
//   - boot program: 58 data records, contiguous over 0x0000..0x030C (27 of
//     14 bytes, then 31 of 13 bytes), and the end record.
// Their bytes are a fixed pseudo-random pattern, not code: written into an
// adapter they would leave it unable to start. FirmwareTablesAreStandIns()
// says so, and the program then never offers or runs the upgrade. To ship
// real firmware, build with a file that defines the same three functions
// over the real records (ADAPTERCFG_FIRMWARE_TABLES, see CMakeLists.txt),
// its FirmwareTablesAreStandIns() answering false.
#include "firmware.h"

namespace adaptercfg {

namespace {

uint8_t PatternByte(uint32_t seed, uint32_t address) {
  uint32_t x = seed * 0x9E3779B1u ^ (address + 1) * 0x85EBCA77u;
  x ^= x >> 15;
  x *= 0x2C1B3C6Du;
  x ^= x >> 12;
  return static_cast<uint8_t>(x);
}

FirmwareRecord DataRecord(uint32_t seed, uint16_t address, uint8_t count) {
  FirmwareRecord r = {count, address, kRecordData, {}};
  for (uint8_t i = 0; i < count; ++i) r.data[i] = PatternByte(seed, address + i);
  return r;
}

FirmwareRecord EndRecord() { return FirmwareRecord{0, 0, kRecordEnd, {}}; }

std::vector<FirmwareRecord> MakeLoader() {
  std::vector<FirmwareRecord> records;
  for (uint16_t i = 0; i < 68; ++i) records.push_back(DataRecord(1, static_cast<uint16_t>(i * 16), 16));
  records.push_back(EndRecord());
  return records;
}

std::vector<FirmwareRecord> MakeBootProgram() {
  std::vector<FirmwareRecord> records;
  uint16_t address = 0;
  for (int i = 0; i < 58; ++i) {
    const uint8_t count = i < 27 ? 14 : 13;
    records.push_back(DataRecord(2, address, count));
    address = static_cast<uint16_t>(address + count);
  }
  records.push_back(EndRecord());
  return records;  // the last data byte lies at 0x030C
}

}  // namespace

const std::vector<FirmwareRecord>& EepromLoaderTable() {
  static const std::vector<FirmwareRecord> table = MakeLoader();
  return table;
}

const std::vector<FirmwareRecord>& BootProgramTable() {
  static const std::vector<FirmwareRecord> table = MakeBootProgram();
  return table;
}

bool FirmwareTablesAreStandIns() { return true; }

}  // namespace adaptercfg
