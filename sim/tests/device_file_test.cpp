#include <gtest/gtest.h>

#include <cstring>

#include "../src/device_file.h"

namespace {

TEST(DeviceFile, DescriptionRoundTrip) {
    sim::AdapterDescription d;
    d.serial = 0xBEEF;
    d.present = false;
    d.wireTime = true;
    d.noAnswerMs = SIM_HART_TIMEOUT;
    SimFieldDevice device;
    SimInitFieldDevice(&device);
    device.pollingAddress = 12;
    device.deviceId = 0x123456;
    device.hartRevision = 5;
    device.answerDelayMs = 250;
    device.burstMode = 1;
    std::strcpy(device.tag, "TT 12");
    std::strcpy(device.longTag, "tank \"3\" level");  // quotes cannot be kept
    d.devices.push_back(device);

    sim::AdapterDescription back;
    ASSERT_TRUE(sim::ParseDescription(sim::FormatDescription(d), back));
    EXPECT_EQ(back.serial, 0xBEEF);
    EXPECT_FALSE(back.present);
    EXPECT_TRUE(back.wireTime);
    EXPECT_EQ(back.noAnswerMs, SIM_HART_TIMEOUT);
    ASSERT_EQ(back.devices.size(), 1u);
    const SimFieldDevice& b = back.devices[0];
    EXPECT_EQ(b.pollingAddress, 12);
    EXPECT_EQ(b.deviceId, 0x123456u);
    EXPECT_EQ(b.hartRevision, 5);
    EXPECT_EQ(b.answerDelayMs, 250u);
    EXPECT_EQ(b.burstMode, 1);
    EXPECT_STREQ(b.tag, "TT 12");
    EXPECT_STREQ(b.longTag, "tank 3 level");
    EXPECT_EQ(b.manufacturerId, device.manufacturerId);
}

TEST(DeviceFile, HandWrittenAndMalformedText) {
    sim::AdapterDescription d;
    ASSERT_TRUE(sim::ParseDescription("# comment\r\nserial=4660\r\ndevice id=7 unknown=1\r\n", d));
    EXPECT_EQ(d.serial, 0x1234);
    EXPECT_TRUE(d.present);
    ASSERT_EQ(d.devices.size(), 1u);
    EXPECT_EQ(d.devices[0].deviceId, 7u);

    EXPECT_FALSE(sim::ParseDescription("", d));
    EXPECT_FALSE(sim::ParseDescription("serial=0x10000\n", d));
    EXPECT_FALSE(sim::ParseDescription("serial=12x\n", d));
    EXPECT_FALSE(sim::ParseDescription("serial=1\ndevice address=3\n", d));  // no id
    EXPECT_FALSE(sim::ParseDescription("serial=1\ndevice id=0x1000000\n", d));
}

}  // namespace
