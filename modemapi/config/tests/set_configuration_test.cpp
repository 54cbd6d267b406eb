#include <string>
#include <vector>

#include "config_registry_fixture.h"
#include "modemapi/adapter_registry.h"
#include "pipe_server/recording_pipe_server.h"

namespace {

using Message = testdoubles::RecordingPipeServer::Message;

Message Bytes(const char* text, size_t length) {
  return Message(reinterpret_cast<const uint8_t*>(text),
                 reinterpret_cast<const uint8_t*>(text) + length);
}

Message KeyRequest(const char* command, const std::string& key) {
  std::string text = std::string(command) + '\0' + key + '\0';
  return Bytes(text.data(), text.size());
}

class SetDriverConfiguration : public configtest::AdapterRegistryTest {
 protected:
  void TearDown() override {
    server_.Stop();
    AdapterRegistryTest::TearDown();
  }
  testdoubles::RecordingPipeServer server_;
};

TEST_F(SetDriverConfiguration, BindSendsDeleteCreatesAndOneSet) {
  ASSERT_TRUE(server_.Start());
  const uint8_t bind[5] = {1, 0x34, 0x12, 0, 0};
  ASSERT_EQ(vtHART_SetDriverConfiguration(5, bind), 0);

  std::vector<Message> expected;
  expected.push_back(KeyRequest("evHRT_DeleteKey", "5"));
  for (const char* key : {"0", "1", "2", "3", "4", "5"}) {
    expected.push_back(KeyRequest("evHRT_CreateKey", key));
  }
  expected.push_back(Bytes("evHRT_SetValue\0" "5\0" "USB-Id\0"
                           "\x04\0\0\0" "\x04\0\0\0" "\x34\x12\0\0", 36));
  ASSERT_TRUE(server_.WaitForRequests(expected.size(), 2000));
  EXPECT_EQ(server_.Requests(), expected);
}

TEST_F(SetDriverConfiguration, UnbindLeavesAnEmptyKey) {
  ASSERT_TRUE(server_.Start());
  const uint8_t unbind[5] = {0, 0xFF, 0xFF, 0xFF, 0xFF};  // serial ignored
  ASSERT_EQ(vtHART_SetDriverConfiguration(0, unbind), 0);
  ASSERT_TRUE(server_.WaitForRequests(2, 2000));
  EXPECT_EQ(server_.Requests(), (std::vector<Message>{KeyRequest("evHRT_DeleteKey", "0"),
                                                      KeyRequest("evHRT_CreateKey", "0")}));
}

TEST_F(SetDriverConfiguration, BadArgumentsSendNothing) {
  ASSERT_TRUE(server_.Start());
  const uint8_t tooLarge[5] = {1, 0x00, 0x00, 0x01, 0x00};  // 0x10000
  const uint8_t badAction[5] = {2, 0x34, 0x12, 0, 0};
  EXPECT_EQ(vtHART_SetDriverConfiguration(5, tooLarge), 4);
  EXPECT_EQ(vtHART_SetDriverConfiguration(5, badAction), 4);
  EXPECT_EQ(vtHART_SetDriverConfiguration(5, nullptr), 4);
  ::Sleep(100);
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(SetDriverConfiguration, AdapterInUseIsRefused) {
  ASSERT_TRUE(server_.Start());
  const std::string path = configtest::MakeDevicePath("busy");
  configtest::BindSlot(5, 0x0BEE);
  configtest::AttachAdapter(path, 0x0BEE);
  win32::UniqueFile holder(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  ASSERT_TRUE(holder.valid());
  const uint8_t unbind[5] = {0, 0, 0, 0, 0};
  EXPECT_EQ(vtHART_SetDriverConfiguration(5, unbind), 15);
  ::Sleep(100);
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(SetDriverConfiguration, WithoutTheServiceItFails) {
  const uint8_t bind[5] = {1, 0x34, 0x12, 0, 0};
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(vtHART_SetDriverConfiguration(5, bind), 3);
  EXPECT_LT(::GetTickCount() - start, 3000u);
}

}  // namespace
