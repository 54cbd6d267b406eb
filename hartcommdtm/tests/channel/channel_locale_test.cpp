// The channel for a German user: the user's formats write numbers with a
// decimal comma (and dates day first), and the frame gave the C runtime the
// same locale. A scan's identification document still writes the hardware
// revision as on any other machine. The program runs in a prefix of its
// own, whose user formats it changes through SetLocaleInfo; Wine keeps the
// locale id of the Unix side but honours these overrides, and since its
// setlocale("") does not follow them, the C runtime's locale is named.
#include <memory>
#include <string>

#include "channel_scan_support.h"
#include "crt_locale.h"
#include "user_formats.h"

namespace channeltest {
namespace {

class GermanUserChannelTest : public ScanTest {
 protected:
  static void SetUpTestSuite() {
    ScanTest::SetUpTestSuite();
    formats_ = std::make_unique<testsupport::GermanUserFormats>();
  }
  static void TearDownTestSuite() {
    formats_.reset();
    ScanTest::TearDownTestSuite();
  }

  static inline std::unique_ptr<testsupport::GermanUserFormats> formats_;

  void SetUp() override {
    // Without the user's own formats this program would prove nothing.
    ASSERT_TRUE(testsupport::GermanUserFormats::WriteDecimalComma())
        << "the prefix does not take the user's formats";
    ASSERT_TRUE(testsupport::CrtLocale::WritesDecimalComma());
    ScanTest::SetUp();
  }

  testsupport::CrtLocale frameLocale_;
};

TEST_F(GermanUserChannelTest, ScanIdentificationWritesTheHardwareRevisionAsAnywhereElse) {
  SimFieldDevice device = AddDevice(4, 0x000404);
  device.hardwareRevision = 2;
  device.physicalSignalling = 3;
  ASSERT_TRUE(SimAddFieldDevice(serial_, &device));
  fdt121Frame_ = true;  // only such a frame scans its channels
  StartQuickChannel();
  com::ComPtr<IFdtChannelScan> scan;
  ASSERT_EQ(S_OK, base_.as(scan));
  com::Bstr invokeId(InvokeId(1).c_str());
  com::Bstr request(L"<?xml version=\"1.0\"?><FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
                    L"<BusAddressRanges fdt:busCategory=\"{036D1498-387B-11D4-86E1-00E0987270B9}\">"
                    L"<BusAddressRange busAddressBegin=\"3\" busAddressEnd=\"5\"/></BusAddressRanges></FDT>");
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, scan->ScanRequest(invokeId.get(), request.get(), &queued));
  ASSERT_EQ(VARIANT_TRUE, queued);

  // One provisional document for the device, then the final one.
  ASSERT_TRUE(frame_->waitForCalls("OnScanResult", 2, 30000));
  const auto results = frame_->callsTo("OnScanResult");
  const std::wstring& last = results.back().arguments.at(1);
  EXPECT_NE(std::wstring::npos, last.find(L"resultState=\"final\"")) << last;
  EXPECT_NE(std::wstring::npos, last.find(L"<IdAddress hartident:shortAddress=\"4\" />")) << last;
  EXPECT_NE(std::wstring::npos, last.find(L"<IdHardwareRevision hartident:hardwareRevision=\"2.3\" />")) << last;
}

}  // namespace
}  // namespace channeltest
