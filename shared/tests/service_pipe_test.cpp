#include "shared/service_pipe.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using shared::ServicePipeRequest;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

bool Parse(const std::vector<uint8_t>& message, ServicePipeRequest* request) {
  return shared::ParseServicePipeRequest(message.data(), message.size(), request);
}

TEST(ServicePipeLayout, BuildersProduceTheExactMessages) {
  EXPECT_EQ(shared::BuildCreateKeyRequest("5"), Bytes(std::string("evHRT_CreateKey\0" "5\0", 18)));
  EXPECT_EQ(shared::BuildDeleteKeyRequest("12"), Bytes(std::string("evHRT_DeleteKey\0" "12\0", 19)));
  EXPECT_EQ(shared::BuildRenumerateRequest(), Bytes(std::string("evHRT_Renumerate\0", 17)));
  // key "5", name "USB-Id", type 4, length 4, serial 0x1234: 36 bytes.
  EXPECT_EQ(shared::BuildSetDwordRequest("5", "USB-Id", 0x1234),
            Bytes(std::string("evHRT_SetValue\0" "5\0" "USB-Id\0"
                              "\x04\0\0\0" "\x04\0\0\0" "\x34\x12\0\0", 36)));
}

TEST(ServicePipeLayout, BuildersRefuseWhatTheServiceCouldNotReadWhole) {
  EXPECT_TRUE(shared::BuildCreateKeyRequest(std::string(163, 'k')).size() == 180);
  EXPECT_TRUE(shared::BuildCreateKeyRequest(std::string(164, 'k')).empty());
  EXPECT_TRUE(shared::BuildCreateKeyRequest(std::string("a\0b", 3)).empty());
  EXPECT_TRUE(shared::BuildSetValueRequest("5", "x", 3, nullptr, 200).empty());
}

TEST(ServicePipeLayout, ParserAcceptsExactlyTheFixedLengths) {
  ServicePipeRequest request;
  ASSERT_TRUE(Parse(shared::BuildCreateKeyRequest("5"), &request));
  EXPECT_EQ(request.command, shared::PipeCommand::CreateKey);
  EXPECT_EQ(request.key, "5");

  // One trailing zero more: ignored.
  std::vector<uint8_t> longer = shared::BuildCreateKeyRequest("5");
  longer.push_back(0);
  EXPECT_FALSE(Parse(longer, &request));

  ASSERT_TRUE(Parse(shared::BuildDeleteKeyRequest("255"), &request));
  EXPECT_EQ(request.command, shared::PipeCommand::DeleteKey);
  EXPECT_EQ(request.key, "255");

  ASSERT_TRUE(Parse(shared::BuildSetDwordRequest("5", "USB-Id", 0xBEEF), &request));
  EXPECT_EQ(request.command, shared::PipeCommand::SetValue);
  EXPECT_EQ(request.key, "5");
  EXPECT_EQ(request.valueName, "USB-Id");
  EXPECT_EQ(request.valueType, REG_DWORD);
  EXPECT_EQ(request.data, (std::vector<uint8_t>{0xEF, 0xBE, 0, 0}));

  ASSERT_TRUE(Parse(shared::BuildRenumerateRequest(), &request));
  EXPECT_EQ(request.command, shared::PipeCommand::Renumerate);
  std::vector<uint8_t> renumerate18 = shared::BuildRenumerateRequest();
  renumerate18.push_back(0);
  EXPECT_FALSE(Parse(renumerate18, &request));
}

TEST(ServicePipeLayout, ParserIgnoresShortUnknownAndMalformedMessages) {
  ServicePipeRequest request;
  EXPECT_FALSE(Parse(Bytes("evH"), &request));
  EXPECT_FALSE(Parse(Bytes(std::string("evHRT_Other\0" "5\0", 14)), &request));
  // Command word without its zero.
  EXPECT_FALSE(Parse(Bytes("evHRT_CreateKey5"), &request));
  // Key without a terminating zero inside the message.
  EXPECT_FALSE(Parse(Bytes(std::string("evHRT_CreateKey\0" "55", 18)), &request));

  // A SetValue whose length field would wrap a 32-bit sum to the right length.
  std::vector<uint8_t> wrap = shared::BuildSetDwordRequest("5", "USB-Id", 1);
  wrap[15 + 2 + 7 + 4 + 0] = 0xF8;
  wrap[15 + 2 + 7 + 4 + 1] = 0xFF;
  wrap[15 + 2 + 7 + 4 + 2] = 0xFF;
  wrap[15 + 2 + 7 + 4 + 3] = 0xFF;
  EXPECT_FALSE(Parse(wrap, &request));

  // Data length one more than the bytes that follow.
  std::vector<uint8_t> shortData = shared::BuildSetDwordRequest("5", "USB-Id", 1);
  shortData[15 + 2 + 7 + 4] = 5;
  EXPECT_FALSE(Parse(shortData, &request));
}

}  // namespace
