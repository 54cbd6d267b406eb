// The channel's worker and a single-threaded frame: the frame double lives
// in this apartment, not agile, so every notice from the worker (an error
// message at the start, a topology scan's answer, a channel scan's results)
// crosses to it through a real proxy of the sink the channel handed over,
// and arrives on this thread. A notice that reached the frame's own
// IDispatch instead, or a sink's vtable, is a fault and fails the case.
#include "channel_scan_support.h"
#include "message_pump.h"

namespace channeltest {
namespace {

class ChannelFrameSinksTest : public ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    agileFrame_ = false;
  }
};

TEST_F(ChannelFrameSinksTest, AFailedStartReportsThroughTheSinkOnTheFramesThread) {
  MakeChannel();
  SetOwnerByte(hartdtm::kParDeviceNumber, 7);  // nothing configured under 7
  EXPECT_EQ(E_FAIL, Start());
  const auto calls = frame_->callsTo("OnErrorMessage");
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ("IFrameDtmEvents", calls[0].interfaceName);
  EXPECT_EQ(L"DTM-1", calls[0].arguments[0]);
  EXPECT_EQ(::GetCurrentThreadId(), calls[0].threadId);
  EXPECT_GT(frame_->eventSink().ownInterfaceQueries(), 0);
}

TEST_F(ChannelFrameSinksTest, ScanAnswersCrossToTheFramesThread) {
  AddDevice(2, 0x000202, 7);
  fdt121Frame_ = true;
  StartQuickChannel(3);
  EXPECT_EQ(1u, frame_->sinkQueries("IFrameScanEvents"));

  com::ComPtr<IFdtChannelSubTopology> topology;
  ASSERT_EQ(S_OK, base_.as(topology));
  com::Bstr id(InvokeId(1).c_str());
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, topology->ScanRequest(id.get(), &queued));
  ASSERT_TRUE(frame_->waitForCalls("OnScanResponse", 1, 30000));
  const auto responses = frame_->callsTo("OnScanResponse");
  EXPECT_EQ(InvokeId(1), responses[0].arguments[0]);
  EXPECT_NE(std::wstring::npos, responses[0].arguments[1].find(L"fdthart:shortAddress=\"2\""));
  EXPECT_EQ(::GetCurrentThreadId(), responses[0].threadId);

  com::ComPtr<IFdtChannelScan> scan;
  ASSERT_EQ(S_OK, base_.as(scan));
  com::Bstr scanId(InvokeId(2).c_str()),
      request(L"<?xml version=\"1.0\"?><FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
              L"<ScanMode fdt:busCategory=\"HART\" scanMode=\"allAddresses\"/></FDT>");
  ASSERT_EQ(S_OK, scan->ScanRequest(scanId.get(), request.get(), &queued));
  ASSERT_EQ(VARIANT_TRUE, queued);
  ASSERT_TRUE(frame_->waitForCalls("OnScanResult", 2, 30000));  // one device: provisional, final
  const auto results = frame_->callsTo("OnScanResult");
  EXPECT_NE(std::wstring::npos, results[1].arguments[1].find(L"resultState=\"final\""));
  for (const auto& result : results) EXPECT_EQ(::GetCurrentThreadId(), result.threadId);
  EXPECT_GT(scanFrame_->scanSink().ownInterfaceQueries(), 0);
}

// The scan-result sink belongs to FDT 1.2.1: a channel of an FDT 1.2 frame
// never asks for it, and a scan request then sends nothing.
TEST_F(ChannelFrameSinksTest, AFrameOfFdt12IsNeverAskedForTheScanSink) {
  StartQuickChannel();
  EXPECT_EQ(0u, frame_->sinkQueries("IFrameScanEvents"));
  com::ComPtr<IFdtChannelScan> scan;
  ASSERT_EQ(S_OK, base_.as(scan));
  com::Bstr scanId(InvokeId(3).c_str()),
      request(L"<?xml version=\"1.0\"?><FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
              L"<ScanMode fdt:busCategory=\"HART\" scanMode=\"allAddresses\"/></FDT>");
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, scan->ScanRequest(scanId.get(), request.get(), &queued));
  // The request leaves the cancel list when the worker gave up on it.
  ASSERT_TRUE(testsupport::PumpUntil([&] { return channel_->RunningChannelScans() == 0; }, 30000));
  EXPECT_TRUE(frame_->callsTo("OnScanResult").empty());
  EXPECT_EQ(0u, frame_->sinkQueries("IFrameScanEvents"));
}

}  // namespace
}  // namespace channeltest
