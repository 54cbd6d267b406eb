// Field devices on the simulated line, driven with frames as a master
// builds them.
#include <gtest/gtest.h>

#include <cstring>

#include "../src/hart_line.h"
#include "hart/identity.h"

namespace {

using Bytes = std::vector<uint8_t>;

SimFieldDevice Device(uint32_t id, uint8_t address, uint8_t revision) {
    SimFieldDevice d;
    SimInitFieldDevice(&d);
    d.deviceId = id;
    d.pollingAddress = address;
    d.hartRevision = revision;
    return d;
}

class HartLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimFieldDevice old = Device(0x000105, 1, 5);
        std::strcpy(old.tag, "OLD-5");
        line_.AddOrReplace(old);
        SimFieldDevice fresh = Device(0x0A0B0C, 2, 7);
        fresh.manufacturerId = 0xE6;  // only the low six bits address it
        fresh.deviceType = 0x11;
        std::strcpy(fresh.tag, "NEW-7");
        std::strcpy(fresh.longTag, "Flow line north");
        line_.AddOrReplace(fresh);
    }

    // Sends a frame; returns the single answer, parsed (fails if not one).
    hart::Frame Ask(const Bytes& request) {
        auto answers = line_.Transmit(request.data(), request.size());
        hart::Frame frame;
        EXPECT_EQ(answers.size(), 1u);
        if (answers.size() != 1) return frame;
        last_ = answers[0].frame;
        EXPECT_EQ(hart::ParseFrame(last_.data(), last_.size(), frame), hart::FrameError::None);
        return frame;
    }
    size_t CountAnswers(const Bytes& request) { return line_.Transmit(request.data(), request.size()).size(); }

    Bytes ToNew(uint8_t command, const Bytes& data = {}) {
        return hart::BuildLongRequest(newAddress_, true, command, data.data(), data.size());
    }
    Bytes ToOld(uint8_t command, const Bytes& data = {}) {
        return hart::BuildLongRequest(oldAddress_, false, command, data.data(), data.size());
    }

    sim::HartLine line_;
    Bytes last_;
    const hart::LongAddress newAddress_ = hart::MakeLongAddress(0x26, 0x11, 0x0A0B0C);
    const hart::LongAddress oldAddress_ = hart::MakeLongAddress(0x26, 0x06, 0x000105);
};

TEST_F(HartLineTest, Command0ShortAndLong) {
    hart::Frame a = Ask(hart::BuildShortCommand0(1, true));
    EXPECT_EQ(last_.size(), 19u);  // revision 5: the shortest answer a master accepts
    EXPECT_FALSE(a.longAddress);
    EXPECT_EQ(a.address[0], 1);
    EXPECT_TRUE(a.primaryMaster);
    hart::Identity id;
    ASSERT_TRUE(hart::DecodeCommand0Answer(a, id));
    EXPECT_EQ(id.deviceId, 0x000105u);

    a = Ask(ToNew(0));
    EXPECT_EQ(last_.size(), 10u + 22u + 1u);  // revision 7 identity
    EXPECT_TRUE(a.longAddress);
    EXPECT_EQ(a.address, newAddress_);
    ASSERT_TRUE(hart::DecodeCommand0Answer(a, id));
    EXPECT_EQ(id.manufacturerId, 0xE6);
    EXPECT_EQ(id.hartRevision, 7);

    // Nobody at 3; short frames carry command 0 only; an answer on the
    // line is not a request.
    EXPECT_EQ(CountAnswers(hart::BuildShortCommand0(3, true)), 0u);
    hart::Frame shortCmd13;
    shortCmd13.address[0] = 1;
    shortCmd13.command = 13;
    Bytes bytes;
    hart::BuildFrame(shortCmd13, bytes);
    EXPECT_EQ(CountAnswers(bytes), 0u);
    EXPECT_EQ(CountAnswers(last_), 0u);
}

