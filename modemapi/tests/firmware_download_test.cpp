// Firmware download against a recording transport: block building, the
// failure rules and the embedded image's shape.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "firmware_download.h"

using namespace shared;

namespace modemapi {
namespace {

struct Transfer {
  SetupPacket setup;
  std::vector<uint8_t> data;
};

class RecordingPort : public ControlPort {
 public:
  bool ControlTransfer(const SetupPacket& setup, uint8_t* data) override {
    transfers.push_back({setup, std::vector<uint8_t>(data, data + setup.length)});
    return transfers.size() != failAt;
  }
  // RAM writes other than the processor control register.
  std::vector<Transfer> RamWrites() const {
    std::vector<Transfer> writes;
    for (const Transfer& t : transfers) {
      if (t.setup.value != kCpuControlAddress) writes.push_back(t);
    }
    return writes;
  }
  std::vector<Transfer> transfers;
  size_t failAt = 0;  // 1-based index of the transfer that fails, 0 = none
};

class Table {
 public:
  Table& Data(uint16_t address, uint8_t count, uint8_t fill = 0x11) {
    uint8_t record[kFirmwareRecordSize] = {count, uint8_t(address), uint8_t(address >> 8), 0};
    for (uint8_t i = 0; i < count && i < 16; ++i) record[4 + i] = uint8_t(fill + i);
    bytes.insert(bytes.end(), record, record + sizeof record);
    return *this;
  }
  Table& End() {
    uint8_t record[kFirmwareRecordSize] = {0, 0, 0, 1};
    bytes.insert(bytes.end(), record, record + sizeof record);
    return *this;
  }
  std::vector<uint8_t> bytes;
};

bool IsCpuWrite(const Transfer& t, uint8_t value) {
  return t.setup.requestType == kRequestTypeOut && t.setup.request == kReqWriteRam &&
         t.setup.value == kCpuControlAddress && t.setup.length == 1 && t.data[0] == value;
}

std::vector<uint16_t> Lengths(const std::vector<Transfer>& writes) {
  std::vector<uint16_t> lengths;
  for (const Transfer& t : writes) lengths.push_back(t.setup.length);
  return lengths;
}

TEST(FirmwareDownload, EmbeddedImageIsWrittenIn125BlocksBetweenHoldAndRelease) {
  RecordingPort port;
  ASSERT_TRUE(DownloadFirmware(port, kFirmwareImage, kFirmwareImageSize));
  EXPECT_EQ(kFirmwareImageSize, 380u * kFirmwareRecordSize);

  ASSERT_GE(port.transfers.size(), 2u);
  EXPECT_TRUE(IsCpuWrite(port.transfers.front(), 1));
  EXPECT_TRUE(IsCpuWrite(port.transfers.back(), 0));

  const std::vector<Transfer> writes = port.RamWrites();
  EXPECT_EQ(writes.size(), 125u);
  EXPECT_EQ(port.transfers.size(), 127u);
  size_t total = 0;
  std::vector<int> ram(0x4000, -1);
  for (const Transfer& t : writes) {
    EXPECT_EQ(t.setup.requestType, kRequestTypeOut);
    EXPECT_EQ(t.setup.request, kReqWriteRam);
    EXPECT_EQ(t.setup.index, 0);
    EXPECT_LE(t.setup.length, 64);
    total += t.setup.length;
    for (size_t i = 0; i < t.data.size(); ++i) ram[t.setup.value + i] = t.data[i];
  }
  EXPECT_EQ(total, 5493u);

  // Every data byte of every record arrived at its address.
  for (size_t offset = 0; kFirmwareImage[offset + 3] == 0; offset += kFirmwareRecordSize) {
    const uint8_t* record = kFirmwareImage + offset;
    const uint16_t address = uint16_t(record[1] | (record[2] << 8));
    for (uint8_t i = 0; i < record[0]; ++i) {
      ASSERT_EQ(ram[address + i], record[4 + i]) << "address " << address + i;
    }
  }
}

TEST(FirmwareDownload, BlocksSplitAtSixtyFourBytesAndAtAddressGaps) {
  Table table;
  for (int i = 0; i < 17; ++i) table.Data(uint16_t(0x100 + 16 * i), 16);
  table.Data(0x400, 3).Data(0x403, 5).Data(0x500, 2).End();
  RecordingPort port;
  ASSERT_TRUE(DownloadFirmware(port, table.bytes.data(), table.bytes.size()));
  const std::vector<Transfer> writes = port.RamWrites();
  EXPECT_EQ(Lengths(writes), (std::vector<uint16_t>{64, 64, 64, 64, 16, 8, 2}));
  EXPECT_EQ(writes[4].setup.value, 0x200);
  EXPECT_EQ(writes[5].setup.value, 0x400);
  EXPECT_EQ(writes[6].setup.value, 0x500);
  // Bytes of two records joined in one block keep their order.
  EXPECT_EQ(writes[5].data, (std::vector<uint8_t>{0x11, 0x12, 0x13, 0x11, 0x12, 0x13, 0x14, 0x15}));
}

TEST(FirmwareDownload, TableWithoutLeadingDataRecordOnlyHoldsAndReleases) {
  Table table;
  table.End().Data(0x10, 4).End();
  RecordingPort port;
  EXPECT_TRUE(DownloadFirmware(port, table.bytes.data(), table.bytes.size()));
  ASSERT_EQ(port.transfers.size(), 2u);
  EXPECT_TRUE(IsCpuWrite(port.transfers[0], 1));
  EXPECT_TRUE(IsCpuWrite(port.transfers[1], 0));

  RecordingPort failingRelease;
  failingRelease.failAt = 2;
  EXPECT_FALSE(DownloadFirmware(failingRelease, table.bytes.data(), table.bytes.size()));
}

TEST(FirmwareDownload, RejectedImagesStopAtOnceAndLeaveTheProcessorHeld) {
  {
    SCOPED_TRACE("shorter than one record: nothing is sent");
    Table table;
    table.End();
    RecordingPort port;
    EXPECT_FALSE(DownloadFirmware(port, table.bytes.data(), 19));
    EXPECT_TRUE(port.transfers.empty());
  }
  {
    SCOPED_TRACE("record address above 0x3FF0");
    Table table;
    table.Data(0x0000, 16).Data(0x3FF1, 1).End();
    RecordingPort port;
    EXPECT_FALSE(DownloadFirmware(port, table.bytes.data(), table.bytes.size()));
    ASSERT_EQ(port.transfers.size(), 1u);  // the hold; the address is checked before any write
    EXPECT_TRUE(IsCpuWrite(port.transfers[0], 1));
  }
  {
    SCOPED_TRACE("last record is a data record");
    Table table;
    table.Data(0x0000, 16).Data(0x0010, 16);
    RecordingPort port;
    EXPECT_FALSE(DownloadFirmware(port, table.bytes.data(), table.bytes.size()));
    for (const Transfer& t : port.transfers) EXPECT_FALSE(IsCpuWrite(t, 0));
  }
  {
    SCOPED_TRACE("a record claims more than 16 data bytes");
    Table table;
    table.Data(0x0000, 17).End();
    RecordingPort port;
    EXPECT_FALSE(DownloadFirmware(port, table.bytes.data(), table.bytes.size()));
    EXPECT_EQ(port.transfers.size(), 1u);
  }
  {
    SCOPED_TRACE("a RAM write fails");
    Table table;
    table.Data(0x0000, 16).Data(0x0100, 16).Data(0x0200, 16).End();
    RecordingPort port;
    port.failAt = 3;
    EXPECT_FALSE(DownloadFirmware(port, table.bytes.data(), table.bytes.size()));
    EXPECT_EQ(port.transfers.size(), 3u);
  }
  {
    SCOPED_TRACE("the hold fails");
    RecordingPort port;
    port.failAt = 1;
    EXPECT_FALSE(DownloadFirmware(port, kFirmwareImage, kFirmwareImageSize));
    EXPECT_EQ(port.transfers.size(), 1u);
  }
}

TEST(FirmwareDownload, HighestRecordAddressIsAccepted) {
  Table table;
  table.Data(0x3FF0, 16).End();
  RecordingPort port;
  EXPECT_TRUE(DownloadFirmware(port, table.bytes.data(), table.bytes.size()));
  const std::vector<Transfer> writes = port.RamWrites();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].setup.value, 0x3FF0);
}

}  // namespace
}  // namespace modemapi
