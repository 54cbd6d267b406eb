// Reading the configuration, the COM port texts, serial texts and the
// request sequence of OK, without a window.
#include <gtest/gtest.h>

#include <cstdio>

#include "adapter_config.h"
#include "apply.h"
#include "shared/service_pipe.h"
#include "small_dialogs.h"
#include "test_support.h"

namespace adaptercfg_test {
namespace {

using namespace adaptercfg;

class ConfigModelTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearAdapterRegistry(); }
};

TEST_F(ConfigModelTest, ReadsContiguousKeysWithTheirPortsAndStopsAtTheFirstGap) {
  SetConfigSlot(0, 0x1234, 0);
  SetConfigSlot(1, 0x00AB, 33);   // low byte 33: index (33 - 1) & 31 = 0, COM1
  SetConfigSlot(2, 0x0CD, 0x105); // low byte 5: COM5
  SetConfigSlot(4, 0x5678, 2);
  TreeNode root;
  uint32_t used = 0;
  ReadConfiguration(root, &used);
  ASSERT_EQ(root.children.size(), 3u);
  EXPECT_EQ(root.children[0]->entry->label, " Device 0  ( USB-Device )");
  EXPECT_EQ(root.children[0]->entry->portByte, 0);
  EXPECT_EQ(root.children[1]->entry->serial, 0xABu);
  EXPECT_EQ(root.children[1]->entry->portByte, 0x80);
  EXPECT_EQ(root.children[2]->entry->portByte, 0x84);
  EXPECT_EQ(root.children[2]->parent, &root);
  EXPECT_EQ(root.children[2]->type, kNodeTypeUsbAdapter);
  EXPECT_EQ(used, 0x11u);
}

TEST_F(ConfigModelTest, MissingConfigKeyGivesAnEmptyTree) {
  TreeNode root;
  uint32_t used = 0;
  ReadConfiguration(root, &used);
  EXPECT_TRUE(root.children.empty());
  EXPECT_EQ(used, 0u);
}

TEST(ComPortNames, OnlyComOneToThirtyTwoWithNothingElseCount) {
  EXPECT_EQ(ParseComPortName("COM12", 6), 12);
  EXPECT_EQ(ParseComPortName("COM1", 5), 1);
  EXPECT_EQ(ParseComPortName("COM32", 6), 32);
  for (const char* text : {"COM0", "COM33", "COM4a", "COM", "COM012", "com3", "COM-1", "COM+3", " COM3"})
    EXPECT_EQ(ParseComPortName(text, strlen(text) + 1), 0) << text;
  const char unterminated[4] = {'C', 'O', 'M', '7'};
  EXPECT_EQ(ParseComPortName(unterminated, sizeof unterminated), 7);
  EXPECT_TRUE(IsOwnVirtualPortName("\\Device\\_evHART_USB3"));
  EXPECT_TRUE(IsOwnVirtualPortName("\\Device\\_evHART2USB0"));
  EXPECT_FALSE(IsOwnVirtualPortName("\\Device\\Serial0"));
}

TEST(ComPortNames, ForeignPortsComeFromSerialCommOfOtherDrivers) {
  ClearSerialComm();
  AddSerialComm("\\Device\\Serial0", "COM12");
  AddSerialComm("\\Device\\Serial1", "COM4a");
  AddSerialComm("\\Device\\_evHART_USB0", "COM7");
  AddSerialComm("\\Device\\Serial2", "COM2");
  EXPECT_EQ(ReadForeignPorts(), (1u << 11) | (1u << 1));
  ClearSerialComm();
  EXPECT_EQ(ReadForeignPorts(), 0u);
}

TEST(SerialTexts, HexadecimalUpTo16BitsOnly) {
  uint32_t serial = 7;
  EXPECT_TRUE(ParseSerialText("1A2B", &serial));
  EXPECT_EQ(serial, 0x1A2Bu);
  EXPECT_TRUE(ParseSerialText(" ffff ", &serial));
  EXPECT_EQ(serial, 0xFFFFu);
  serial = 7;
  for (const char* text : {"xyz", "", "  ", "10000", "FFFFFFFFF", "12 34", "0x12", "-1", "1A2Bz"})
    EXPECT_FALSE(ParseSerialText(text, &serial)) << text;
  EXPECT_EQ(serial, 7u);
  EXPECT_EQ(FormatSerial(0xAB), "AB");
}

