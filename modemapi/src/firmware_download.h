// Loading the firmware image into the adapter's RAM.
//
// The adapter keeps no firmware between power-ups. At every open the library
// holds the adapter's processor, writes the image into RAM with the boot
// loader's RAM-write request and lets the processor run.
//
// The image is a table of 20-byte records (Intel HEX records as fixed fields):
//   byte 0     count: data bytes used (0..16)
//   bytes 1-2  target RAM address, little-endian
//   byte 3     type: 0 data; anything else ends the image (1 = end of file)
//   bytes 4-19 data; the first `count` bytes are written
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "control_port.h"

namespace modemapi {

constexpr size_t kFirmwareRecordSize = 20;
constexpr size_t kFirmwareRecordDataSize = 16;
constexpr uint8_t kFirmwareDataRecord = 0;
constexpr uint16_t kFirmwareHighestRecordAddress = 0x3FF0;
constexpr size_t kFirmwareBlockSize = 64;  // bytes per RAM write
constexpr DWORD kFirmwareStartPauseMs = 80;

// Request 0xA0 writing `count` bytes at `address`.
bool WriteRam(ControlPort& port, const uint8_t* data, uint16_t count, uint16_t address);

// 1 holds the adapter's processor, 0 lets it run.
bool SetCpuReset(ControlPort& port, uint8_t value);

// Holds the processor, writes the data records of `table` (`size` bytes) in
// blocks of at most 64 contiguous bytes, releases the processor and pauses
// 80 ms. On failure the processor is left held and nothing more is sent.
bool DownloadFirmware(ControlPort& port, const uint8_t* table, size_t size);

// The image embedded in the library at build time.
extern const uint8_t kFirmwareImage[];
extern const size_t kFirmwareImageSize;

}  // namespace modemapi
