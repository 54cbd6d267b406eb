// Time of a device-list scan of addresses 0 to 15 with the simulator in
// wire-time mode (answers take the time of their bytes at 1200 bit/s,
// silence the master's reply time-out), beside the sum of the wire times
// and time-outs the scan cannot avoid, which the simulator counts. A
// measurement, not a test: disabled, run by bench/run-scan-bench.sh
// (--gtest_also_run_disabled_tests --gtest_filter=*ScanBenchmark*).
#include <cstdio>

#include "channel_scan_support.h"

namespace channeltest {
namespace {

double NowMs() {
  LARGE_INTEGER f, n;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&n);
  return 1000.0 * static_cast<double>(n.QuadPart) / static_cast<double>(f.QuadPart);
}

class ScanBenchmark : public ScanTest {};

TEST_F(ScanBenchmark, DISABLED_Scan0To15InWireTime) {
  AddDevice(0, 0x000100, 5);
  AddDevice(3, 0x000103, 7);
  AddDevice(9, 0x000109, 6);
  AddDevice(15, 0x000115, 7);
  StartQuickChannel();
  ASSERT_TRUE(SimSetLineTiming(serial_, 1, SIM_HART_TIMEOUT));
  constexpr int kRounds = 5;
  double totalMs = 0, lineMs = 0;
  unsigned exchanges = 0;
  for (int round = 0; round < kRounds; ++round) {
    SimTakeLineTime(serial_);
    SimAdapterState state = {};
    ASSERT_TRUE(SimGetAdapterState(serial_, &state));
    const uint32_t framesBefore = state.framesSent;
    const double start = NowMs();
    ASSERT_EQ(S_OK, hart_->StartScan());
    ASSERT_TRUE(WaitScanFinished());
    const double scanMs = NowMs() - start;
    const double wireMs = static_cast<double>(SimTakeLineTime(serial_)) / 1000.0;
    ASSERT_TRUE(SimGetAdapterState(serial_, &state));
    const unsigned frames = state.framesSent - framesBefore;
    std::printf("round %d: scan %.1f ms, wire times and time-outs %.1f ms, %+.2f%%; %u exchanges, "
                "%.1f ms over the line each\n",
                round + 1, scanMs, wireMs, 100.0 * (scanMs - wireMs) / wireMs, frames,
                (scanMs - wireMs) / frames);
    totalMs += scanMs;
    lineMs += wireMs;
    exchanges += frames;
    EXPECT_EQ((std::vector<uint8_t>{0, 3, 9, 15}), FoundAddresses());
  }
  std::printf("0-15 scan, mean of %d: %.1f ms against %.1f ms on the line (%+.2f%%), %.1f ms over the line "
              "per exchange (the library's 10 ms receive poll alone averages about 5 ms)\n",
              kRounds, totalMs / kRounds, lineMs / kRounds, 100.0 * (totalMs - lineMs) / lineMs,
              (totalMs - lineMs) / exchanges);
}

}  // namespace
}  // namespace channeltest
