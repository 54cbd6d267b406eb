#include <gtest/gtest.h>

#include <algorithm>

#include "hart/frame.h"

namespace {

using hart::Frame;
using hart::FrameError;
using hart::FrameType;
using Bytes = std::vector<uint8_t>;

FrameError Parse(const Bytes& bytes, Frame& frame) { return hart::ParseFrame(bytes.data(), bytes.size(), frame); }

TEST(HartFrame, ShortCommand0HasTheWireLayout) {
    EXPECT_EQ(hart::BuildShortCommand0(3, true), (Bytes{0x02, 0x83, 0x00, 0x00, 0x81}));
    EXPECT_EQ(hart::BuildShortCommand0(0, false), (Bytes{0x02, 0x00, 0x00, 0x00, 0x02}));
    // Only the six address bits of a polling address go out.
    EXPECT_EQ(hart::BuildShortCommand0(0x7F, false)[1], 0x3F);
}

TEST(HartFrame, LongAnswerAnswersItsRequestOnly) {
    const hart::LongAddress address = hart::MakeLongAddress(0x26, 0x06, 0x03ABCD);
    const Bytes request = hart::BuildLongRequest(address, true, 3, nullptr, 0);
    const Bytes answer = hart::BuildLongAnswer(address, true, 3, {0x11});
    const Bytes expected = {0x86, 0xA6, 0x06, 0x03, 0xAB, 0xCD, 0x03, 0x03, 0x00, 0x00, 0x11};
    ASSERT_EQ(answer.size(), expected.size() + 1);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), answer.begin()));
    EXPECT_EQ(answer.back(), hart::Checksum(answer.data(), answer.size() - 1));
    EXPECT_TRUE(hart::IsAnswerTo(request.data(), request.size(), answer.data(), answer.size()));
    // Nor is the same device's answer to another command.
    const Bytes otherCommand = hart::BuildLongAnswer(address, true, 4, {0x11});
    EXPECT_FALSE(hart::IsAnswerTo(request.data(), request.size(), otherCommand.data(), otherCommand.size()));
}

TEST(HartFrame, LongRequestLayoutAndRoundTrip) {
    const hart::LongAddress address = hart::MakeLongAddress(0xE6, 0x06, 0x123456);
    EXPECT_EQ(address, (hart::LongAddress{0x26, 0x06, 0x12, 0x34, 0x56}));

    const uint8_t data[] = {0x07, 0x08};
    const Bytes bytes = hart::BuildLongRequest(address, true, 6, data, sizeof data);
    ASSERT_EQ(bytes.size(), 2u + 9u);
    EXPECT_EQ(bytes[0], 0x82);
    EXPECT_EQ(bytes[1], 0xA6);  // master bit + manufacturer's six bits
    EXPECT_EQ(bytes[6], 6);
    EXPECT_EQ(bytes[7], 2);
    EXPECT_EQ(bytes.back(), hart::Checksum(bytes.data(), bytes.size() - 1));

    Frame frame;
    ASSERT_EQ(Parse(bytes, frame), FrameError::None);
    EXPECT_EQ(frame.type, FrameType::Request);
    EXPECT_TRUE(frame.longAddress);
    EXPECT_TRUE(frame.primaryMaster);
    EXPECT_FALSE(frame.burstMode);
    EXPECT_EQ(frame.address, address);
    EXPECT_EQ(frame.command, 6);
    EXPECT_EQ(frame.data, (Bytes{0x07, 0x08}));
}

TEST(HartFrame, AnswerAndBurstCarryStatusBytes) {
    Frame answer;
    answer.type = FrameType::Answer;
    answer.longAddress = true;
    answer.address = hart::MakeLongAddress(0x26, 0x06, 0x000102);
    answer.burstMode = true;
    answer.command = 1;
    answer.responseCode = 0x20;
    answer.deviceStatus = 0x40;
    answer.data = {1, 2, 3};
    Bytes bytes;
    ASSERT_EQ(hart::BuildFrame(answer, bytes), FrameError::None);
    EXPECT_EQ(bytes[0], 0x86);
    EXPECT_EQ(bytes[1], 0x66);  // burst bit, secondary master
    EXPECT_EQ(bytes[7], 5);     // byte count covers both status bytes
    EXPECT_EQ(bytes[8], 0x20);
    EXPECT_EQ(bytes[9], 0x40);

    Frame parsed;
    ASSERT_EQ(Parse(bytes, parsed), FrameError::None);
    EXPECT_EQ(parsed.type, FrameType::Answer);
    EXPECT_TRUE(parsed.burstMode);
    EXPECT_FALSE(parsed.primaryMaster);
    EXPECT_EQ(parsed.responseCode, 0x20);
    EXPECT_EQ(parsed.deviceStatus, 0x40);
    EXPECT_EQ(parsed.data, (Bytes{1, 2, 3}));

    answer.type = FrameType::Burst;
    ASSERT_EQ(hart::BuildFrame(answer, bytes), FrameError::None);
    EXPECT_EQ(bytes[0] & 0x81, 0x81);
    ASSERT_EQ(Parse(bytes, parsed), FrameError::None);
    EXPECT_EQ(parsed.type, FrameType::Burst);
}

