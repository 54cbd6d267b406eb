// The FDT channel scan end to end: ranges, all addresses, the provisional,
// final and error documents through the frame's dispatch-only scan sink,
// cancel, and the invoke ids left behind.
#include "channel_scan_support.h"
#include "hostile_documents.h"

namespace channeltest {
namespace {

const wchar_t kRequestHead[] = L"<?xml version=\"1.0\"?><FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">";

std::wstring RangesRequest(const std::vector<std::pair<int, int>>& ranges) {
  std::wstring body = L"<BusAddressRanges fdt:busCategory=\"{036D1498-387B-11D4-86E1-00E0987270B9}\">";
  for (const auto& r : ranges) {
    body += L"<BusAddressRange busAddressBegin=\"" + std::to_wstring(r.first) + L"\"";
    if (r.second >= 0) body += L" busAddressEnd=\"" + std::to_wstring(r.second) + L"\"";
    body += L"/>";
  }
  return kRequestHead + body + L"</BusAddressRanges></FDT>";
}

std::wstring ModeRequest(const wchar_t* mode) {
  return std::wstring(kRequestHead) + L"<ScanMode fdt:busCategory=\"HART\" scanMode=\"" + mode + L"\"/></FDT>";
}

size_t Count(const std::wstring& text, const wchar_t* part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class ChannelFdtScanTest : public ScanTest {
 protected:
  void StartScanChannel() {
    fdt121Frame_ = true;  // only such a frame scans its channels
    StartQuickChannel();
    ASSERT_EQ(S_OK, base_.as(scan_));
  }
  HRESULT Request(unsigned invoke, const std::wstring& document, VARIANT_BOOL* queued) {
    com::Bstr id(InvokeId(invoke).c_str()), doc(document.c_str());
    return scan_->ScanRequest(id.get(), doc.get(), queued);
  }
  // The documents of the scan results after waiting for `count` of them.
  std::vector<std::wstring> Results(size_t count) {
    EXPECT_TRUE(frame_->waitForCalls("OnScanResult", count, 30000));
    std::vector<std::wstring> docs;
    for (const auto& call : frame_->callsTo("OnScanResult")) docs.push_back(call.arguments.at(1));
    return docs;
  }
  // Waits until the worker has taken every posted event (a topology scan
  // queued behind them answers last).
  void Drain() {
    com::ComPtr<IFdtChannelSubTopology> topology;
    ASSERT_EQ(S_OK, base_.as(topology));
    const size_t before = frame_->callsTo("OnScanResponse").size();
    com::Bstr id(InvokeId(99).c_str());
    VARIANT_BOOL queued = VARIANT_FALSE;
    ASSERT_EQ(S_OK, topology->ScanRequest(id.get(), &queued));
    ASSERT_TRUE(frame_->waitForCalls("OnScanResponse", before + 1, 60000));
  }

  com::ComPtr<IFdtChannelScan> scan_;
};

TEST_F(ChannelFdtScanTest, RangesAreScannedOnceInOrderWithProvisionalAndFinalDocuments) {
  SimFieldDevice six = AddDevice(6, 0x000606, 7);
  std::snprintf(six.longTag, sizeof six.longTag, "%s", "Flow \"A\" & <B>");
  ASSERT_TRUE(SimAddFieldDevice(serial_, &six));
  AddDevice(8, 0x000808, 5);
  AddDevice(3, 0x000303, 7);  // outside the ranges
  StartScanChannel();
  // The device list as a device-list scan left it.
  ASSERT_TRUE(RunDeviceListScan());
  ASSERT_EQ(3u, channel_->FoundDeviceCount());
  ClearLog();
  owner_->clearProgress();
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, Request(1, RangesRequest({{5, 7}, {6, 9}}), &queued));
  EXPECT_EQ(VARIANT_TRUE, queued);
  const auto docs = Results(3);
  ASSERT_EQ(3u, docs.size());
  // The devices it found are appended to that list; nothing was cleared.
  EXPECT_EQ(5u, channel_->FoundDeviceCount());
  Drain();
  const std::vector<uint8_t> polled = PolledAddresses();
  ASSERT_GE(polled.size(), 5u);
  EXPECT_EQ(PollRange(5, 9), std::vector<uint8_t>(polled.begin(), polled.begin() + 5));
  EXPECT_NE(std::wstring::npos, docs[0].find(L"resultState=\"provisional\""));
  EXPECT_EQ(1u, Count(docs[0], L"<ScanIdentification "));
  EXPECT_NE(std::wstring::npos, docs[0].find(L"<IdTag hartident:tag=\"Flow &quot;A&quot; &amp; &lt;B&gt;\" />"));
  EXPECT_NE(std::wstring::npos, docs[1].find(L"resultState=\"provisional\""));
  EXPECT_EQ(2u, Count(docs[1], L"<ScanIdentification "));
  EXPECT_NE(std::wstring::npos, docs[2].find(L"resultState=\"final\""));
  EXPECT_EQ(2u, Count(docs[2], L"<ScanIdentification "));
  EXPECT_NE(std::wstring::npos, docs[2].find(L"<IdAddress hartident:shortAddress=\"8\" />"));
  for (const auto& call : frame_->callsTo("OnScanResult")) EXPECT_EQ(InvokeId(1), call.arguments[0]);
  EXPECT_TRUE(frame_->callsTo("vtable call").empty());

  // Progress 0, then (100 * k) / 5 per address while the scan is marked
  // active, then 100 at the end; the topology scan of Drain follows.
  const auto progress = owner_->progress();
  ASSERT_GE(progress.size(), 7u);
  std::vector<long> percents;
  for (size_t i = 0; i < 7; ++i) {
    percents.push_back(progress[i].percent);
    EXPECT_EQ(i > 0 && i < 6, progress[i].scanActive);
    EXPECT_EQ(i < 6, progress[i].running);
  }
  EXPECT_EQ((std::vector<long>{0, 20, 40, 60, 80, 100, 100}), percents);
  EXPECT_EQ(0u, OwnerUi4(hartdtm::kParScanActive));
  EXPECT_EQ(0u, channel_->RunningChannelScans());
}

TEST_F(ChannelFdtScanTest, AllAddressesStopAtTheMaximumScanAddress) {
  AddDevice(15, 0x001515, 7);
  AddDevice(30, 0x003030, 7);
  StartScanChannel();
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, Request(2, ModeRequest(L"allAddresses"), &queued));
  const auto docs = Results(2);
  Drain();
  const std::vector<uint8_t> polled = PolledAddresses();
  ASSERT_GE(polled.size(), 16u);
  EXPECT_EQ(PollRange(0, 15), std::vector<uint8_t>(polled.begin(), polled.begin() + 16));
  ASSERT_EQ(2u, docs.size());
  EXPECT_NE(std::wstring::npos, docs[1].find(L"fdt:busCategory=\"HART\" resultState=\"final\""));
  EXPECT_EQ(1u, Count(docs[1], L"<ScanIdentification "));
  // No progress for addresses above 15: 0, then 16 reports up to 25, then
  // 100 (the topology scan of Drain follows with 0..15).
  const auto progress = owner_->progress();
  ASSERT_EQ(18u + 17u, progress.size());
  EXPECT_EQ(100 * 16 / 64, progress[16].percent);
  EXPECT_EQ(100, progress[17].percent);
  EXPECT_FALSE(progress[17].running);
}

TEST_F(ChannelFdtScanTest, OpenGuiScansTheRangeTheUserChose) {
  AddDevice(2, 0x000202, 7);
  AddDevice(5, 0x000505, 7);
  StartScanChannel();
  VARIANT_BOOL queued = VARIANT_FALSE;
  owner_->setScanRange(S_OK, 2, 4);
  ASSERT_EQ(S_OK, Request(10, ModeRequest(L"openGUI"), &queued));
  auto docs = Results(2);
  ASSERT_EQ(2u, docs.size());
  EXPECT_EQ(1u, Count(docs[1], L"<ScanIdentification "));
  EXPECT_NE(std::wstring::npos, docs[1].find(L"resultState=\"final\""));
  EXPECT_EQ(PollRange(2, 4), PolledAddresses());

  // An end below the start, a range beyond 63 and a dialog the user
  // cancelled each end in an error document, with nothing polled.
  ClearLog();
  owner_->setScanRange(S_OK, 4, 2);
  ASSERT_EQ(S_OK, Request(11, ModeRequest(L"openGUI"), &queued));
  docs = Results(3);
  EXPECT_NE(std::wstring::npos, docs[2].find(L"resultState=\"error\">\n </ScanIdentifications>"));
  owner_->setScanRange(S_OK, 0, 64);
  ASSERT_EQ(S_OK, Request(12, ModeRequest(L"openGUI"), &queued));
  Results(4);
  owner_->setScanRange(E_ABORT, 0, 0);
  ASSERT_EQ(S_OK, Request(13, ModeRequest(L"openGUI"), &queued));
  docs = Results(5);
  ASSERT_EQ(5u, docs.size());
  EXPECT_NE(std::wstring::npos, docs[3].find(L"resultState=\"error\""));
  EXPECT_NE(std::wstring::npos, docs[4].find(L"resultState=\"error\""));
  EXPECT_TRUE(PolledAddresses().empty());
}

TEST_F(ChannelFdtScanTest, UnusableRequestsGetAnErrorDocumentOrNothing) {
  StartScanChannel();
  VARIANT_BOOL queued = VARIANT_TRUE;
  EXPECT_EQ(E_INVALIDARG, Request(3, ModeRequest(L"allAddresses"), nullptr));
  EXPECT_EQ(S_FALSE, Request(3, L"<not xml", &queued));
  EXPECT_EQ(VARIANT_FALSE, queued);
  // Nor one that declares a document type (its entity is never expanded).
  queued = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, Request(3, testsupport::WithEntityBomb(ModeRequest(L"{BOMB}")), &queued));
  EXPECT_EQ(VARIANT_FALSE, queued);
  owner_->setState(8);
  EXPECT_EQ(S_FALSE, Request(3, ModeRequest(L"allAddresses"), &queued));
  owner_->setState(12);
  EXPECT_EQ(0u, channel_->RunningChannelScans());

