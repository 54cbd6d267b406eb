// Test base for the HART channel end to end: a simulated adapter with field
// devices (the service's registry part played here), the real modemapi.dll,
// the owner-DTM double, the frame double and the channel itself, made on
// the test's single-threaded apartment.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "channel/hart_channel.h"
#include "channel_owner.h"
#include "com/ComPtr.h"
#include "device_dtm.h"
#include "frame_notices.h"
#include "frame_scan_events.h"
#include "sim/sim_control.h"

namespace channeltest {

extern const wchar_t kHartProtocol[];

// Documents of the FDT HART communication schema as device DTMs send them.
std::wstring ConnectShortDocument(uint8_t shortAddress, const wchar_t* tag = L"PT-101");
std::wstring ConnectLongDocument(uint8_t manufacturer, uint8_t deviceType, uint8_t a1, uint8_t a2, uint8_t a3,
                                 uint8_t shortAddress, const wchar_t* tag = L"PT-101");
std::wstring DataExchangeDocument(const std::wstring& reference, uint8_t command, const std::wstring& bytes = L"");
std::wstring DisconnectDocument(const std::wstring& reference);
std::wstring SubscribeDocument(const std::wstring& reference, bool subscribe);
// A UUID-shaped invoke id made from a number.
std::wstring InvokeId(unsigned number);
// The value of an attribute in a document ("" when absent).
std::wstring Attribute(const std::wstring& document, const wchar_t* name);
// Upper-case hexadecimal of bytes.
std::wstring Hex(const std::vector<uint8_t>& bytes);
// The document with its one occurrence of `from` replaced by `to`.
std::wstring Replaced(std::wstring document, const std::wstring& from, const std::wstring& to);
// How many references an object of ours holds now.
ULONG References(IUnknown* object);

class ChannelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  // A field device on the adapter (SimInitFieldDevice defaults otherwise).
  SimFieldDevice AddDevice(uint8_t pollingAddress, uint32_t deviceId, uint8_t revision = 7);
  // Owner, frame and channel; the adapter under device number 0. With
  // fdt121Frame_ the channel is told, as the DTM tells it when it attaches
  // it, that the frame declared FDT 1.2.1. The frame is agile unless
  // agileFrame_ is cleared: it then lives in this single-threaded
  // apartment, and the worker reaches it through proxies while this
  // thread serves its messages.
  void MakeChannel();
  HRESULT Start();
  // A device-DTM double on this thread.
  com::ComPtr<IChildCommunicationEvents> NewDeviceDtm(devicedtm_double::DeviceDtm** object, bool fdt121 = true);
  // Connect request; true when queued.
  bool Connect(IChildCommunicationEvents* dtm, unsigned invoke, const std::wstring& document);
  bool Transact(unsigned invoke, const std::wstring& document);
  // Connects by short address and answers the communication reference
  // ("" after a failed connect).
  std::wstring ConnectAndWait(devicedtm_double::DeviceDtm* dtm, IChildCommunicationEvents* callback,
                              uint8_t shortAddress, unsigned invoke);
  // The last answer after waiting for `count` of them.
  devicedtm_double::Answer WaitAnswer(devicedtm_double::DeviceDtm* dtm, size_t count, DWORD timeoutMs = 20000);
  SimAdapterState AdapterState();
  uint32_t OwnerUi4(ULONG id);
  void SetOwnerByte(ULONG id, uint8_t value);

  uint16_t serial_ = 0;
  std::string devicePath_;
  ChannelOwner* owner_ = nullptr;
  com::ComPtr<IUnknown> ownerUnknown_;
  frame_double::NoticeFrame* frame_ = nullptr;
  frame_double::ScanEventsFrame* scanFrame_ = nullptr;  // the same object as frame_
  com::ComPtr<IUnknown> frameUnknown_;
  bool fdt121Frame_ = false;
  bool agileFrame_ = true;
  hartdtm::CHART_Channel* channel_ = nullptr;
  com::ComPtr<IevFdtBaseChannel> base_;
  com::ComPtr<IFdtCommunication> communication_;
};

}  // namespace channeltest