TEST(HartFrame, MalformedFramesAreNamed) {
    const Bytes good = hart::BuildShortCommand0(1, true);
    Frame frame;

    EXPECT_EQ(Parse(Bytes(good.begin(), good.end() - 1), frame), FrameError::TooShort);
    EXPECT_EQ(Parse(Bytes{}, frame), FrameError::TooShort);
    // Long delimiter, but only a short frame's bytes.
    EXPECT_EQ(Parse(Bytes{0x82, 0x80, 0x00, 0x00, 0x02}, frame), FrameError::TooShort);

    Bytes bad = good;
    bad[0] = 0x03;
    EXPECT_EQ(Parse(bad, frame), FrameError::BadDelimiter);
    bad[0] = 0x0A;  // frame type ok, a physical-layer bit set
    EXPECT_EQ(Parse(bad, frame), FrameError::BadDelimiter);

    Bytes longer = good;
    longer.push_back(0);
    EXPECT_EQ(Parse(longer, frame), FrameError::TooLong);

    Bytes truncated = good;
    truncated[3] = 2;  // announces two data bytes that are not there
    EXPECT_EQ(Parse(truncated, frame), FrameError::Truncated);

    // An answer needs its two status bytes.
    Bytes noStatus = {0x06, 0x80, 0x00, 0x01, 0x00};
    noStatus.push_back(hart::Checksum(noStatus.data(), noStatus.size()));
    EXPECT_EQ(Parse(noStatus, frame), FrameError::NoStatus);
}

TEST(HartFrame, BadChecksumStillTellsTheAddress) {
    const uint8_t data[] = {9};
    Bytes bytes = hart::BuildLongRequest(hart::MakeLongAddress(0x11, 0x22, 0x334455), false, 6, data, 1);
    bytes.back() ^= 0x01;
    Frame frame;
    EXPECT_EQ(Parse(bytes, frame), FrameError::BadChecksum);
    EXPECT_EQ(frame.address, hart::MakeLongAddress(0x11, 0x22, 0x334455));
    EXPECT_EQ(frame.command, 6);
}

TEST(HartFrame, ByteCountLimit) {
    Frame request;
    request.longAddress = true;
    request.data.assign(255, 0xAA);
    Bytes bytes;
    ASSERT_EQ(hart::BuildFrame(request, bytes), FrameError::None);
    EXPECT_EQ(bytes.size(), 255u + 9u);
    Frame parsed;
    EXPECT_EQ(Parse(bytes, parsed), FrameError::None);
    EXPECT_EQ(parsed.data.size(), 255u);

    // With the status bytes, 254 data bytes would need a count of 256.
    Frame answer;
    answer.type = FrameType::Answer;
    answer.data.assign(254, 0);
    EXPECT_EQ(hart::BuildFrame(answer, bytes), FrameError::DataTooLong);
    EXPECT_TRUE(bytes.empty());
    answer.data.resize(253);
    EXPECT_EQ(hart::BuildFrame(answer, bytes), FrameError::None);
}

