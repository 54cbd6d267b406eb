#include "firmware_download.h"

#include <cstring>

namespace modemapi {

namespace {

struct FirmwareRecord {
  uint8_t count;
  uint16_t address;
  uint8_t type;
  const uint8_t* data;
};

FirmwareRecord ReadRecord(const uint8_t* record) {
  return {record[0], static_cast<uint16_t>(record[1] | (record[2] << 8)), record[3], record + 4};
}

}  // namespace

bool WriteRam(ControlPort& port, const uint8_t* data, uint16_t count, uint16_t address) {
  uint8_t block[kFirmwareBlockSize];
  if (count > sizeof block) return false;
  std::memcpy(block, data, count);
  shared::SetupPacket setup{shared::kRequestTypeOut, shared::kReqWriteRam, address, 0, count};
  return port.ControlTransfer(setup, block);
}

bool SetCpuReset(ControlPort& port, uint8_t value) {
  return WriteRam(port, &value, 1, shared::kCpuControlAddress);
}

bool DownloadFirmware(ControlPort& port, const uint8_t* table, size_t size) {
  if (table == nullptr || size < kFirmwareRecordSize) return false;
  if (!SetCpuReset(port, 1)) return false;

  if (ReadRecord(table).type == kFirmwareDataRecord) {
    uint8_t block[kFirmwareBlockSize];
    size_t fill = 0;
    uint16_t blockStart = 0;
    for (size_t offset = 0;; offset += kFirmwareRecordSize) {
      const FirmwareRecord record = ReadRecord(table + offset);
      if (record.address > kFirmwareHighestRecordAddress) return false;
      // A count above 16 would read past the record: refuse such an image.
      if (record.count > kFirmwareRecordDataSize) return false;

      const bool contiguous = record.address == blockStart + fill;
      if (fill > 0 && (!contiguous || fill + record.count > kFirmwareBlockSize)) {
        if (!WriteRam(port, block, static_cast<uint16_t>(fill), blockStart)) return false;
        fill = 0;
      }
      if (fill == 0) blockStart = record.address;
      std::memcpy(block + fill, record.data, record.count);
      fill += record.count;

      const size_t next = offset + kFirmwareRecordSize;
      if (next + kFirmwareRecordSize > size) return false;  // the image must end with an end record
      if (ReadRecord(table + next).type != kFirmwareDataRecord) {
        if (fill > 0 && !WriteRam(port, block, static_cast<uint16_t>(fill), blockStart)) return false;
        break;
      }
    }
  }

  const bool released = SetCpuReset(port, 0);
  ::Sleep(kFirmwareStartPauseMs);
  return released;
}

}  // namespace modemapi