  // Both parts, neither part, an unknown mode: one error document each.
  const std::wstring both = std::wstring(kRequestHead) +
                            L"<BusAddressRanges fdt:busCategory=\"C\"><BusAddressRange busAddressBegin=\"1\"/>"
                            L"</BusAddressRanges><ScanMode fdt:busCategory=\"C\" scanMode=\"allAddresses\"/></FDT>";
  ASSERT_EQ(S_OK, Request(4, both, &queued));
  ASSERT_EQ(S_OK, Request(5, std::wstring(kRequestHead) + L"</FDT>", &queued));
  ASSERT_EQ(S_OK, Request(6, ModeRequest(L"sideways"), &queued));
  const auto docs = Results(3);
  ASSERT_EQ(3u, docs.size());
  for (const auto& doc : docs) {
    EXPECT_NE(std::wstring::npos, doc.find(L"fdt:busCategory=\"{036D1498-387B-11D4-86E1-00E0987270B9}\" "
                                           L"resultState=\"error\">\n </ScanIdentifications>"));
  }
  EXPECT_TRUE(PolledAddresses().empty());
  EXPECT_EQ(0u, channel_->RunningChannelScans());
}

TEST_F(ChannelFdtScanTest, ACancelledScanEndsQuietlyAndLeavesNoInvokeId) {
  AddDevice(1, 0x000101, 7);
  AddDevice(2, 0x000202, 7);
  StartScanChannel();
  com::Bstr unknown(InvokeId(70).c_str());
  VARIANT_BOOL cancelled = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, scan_->CancelAction(unknown.get(), &cancelled));
  EXPECT_EQ(VARIANT_FALSE, cancelled);
  EXPECT_EQ(E_INVALIDARG, scan_->CancelAction(unknown.get(), nullptr));

  // The frame cancels when the first provisional document arrives.
  HRESULT cancelResult = E_FAIL;
  scanFrame_->onScanResult([&](const std::wstring& id, const std::wstring&) {
    com::Bstr invoke(id.c_str());
    VARIANT_BOOL done = VARIANT_FALSE;
    cancelResult = scan_->CancelAction(invoke.get(), &done);
  });
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, Request(7, RangesRequest({{0, 5}}), &queued));
  Drain();
  EXPECT_EQ(S_OK, cancelResult);
  const auto calls = frame_->callsTo("OnScanResult");
  ASSERT_EQ(1u, calls.size());
  EXPECT_NE(std::wstring::npos, calls[0].arguments[1].find(L"resultState=\"provisional\""));
  // Cancelled after address 1 answered: the poll of 2 is the last one
  // (the topology scan of Drain follows from 0).
  const std::vector<uint8_t> polled = PolledAddresses();
  ASSERT_GE(polled.size(), 4u);
  EXPECT_EQ((std::vector<uint8_t>{0, 1, 2, 0}), std::vector<uint8_t>(polled.begin(), polled.begin() + 4));
  EXPECT_EQ(0u, channel_->RunningChannelScans());
}

