#include "address_controls_fixture.h"

#include "sim/sim_control.h"

namespace hartdtmtest {

devicedtm_double::ChildDtm* AddressControlsFixture::AddChild(const wchar_t* systemTag, const wchar_t* dtmTag,
                                                             int address) {
  devicedtm_double::ChildDtm* child = RegisterChildDtm(systemTag, dtmTag, address);
  if (!child) return nullptr;
  com::ComPtr<IFdtChannelSubTopology> topology;
  com::ComPtr<IUnknown> channel = HartChannel();
  EXPECT_TRUE(channel && SUCCEEDED(channel.as(topology)));
  if (topology) {
    com::Bstr tag(systemTag);
    EXPECT_EQ(S_OK, topology->OnAddChild(tag.get()));
  }
  return child;
}

void AddressControlsFixture::AddDevice(uint8_t pollingAddress, uint32_t deviceId) {
  // A frame nobody answers (a free address probed) ends at the master's
  // reply time-out, as on a real line, instead of the library's own.
  ASSERT_TRUE(SimSetLineTiming(kSerial, 0, SIM_HART_TIMEOUT));
  SimFieldDevice device;
  SimInitFieldDevice(&device);
  device.pollingAddress = pollingAddress;
  device.deviceId = deviceId;
  ASSERT_TRUE(SimAddFieldDevice(kSerial, &device));
}

int AddressControlsFixture::PollingAddressOf(uint32_t deviceId) {
  SimFieldDevice device;
  if (!SimGetFieldDevice(kSerial, deviceId, &device)) return -1;
  return device.pollingAddress;
}

std::wstring AddressControlsFixture::ChildEntry(const wchar_t* systemTag) {
  com::ComPtr<IHART_Channel> channel = Channel();
  com::Bstr tag(systemTag), dtmTag;
  BYTE address = 0;
  if (!channel || channel->GetChildDtmInfoBySysTag(tag.get(), dtmTag.put(), &address) != S_OK) return L"<none>";
  return std::wstring(dtmTag.c_str()) + L" " + std::to_wstring(address);
}

std::wstring AddressControlsFixture::AssignAddressByUser(const wchar_t* systemTag) {
  const std::wstring list =
      std::wstring(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMDeviceListSchema.xml\" "
                   L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><DeviceList showUserInterface=\"openUserInterface\">"
                   L"<Device fdt:systemTag=\"") +
      systemTag + L"\"><BusAddressList/></Device></DeviceList></FDT>";
  com::ComPtr<IFdtChannelSubTopology2> topology;
  com::ComPtr<IUnknown> channel = HartChannel();
  if (!channel || FAILED(channel.as(topology))) return L"<no address assignment>";
  com::Bstr in(list.c_str()), out;
  EXPECT_EQ(S_OK, topology->SetChildrenAddresses(in.get(), out.put()));
  return out.c_str();
}

}  // namespace hartdtmtest
