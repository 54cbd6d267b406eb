#include "bus_fixture.h"

#include <cstdio>

#include "child_dtm.h"
#include "com/Bstr.h"
#include "frame_topology.h"

namespace hartdtmtest {

namespace {

const wchar_t kHartProtocol[] = L"{036D1498-387B-11D4-86E1-00E0987270B9}";

std::wstring ConnectDocument(uint8_t address) {
  return L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
         L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><ConnectRequest fdt:tag=\"PT-101\" "
         L"fdt:systemTag=\"DEV-1\"><ShortAddress shortAddress=\"" +
         std::to_wstring(address) + L"\"/></ConnectRequest></FDT>";
}

std::wstring InvokeId(unsigned n) {
  wchar_t text[40];
  std::swprintf(text, 40, L"{%08X-0000-4000-8000-000000000000}", n);
  return text;
}

}  // namespace

void BusControlsFixture::TearDown() {
  host.close();
  deviceDtms_.clear();
  ControlsFixture::TearDown();
  childTags_.clear();
}

void BusControlsFixture::GoOnlineOnBus() {
  GoOnline();
  ASSERT_TRUE(SimSetLineTiming(kSerial, 0, 1));
}

SimFieldDevice BusControlsFixture::AddDevice(uint8_t address, uint32_t deviceId, const char* tag, uint32_t delayMs) {
  SimFieldDevice device;
  SimInitFieldDevice(&device);
  device.pollingAddress = address;
  device.deviceId = deviceId;
  device.hartRevision = 7;
  device.hardwareRevision = static_cast<uint8_t>(address % 32);
  device.softwareRevision = static_cast<uint8_t>(address + 10);
  device.answerDelayMs = delayMs;
  std::snprintf(device.longTag, sizeof device.longTag, "%s", tag);
  EXPECT_TRUE(SimAddFieldDevice(kSerial, &device));
  return device;
}

SimFieldDevice BusControlsFixture::Device(uint32_t deviceId) {
  SimFieldDevice device = {};
  EXPECT_TRUE(SimGetFieldDevice(kSerial, deviceId, &device));
  return device;
}

void BusControlsFixture::AddChildDtm(const std::wstring& systemTag, const std::wstring& dtmTag, int address) {
  ASSERT_TRUE(RegisterChildDtm(systemTag, dtmTag, address));
  childTags_.push_back(systemTag);
  com::ComPtr<IHART_Channel> channel = Channel();
  ASSERT_TRUE(channel);
  com::Bstr name;
  ASSERT_EQ(S_OK, channel->GetChannelName(name.put()));
  // The channel's path: the DTM's system tag and the channel's tag.
  frame->setChildNodes(std::wstring(tag.c_str()) + L"/" + name.c_str(),
                       frame_double::DtmChildListDocument(childTags_));
}

bool BusControlsFixture::ConnectDeviceDtm(uint8_t address) {
  com::ComPtr<IFdtCommunication> communication;
  com::ComPtr<IUnknown> item = HartChannel();
  if (!item || FAILED(item.as(communication))) return false;
  devicedtm_double::DeviceDtm* dtm = nullptr;
  com::ComPtr<IChildCommunicationEvents> callback = devicedtm_double::createDeviceDtm(&dtm);
  deviceDtms_.push_back(callback);
  com::Bstr id(InvokeId(invoke_++).c_str()), protocol(kHartProtocol), document(ConnectDocument(address).c_str());
  VARIANT_BOOL queued = VARIANT_FALSE;
  if (FAILED(communication->ConnectRequest(callback.get(), id.get(), protocol.get(), document.get(), &queued)) ||
      !queued)
    return false;
  if (!dtm->waitForAnswers(1, 20000)) return false;
  return dtm->answers()[0].document.find(L"communicationReference") != std::wstring::npos;
}

}  // namespace hartdtmtest