TEST_F(ChannelFdtScanTest, AFinalDocumentTheFrameRefusesIsFollowedByAnErrorDocument) {
  AddDevice(4, 0x000404, 7);
  StartScanChannel();
  scanFrame_->failFinalResult(E_FAIL);
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, Request(8, RangesRequest({{4, 4}}), &queued));
  const auto docs = Results(3);
  ASSERT_EQ(3u, docs.size());
  EXPECT_NE(std::wstring::npos, docs[1].find(L"resultState=\"final\""));
  EXPECT_NE(std::wstring::npos, docs[2].find(L"resultState=\"error\""));
  Drain();
  EXPECT_EQ(0u, channel_->RunningChannelScans());
}

TEST_F(ChannelFdtScanTest, WithoutTheScanSinkNoDocumentAndNoInvokeIdStays) {
  fdt121Frame_ = true;
  MakeChannel();
  scanFrame_->offerScanEvents() = false;  // the frame has none when the worker starts
  ASSERT_TRUE(SimSetLineTiming(serial_, 0, 1));
  ASSERT_EQ(S_OK, Start());
  ASSERT_EQ(S_OK, base_.as(scan_));
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, Request(9, ModeRequest(L"allAddresses"), &queued));
  Drain();
  EXPECT_TRUE(frame_->callsTo("OnScanResult").empty());
  EXPECT_EQ(0u, channel_->RunningChannelScans());
}

}  // namespace
}  // namespace channeltest
