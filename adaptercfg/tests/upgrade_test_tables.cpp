// Firmware tables for the tests that run the EEPROM upgrade: the shape of
// the real ones (a loader of 68 data records and the end record, a boot
// program of 58 data records over 0x0000..0x030C and the end record), filled
// with a counting pattern, and not marked as stand-ins, so that the upgrade
// runs. Only test programs link this file; the program links the tables
// named by ADAPTERCFG_FIRMWARE_TABLES.
#include "firmware.h"

namespace adaptercfg {

namespace {

std::vector<FirmwareRecord> Records(uint8_t fill, int count, uint8_t firstSize, int firstRecords, uint8_t restSize) {
  std::vector<FirmwareRecord> records;
  uint16_t address = 0;
  for (int i = 0; i < count; ++i) {
    FirmwareRecord r = {i < firstRecords ? firstSize : restSize, address, kRecordData, {}};
    for (uint8_t b = 0; b < r.count; ++b) r.data[b] = static_cast<uint8_t>(fill + address + b);
    address = static_cast<uint16_t>(address + r.count);
    records.push_back(r);
  }
  records.push_back(FirmwareRecord{0, 0, kRecordEnd, {}});
  return records;
}

}  // namespace

const std::vector<FirmwareRecord>& EepromLoaderTable() {
  static const std::vector<FirmwareRecord> table = Records(0x11, 68, 16, 68, 16);
  return table;
}

const std::vector<FirmwareRecord>& BootProgramTable() {
  static const std::vector<FirmwareRecord> table = Records(0x5A, 58, 14, 27, 13);
  return table;
}

bool FirmwareTablesAreStandIns() { return false; }

}  // namespace adaptercfg
