// The boot image: unpacking the program, its layout and the address checks.
#include <gtest/gtest.h>

#include "firmware.h"

namespace adaptercfg_test {
namespace {

using namespace adaptercfg;

FirmwareRecord Data(uint16_t address, uint8_t count, uint8_t fill) {
  FirmwareRecord r = {count, address, kRecordData, {}};
  for (auto& b : r.data) b = fill;
  return r;
}

TEST(Firmware, TablesHaveTheirShape) {
  const auto& loader = EepromLoaderTable();
  ASSERT_EQ(loader.size(), 69u);
  EXPECT_EQ(loader.back().type, kRecordEnd);
  EXPECT_EQ(PackFirmwareTable(loader).size(), 1380u);
  const auto& boot = BootProgramTable();
  ASSERT_EQ(boot.size(), 59u);
  EXPECT_EQ(boot.back().type, kRecordEnd);
  EXPECT_EQ(boot.front().address, 0);
  EXPECT_EQ(boot[57].address + boot[57].count - 1, 0x030C);
}

TEST(Firmware, PackedRecordsAreTwentyBytesWithLittleEndianAddresses) {
  const std::vector<uint8_t> packed = PackFirmwareTable({Data(0x1234, 3, 0xAA), {0, 0, kRecordEnd, {}}});
  ASSERT_EQ(packed.size(), 40u);
  EXPECT_EQ(packed[0], 3);
  EXPECT_EQ(packed[1], 0x34);
  EXPECT_EQ(packed[2], 0x12);
  EXPECT_EQ(packed[3], kRecordData);
  EXPECT_EQ(packed[4], 0xAA);
  EXPECT_EQ(packed[23], kRecordEnd);
}

TEST(Firmware, UnpackedLengthIsOneMoreThanTheSpanOfTheRecords) {
  UnpackedProgram program;
  ASSERT_TRUE(UnpackProgram({Data(0x0110, 16, 1), Data(0x0100, 16, 2), {0, 0, kRecordEnd, {}}}, &program));
  EXPECT_EQ(program.start, 0x0100);
  EXPECT_EQ(program.length, 33);
  EXPECT_EQ(program.bytes.size(), 8000u);
  EXPECT_EQ(program.bytes[0x0100], 2);
  EXPECT_EQ(program.bytes[0x011F], 1);
  EXPECT_EQ(program.bytes[0x0120], 0);

  ASSERT_TRUE(UnpackProgram(BootProgramTable(), &program));
  EXPECT_EQ(program.start, 0);
  EXPECT_EQ(program.length, 0x030D + 1);
}

TEST(Firmware, RecordsOutsideTheBufferOrLongerThanSixteenAreRefused) {
  UnpackedProgram program;
  EXPECT_FALSE(UnpackProgram({Data(7990, 16, 1)}, &program));
  EXPECT_FALSE(UnpackProgram({Data(0xFFF8, 16, 1)}, &program));
  EXPECT_FALSE(UnpackProgram({Data(0, 17, 1)}, &program));
  EXPECT_FALSE(UnpackProgram({{0, 0, kRecordEnd, {}}}, &program));
  EXPECT_TRUE(UnpackProgram({Data(7983, 16, 1)}, &program));  // ends at 7998; the extra byte is 7999
}

TEST(Firmware, BootImageLayout) {
  UnpackedProgram program;
  ASSERT_TRUE(UnpackProgram({Data(0x0100, 4, 0x5A)}, &program));
  const std::vector<uint8_t> image = BuildBootImage(program, 0xBEEF);
  const size_t L = program.length;  // 5
  ASSERT_EQ(image.size(), L + 60);
  const std::vector<uint8_t> header = {0xB1, 0xCC, 0x08, 0x30, 0x00, 0x00, 0x00, 0x00, 0x05, 0x01, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 11), header);
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 11, image.begin() + 11 + L),
            (std::vector<uint8_t>{0x5A, 0x5A, 0x5A, 0x5A, 0x00}));
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 11 + L, image.begin() + 15 + L),
            (std::vector<uint8_t>{0x00, 0x28, 0x08, 0x00}));
  const uint8_t* descriptor = image.data() + 15 + L;
  EXPECT_EQ(descriptor[0], 18);
  EXPECT_EQ(descriptor[8] | descriptor[9] << 8, 0x08CC);
  EXPECT_EQ(descriptor[10] | descriptor[11] << 8, 0x0030);
  EXPECT_EQ(descriptor[18 + 7], 0x80);  // configuration attributes
  EXPECT_EQ(descriptor[18 + 8], 0x64);  // maximum power
  EXPECT_EQ(descriptor[18 + 9 + 4], 0);  // no endpoints
  EXPECT_EQ(descriptor[18 + 9 + 5], 0xFF);
  EXPECT_EQ(descriptor[36], 0xEF);
  EXPECT_EQ(descriptor[37], 0xBE);
  EXPECT_EQ(std::vector<uint8_t>(image.end() - 5, image.end()), (std::vector<uint8_t>{0x80, 0x01, 0x7F, 0x92, 0x00}));
  EXPECT_EQ(BuildDescriptorBlock(1).size(), 40u);
}

}  // namespace
}  // namespace adaptercfg_test