// An answer is recognised by its header alone: the request's address form,
// address and command; master and burst bits do not count.
TEST(HartFrame, AnswerToARequestIsKnownByAddressAndCommand) {
    const hart::LongAddress device = hart::MakeLongAddress(0x26, 0x06, 0x00ABCD);
    const Bytes request = hart::BuildLongRequest(device, true, 13, nullptr, 0);
    Frame answer;
    answer.type = FrameType::Answer;
    answer.longAddress = true;
    answer.address = device;
    answer.primaryMaster = true;
    answer.burstMode = true;
    answer.command = 13;
    answer.data = {1, 2, 3};
    Bytes bytes;
    ASSERT_EQ(hart::BuildFrame(answer, bytes), FrameError::None);
    auto answers = [&](const Bytes& a) { return hart::IsAnswerTo(request.data(), request.size(), a.data(), a.size()); };
    EXPECT_TRUE(answers(bytes));
    // Damaged behind the header (here: without its checksum) it is still the answer.
    EXPECT_TRUE(answers(Bytes(bytes.begin(), bytes.end() - 1)));

    Bytes other = bytes;
    other[6] = 12;  // a late answer to another command
    EXPECT_FALSE(answers(other));
    other = bytes;
    other[5] ^= 0x01;  // another device
    EXPECT_FALSE(answers(other));
    other = bytes;
    other[0] = 0x81;  // a burst frame of the same device
    EXPECT_FALSE(answers(other));
    EXPECT_FALSE(answers(Bytes(bytes.begin(), bytes.begin() + 6)));
    EXPECT_FALSE(answers(request));

    // Short frames: the polling address in six bits.
    const Bytes poll = hart::BuildShortCommand0(3, true);
    const Bytes shortAnswer = {0x06, 0xC3, 0x00, 0x02, 0x00, 0x00, 0xC7};
    EXPECT_TRUE(hart::IsAnswerTo(poll.data(), poll.size(), shortAnswer.data(), shortAnswer.size()));
    const Bytes fromFour = {0x06, 0x84, 0x00, 0x02, 0x00, 0x00, 0x80};
    EXPECT_FALSE(hart::IsAnswerTo(poll.data(), poll.size(), fromFour.data(), fromFour.size()));
    EXPECT_FALSE(hart::IsAnswerTo(request.data(), request.size(), shortAnswer.data(), shortAnswer.size()));
}

// The address form counts on its own: an answer in the other form is never
// the request's, also when its bytes repeat the request's header.
TEST(HartFrame, AnAnswerInTheOtherAddressFormIsNotTheAnswer) {
    // Long request 82 A6 06 03 AB CD 03 ...; short answer of polling address
    // 38 to command 6 with three data bytes: 06 A6 06 03 AB CD 03 C0.
    const Bytes longRequest = hart::BuildLongRequest(hart::MakeLongAddress(0x26, 0x06, 0x03ABCD), true, 3, nullptr, 0);
    const Bytes shortAnswer = {0x06, 0xA6, 0x06, 0x03, 0xAB, 0xCD, 0x03, 0xC0};
    Frame parsed;
    ASSERT_EQ(hart::ParseFrame(shortAnswer.data(), shortAnswer.size(), parsed), FrameError::None);
    EXPECT_FALSE(hart::IsAnswerTo(longRequest.data(), longRequest.size(), shortAnswer.data(), shortAnswer.size()));
    Bytes asLong = shortAnswer;
    asLong[0] = 0x86;  // the same bytes in the long form are its answer
    EXPECT_TRUE(hart::IsAnswerTo(longRequest.data(), longRequest.size(), asLong.data(), asLong.size()));

    // Short command 0 to address 3; a long answer starting 86 83 00.
    const Bytes poll = hart::BuildShortCommand0(3, true);
    const Bytes longAnswer = {0x86, 0x83, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x06};
    EXPECT_FALSE(hart::IsAnswerTo(poll.data(), poll.size(), longAnswer.data(), longAnswer.size()));
}

TEST(HartFrame, BurstAddressOnlyFromABurstFrameWithALongAddress) {
    const Bytes burst = {0x81, 0xE6, 0x06, 0x00, 0xAB, 0xCD, 0x01, 0x02, 0x00, 0x00, 0x09};
    hart::LongAddress address{};
    ASSERT_TRUE(hart::ReadBurstAddress(burst.data(), burst.size(), &address));
    EXPECT_EQ(address, hart::MakeLongAddress(0x26, 0x06, 0x00ABCD));
    for (uint8_t delimiter : {0x86, 0x06, 0x01, 0x82, 0xC1}) {
        Bytes other = burst;
        other[0] = delimiter;
        EXPECT_FALSE(hart::ReadBurstAddress(other.data(), other.size(), &address)) << int(delimiter);
    }
    EXPECT_FALSE(hart::ReadBurstAddress(burst.data(), 9, &address));
}

}  // namespace
