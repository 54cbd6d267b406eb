#include <gtest/gtest.h>

#include <string>

#include "hart/identity.h"

namespace {

using Bytes = std::vector<uint8_t>;

hart::Identity SampleIdentity(uint8_t revision) {
    hart::Identity id;
    id.manufacturerId = 0x26;
    id.deviceType = 0x0B;
    id.preambles = 7;
    id.hartRevision = revision;
    id.deviceRevision = 3;
    id.softwareRevision = 4;
    id.hardwareRevision = 21;
    id.physicalSignalling = 5;
    id.flags = 0x08;
    id.deviceId = 0xABCDEF;
    return id;
}

void ExpectSame(const hart::Identity& a, const hart::Identity& b) {
    EXPECT_EQ(a.manufacturerId, b.manufacturerId);
    EXPECT_EQ(a.deviceType, b.deviceType);
    EXPECT_EQ(a.preambles, b.preambles);
    EXPECT_EQ(a.hartRevision, b.hartRevision);
    EXPECT_EQ(a.deviceRevision, b.deviceRevision);
    EXPECT_EQ(a.softwareRevision, b.softwareRevision);
    EXPECT_EQ(a.hardwareRevision, b.hardwareRevision);
    EXPECT_EQ(a.physicalSignalling, b.physicalSignalling);
    EXPECT_EQ(a.flags, b.flags);
    EXPECT_EQ(a.deviceId, b.deviceId);
}

TEST(HartIdentity, Command0DataLengthFollowsTheRevision) {
    EXPECT_EQ(hart::EncodeCommand0Data(SampleIdentity(5)).size(), 12u);
    EXPECT_EQ(hart::EncodeCommand0Data(SampleIdentity(6)).size(), 14u);
    EXPECT_EQ(hart::EncodeCommand0Data(SampleIdentity(7)).size(), 22u);
    for (uint8_t revision : {5, 6, 7}) {
        const Bytes data = hart::EncodeCommand0Data(SampleIdentity(revision));
        hart::Identity decoded;
        ASSERT_TRUE(hart::DecodeCommand0Data(data.data(), data.size(), decoded));
        ExpectSame(decoded, SampleIdentity(revision));
    }
}

TEST(HartIdentity, DecodesAShortAnswerAtTheOffsetsMastersRead) {
    // A short command 0 answer as it comes off the line: the identity bytes
    // sit at 7 (manufacturer), 8 (type), 10 (revision), 13 (hardware and
    // signalling), 15..17 (device id).
    hart::Frame answer;
    answer.type = hart::FrameType::Answer;
    answer.address[0] = 2;
    answer.primaryMaster = true;
    answer.data = hart::EncodeCommand0Data(SampleIdentity(5));
    Bytes bytes;
    ASSERT_EQ(hart::BuildFrame(answer, bytes), hart::FrameError::None);
    ASSERT_EQ(bytes.size(), 19u);
    EXPECT_EQ(bytes[0], 0x06);
    EXPECT_EQ(bytes[6], 254);
    EXPECT_EQ(bytes[7], 0x26);
    EXPECT_EQ(bytes[8], 0x0B);
    EXPECT_EQ(bytes[9], 7);
    EXPECT_EQ(bytes[10], 5);
    EXPECT_EQ(bytes[13], (21 << 3) | 5);
    EXPECT_EQ(bytes[15], 0xAB);
    EXPECT_EQ(bytes[16], 0xCD);
    EXPECT_EQ(bytes[17], 0xEF);

    hart::Frame parsed;
    ASSERT_EQ(hart::ParseFrame(bytes.data(), bytes.size(), parsed), hart::FrameError::None);
    hart::Identity id;
    ASSERT_TRUE(hart::DecodeCommand0Answer(parsed, id));
    ExpectSame(id, SampleIdentity(5));
    EXPECT_EQ(hart::LongAddressOf(id), (hart::LongAddress{0x26, 0x0B, 0xAB, 0xCD, 0xEF}));
}

TEST(HartIdentity, RejectsWhatIsNotAnIdentity) {
    Bytes data = hart::EncodeCommand0Data(SampleIdentity(5));
    hart::Identity id;
    EXPECT_FALSE(hart::DecodeCommand0Data(data.data(), 11, id));
    data[0] = 253;
    EXPECT_FALSE(hart::DecodeCommand0Data(data.data(), data.size(), id));

    hart::Frame answer;
    answer.type = hart::FrameType::Answer;
    answer.data = hart::EncodeCommand0Data(SampleIdentity(5));
    answer.responseCode = 0x88;  // communication error
    EXPECT_FALSE(hart::DecodeCommand0Answer(answer, id));
    answer.responseCode = 0;
    answer.command = 13;
    EXPECT_FALSE(hart::DecodeCommand0Answer(answer, id));
    answer.command = 11;
    EXPECT_TRUE(hart::DecodeCommand0Answer(answer, id));
    answer.type = hart::FrameType::Request;
    EXPECT_FALSE(hart::DecodeCommand0Answer(answer, id));
}

TEST(HartPackedAscii, KnownCodes) {
    const uint8_t blanks[] = {0x82, 0x08, 0x20};
    EXPECT_EQ(hart::UnpackAscii(blanks, 3), "    ");
    const uint8_t zeros[] = {0, 0, 0};
    EXPECT_EQ(hart::UnpackAscii(zeros, 3), "@@@@");
    EXPECT_EQ(hart::PackAscii("", 4), (Bytes{0x82, 0x08, 0x20}));
    // Characters complete so far when the count is not a multiple of 3.
    EXPECT_EQ(hart::UnpackAscii(blanks, 1).size(), 1u);
    EXPECT_EQ(hart::UnpackAscii(blanks, 2).size(), 2u);
}

TEST(HartPackedAscii, RoundTripPadsAndRaisesCase) {
    const Bytes packed = hart::PackAscii("pt-101", 8);
    ASSERT_EQ(packed.size(), 6u);
    EXPECT_EQ(hart::UnpackAscii(packed.data(), packed.size()), "PT-101  ");
    // Longer text is cut; characters outside the set become '?'.
    const Bytes cut = hart::PackAscii("ABCDEFGH~J", 8);
    EXPECT_EQ(hart::UnpackAscii(cut.data(), cut.size()), "ABCDEFGH");
    const Bytes odd = hart::PackAscii("A~", 4);
    EXPECT_EQ(hart::UnpackAscii(odd.data(), odd.size()), "A?  ");
    // Just outside the set at either end.
    const Bytes edges = hart::PackAscii(std::string("\x1F") + "`", 4);
    EXPECT_EQ(hart::UnpackAscii(edges.data(), edges.size()), "??  ");
}

// Every character of the set, its ends (0x20 and 0x5F) included, comes back.
TEST(HartPackedAscii, EveryPackableCharacterRoundTrips) {
    std::string all;
    for (char c = 0x20; c <= 0x5F; ++c) all.push_back(c);
    const Bytes packed = hart::PackAscii(all, all.size());
    ASSERT_EQ(packed.size(), 48u);
    EXPECT_EQ(hart::UnpackAscii(packed.data(), packed.size()), all);
    const Bytes tag = hart::PackAscii("TT_101 ", 8);
    EXPECT_EQ(hart::UnpackAscii(tag.data(), tag.size()), "TT_101  ");
}

}  // namespace
