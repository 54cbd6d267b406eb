// Test base for the channel's scans and address change: the channel test
// base with the found-device readers, the frames the adapter put on the line
// and a line on which silence is reported after 1 ms.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "channel_fixture.h"
#include "com/Bstr.h"
#include "com/Variant.h"

namespace channeltest {

struct DeviceInfo {
  unsigned char address = 0;
  long inUse = -1;
  std::wstring tag, manufacturer, deviceTypeText;
  unsigned char deviceType = 0;
  long deviceId = 0;
  unsigned char hardwareRevision = 0, softwareRevision = 0;
};

class ScanTest : public ChannelTest {
 protected:
  // Owner, frame and channel with the given maximum scan address, silence
  // reported after 1 ms, worker started.
  void StartQuickChannel(uint8_t maxScanAddress = 15) {
    MakeChannel();
    if (maxScanAddress != 15) SetOwnerByte(hartdtm::kParMaxScanAddress, maxScanAddress);
    ASSERT_TRUE(SimSetLineTiming(serial_, 0, 1));
    ASSERT_EQ(S_OK, Start());
    ASSERT_EQ(S_OK, base_.as(hart_));
    ClearLog();
  }

  bool WaitScanFinished() {
    for (int i = 0; i < 1200; ++i) {  // each call waits up to 100 ms
      long finished = 0, count = 0;
      if (FAILED(hart_->IsScanFinished(&finished, &count))) return false;
      if (finished) return true;
    }
    return false;
  }
  bool RunDeviceListScan() { return hart_->StartScan() == S_OK && WaitScanFinished(); }

  HRESULT GetInfo(long index, DeviceInfo* info) {
    com::Bstr tag, manufacturer, type;
    const HRESULT hr = hart_->GetDeviceInfo(index, &info->address, &info->inUse, tag.put(), manufacturer.put(),
                                            type.put(), &info->deviceType, &info->deviceId,
                                            &info->hardwareRevision, &info->softwareRevision);
    info->tag = tag.get() ? tag.c_str() : L"";
    info->manufacturer = manufacturer.get() ? manufacturer.c_str() : L"";
    info->deviceTypeText = type.get() ? type.c_str() : L"";
    return hr;
  }

  std::vector<uint8_t> FoundAddresses() {
    std::vector<uint8_t> addresses;
    long count = 0;
    hart_->GetNumberOfDevices(&count);
    for (long i = 0; i < count; ++i) {
      DeviceInfo info;
      if (GetInfo(i, &info) == S_OK) addresses.push_back(info.address);
    }
    return addresses;
  }

  static std::vector<uint8_t> PollRange(uint8_t first, uint8_t last) {
    std::vector<uint8_t> r;
    for (unsigned a = first; a <= last; ++a) r.push_back(static_cast<uint8_t>(a));
    return r;
  }

  // Frames sent since the log was cleared (8-byte header stripped).
  std::vector<std::vector<uint8_t>> SentFrames() {
    std::vector<SimTransfer> log(SimGetTransferLog(serial_, nullptr, 0));
    log.resize(SimGetTransferLog(serial_, log.data(), static_cast<uint32_t>(log.size())));
    std::vector<std::vector<uint8_t>> frames;
    for (const SimTransfer& t : log) {
      if (t.request != 0xB1 || t.error || t.transferred <= 8) continue;
      frames.emplace_back(t.data + 8, t.data + (t.transferred < 256 ? t.transferred : 256));
    }
    return frames;
  }
  // Polling addresses of the short-frame command 0 polls, in order.
  std::vector<uint8_t> PolledAddresses() {
    std::vector<uint8_t> addresses;
    for (const auto& f : SentFrames())
      if (f.size() >= 3 && f[0] == 0x02 && f[2] == 0) addresses.push_back(f[1] & 0x3F);
    return addresses;
  }
  size_t CountSentCommand(uint8_t command) {
    size_t n = 0;
    for (const auto& f : SentFrames())
      if (f.size() >= 7 && f[0] == 0x82 && f[6] == command) ++n;
    return n;
  }
  void ClearLog() { SimClearTransferLog(serial_); }

  SimFieldDevice FieldDevice(uint32_t id) {
    SimFieldDevice d{};
    SimGetFieldDevice(serial_, id, &d);
    return d;
  }
  double OwnerR8(ULONG id) {
    com::Variant value;
    if (FAILED(owner_->value(id, value.put())) || FAILED(value.changeType(VT_R8))) return -1;
    return value.get()->dblVal;
  }

  com::ComPtr<IHART_Channel> hart_;
};

}  // namespace channeltest