TEST(ApplyRequests, ValuesByTreePositionFirstThenTheLaterKeysAreDeleted) {
  TreeNode root;
  root.AppendAdapter(0, 0x1A2B, 0x83);
  root.AppendAdapter(2, 0x0002, 0x03);  // index without the wanted bit: no port
  root.AppendAdapter(5, 0x0005, 0x9F);
  const std::vector<PipeMessage> requests = BuildApplyRequests(root);
  ASSERT_EQ(requests.size(), 6u + 237u + 1u);
  const uint8_t example[] = {'e', 'v', 'H', 'R', 'T', '_', 'S', 'e', 't', 'V', 'a', 'l', 'u', 'e', 0,
                             '0', 0,   'U', 'S', 'B', '-', 'I', 'd', 0,   4,   0,   0,   0,   4,   0,
                             0,   0,   0x2B, 0x1A, 0, 0};
  EXPECT_EQ(requests[0], PipeMessage(example, example + sizeof example));
  EXPECT_EQ(requests[1], shared::BuildSetDwordRequest("0", "SerialPort", 4));
  EXPECT_EQ(requests[2], shared::BuildSetDwordRequest("1", "USB-Id", 2));
  EXPECT_EQ(requests[3], shared::BuildSetDwordRequest("1", "SerialPort", 0));
  EXPECT_EQ(requests[5], shared::BuildSetDwordRequest("2", "SerialPort", 32));
  // Rising from the first key past the entries: the first deletion already
  // ends the list for readers that stop at a missing key.
  EXPECT_EQ(requests[6], shared::BuildDeleteKeyRequest("3"));
  EXPECT_EQ(requests[242], shared::BuildDeleteKeyRequest("239"));
  EXPECT_EQ(requests.back(), shared::BuildRenumerateRequest());
  for (const PipeMessage& request : requests) EXPECT_LE(request.size(), shared::kServicePipeReadLimit);

  // A full tree deletes nothing.
  TreeNode full;
  for (int i = 0; i < kMaxDeviceNumbers; ++i) full.AppendAdapter(i, i, 0);
  const std::vector<PipeMessage> fullRequests = BuildApplyRequests(full);
  ASSERT_EQ(fullRequests.size(), 2u * kMaxDeviceNumbers + 1u);
  EXPECT_EQ(fullRequests[2 * kMaxDeviceNumbers - 1], shared::BuildSetDwordRequest("239", "SerialPort", 0));
}

TEST(ApplyRequests, NothingIsSentWithoutTheServicesPipe) {
  TreeNode root;
  root.AppendAdapter(0, 1, 0);
  EXPECT_EQ(SendApplyRequests(BuildApplyRequests(root)), ApplyResult::kServiceUnreachable);
  EXPECT_EQ(SendApplyRequests({}), ApplyResult::kTooLong);
}

TEST(TreeNodes, RemovingAChildKeepsTheOrderAndIgnoresBadPositions) {
  TreeNode root;
  for (int i = 0; i < 3; ++i) root.AppendAdapter(i, i, 0);
  TreeNode* last = root.children[2].get();
  root.RemoveChild(-1);
  root.RemoveChild(3);
  root.RemoveChild(0);
  ASSERT_EQ(root.children.size(), 2u);
  EXPECT_EQ(root.IndexOf(last), 1);
  EXPECT_EQ(root.IndexOf(nullptr), -1);
}

TEST(AboutText, FileVersionOrTheNoVersionText) {
  EXPECT_EQ(LibraryVersionText("no-such-library.dll"), "modemapi.dll: no version information found, ERROR\r\n");
  const std::string text = LibraryVersionText("kernel32.dll");
  unsigned a, b, c, d;
  char end;
  EXPECT_EQ(std::sscanf(text.c_str(), "modemapi.dll: %u.%u.%u.%u%c", &a, &b, &c, &d, &end), 4) << text;
}

}  // namespace
}  // namespace adaptercfg_test