TEST_F(HartLineTest, TagCommands) {
    hart::Frame a = Ask(ToOld(13));
    EXPECT_EQ(last_.size(), 32u);  // the length a master requires of command 13
    ASSERT_EQ(a.data.size(), 21u);
    EXPECT_EQ(hart::UnpackAscii(a.data.data(), 6), "OLD-5   ");
    EXPECT_FALSE(a.primaryMaster);

    a = Ask(ToNew(20));
    EXPECT_EQ(last_.size(), 43u);
    ASSERT_EQ(a.data.size(), 32u);
    EXPECT_STREQ(reinterpret_cast<const char*>(a.data.data()), "Flow line north");
    EXPECT_EQ(a.data.back(), 0);

    a = Ask(ToOld(20));  // revision 5 has no long tag
    EXPECT_EQ(a.responseCode, 64);
    EXPECT_TRUE(a.data.empty());

    // Command 11 to the broadcast address finds the device by its tag and
    // answers with its own long address.
    const Bytes tag = hart::PackAscii("NEW-7", 8);
    const Bytes toAll = hart::BuildLongRequest(hart::LongAddress{}, true, 11, tag.data(), tag.size());
    a = Ask(toAll);
    EXPECT_EQ(a.address, newAddress_);
    hart::Identity id;
    EXPECT_TRUE(hart::DecodeCommand0Answer(a, id));
    const Bytes nobody = hart::PackAscii("NOBODY", 8);
    EXPECT_EQ(CountAnswers(hart::BuildLongRequest(hart::LongAddress{}, true, 11, nobody.data(), 6)), 0u);
}

TEST_F(HartLineTest, Command6MovesThePollingAddress) {
    hart::Frame a = Ask(ToNew(6, {40}));
    EXPECT_EQ(a.responseCode, 0);
    EXPECT_EQ(a.data, (Bytes{40}));
    EXPECT_EQ(CountAnswers(hart::BuildShortCommand0(2, true)), 0u);
    EXPECT_EQ(Ask(hart::BuildShortCommand0(40, true)).address[0], 40);

    // Revision 5 devices take 0..15 only; no data byte is too few.
    EXPECT_EQ(Ask(ToOld(6, {16})).responseCode, 2);
    EXPECT_EQ(Ask(ToOld(6)).responseCode, 5);
    EXPECT_EQ(line_.Find(0x000105)->config.pollingAddress, 1);
}

TEST_F(HartLineTest, BurstConfigurationAndUnknownCommand) {
    line_.Find(0x0A0B0C)->config.burstMode = 1;
    line_.Find(0x0A0B0C)->config.burstCommand = 3;
    hart::Frame a = Ask(ToNew(105));
    EXPECT_GE(last_.size(), 15u);
    EXPECT_TRUE(a.burstMode);  // burst bit in every answer
    ASSERT_FALSE(a.data.empty());
    EXPECT_EQ(a.data[0], 1);

    a = Ask(ToNew(48));
    EXPECT_EQ(a.responseCode, 64);

}

TEST_F(HartLineTest, CorruptRequestGetsACommunicationError) {
    Bytes request = ToNew(1);
    request.back() ^= 0xFF;
    hart::Frame a = Ask(request);
    EXPECT_EQ(a.responseCode, 0x88);
    EXPECT_EQ(a.deviceStatus, 0);
    EXPECT_TRUE(a.data.empty());
    // Truncated frames reach nobody.
    request = ToNew(1);
    request.pop_back();
    EXPECT_EQ(CountAnswers(request), 0u);
}

TEST_F(HartLineTest, ConfiguredAnswers) {
    sim::FieldDevice& d = *line_.Find(0x0A0B0C);
    d.config.deviceStatus = 0x10;
    d.overrides[1] = sim::AnswerOverride{sim::AnswerOverride::Kind::Answer, 0, {0x39, 1, 2, 3, 4}};
    hart::Frame a = Ask(ToNew(1));
    EXPECT_EQ(a.deviceStatus, 0x10);
    EXPECT_EQ(a.data, (Bytes{0x39, 1, 2, 3, 4}));

    // A communication error carries no device status and no data.
    d.overrides[1] = sim::AnswerOverride{sim::AnswerOverride::Kind::Answer, 0x90, {1, 2}};
    a = Ask(ToNew(1));
    EXPECT_EQ(a.responseCode, 0x90);
    EXPECT_EQ(a.deviceStatus, 0);
    EXPECT_TRUE(a.data.empty());

    const Bytes raw = {0x86, 0x01, 0x02};
    d.overrides[0] = sim::AnswerOverride{sim::AnswerOverride::Kind::Raw, 0, raw};
    auto answers = line_.Transmit(ToNew(0).data(), ToNew(0).size());
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].frame, raw);

    d.overrides[0] = sim::AnswerOverride{sim::AnswerOverride::Kind::Silent, 0, {}};
    EXPECT_EQ(CountAnswers(ToNew(0)), 0u);
    EXPECT_EQ(Ask(ToNew(13)).responseCode, 0);
    d.silent = true;
    EXPECT_EQ(CountAnswers(ToNew(13)), 0u);
}

}  // namespace
