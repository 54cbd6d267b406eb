// The DTM's controls in German: each control, hosted by its ProgID and
// initialised with the HART DTM online on a bus with a device and its DTM,
// is opened in English and then, after the DTM has switched to German, again;
// no text it shows in German may be one of its English texts or one of the
// English entries of the delivered translation document.
#include <string>
#include <vector>

#include "bus_fixture.h"
#include "controls/control_resources.h"
#include "dtm/dtm_ids.h"

namespace hartdtmtest {
namespace {

struct ControlUnderTest {
  const wchar_t* progId;
  ULONG function;
  const wchar_t* caption;
};

const ControlUnderTest kControls[] = {
    {L"vtFDT.FSKMavixCommDTM_ChannelConfig", hart_function::kChannelConfiguration, L"Channel Configuration"},
    {L"vtFDT.FSKMavixCommDTM_DriverConfigCtrl", hart_function::kDriverConfiguration, L"Driver Configuration"},
    {L"vtFDT.FSKMavixCommDTM_DeviceListCtrl", hart_function::kDeviceList, L"Device List"},
    {L"vtFDT.FSKMavixCommDTM_GetAddrForDtm", hart_function::kAddressForDtm, L"Get Address for DTM"},
    {L"vtFDT.FSKMavixCommDTM_SetDevAndDtmAddr", hart_function::kDeviceAndDtmAddress, L"Set DTM and Device Address"},
    {L"vtFDT.FSKMavixCommDTM_SetDevDtmAddrCtrl", hart_function::kNewDeviceDtmAddress, L"Set DeviceDTM Address"},
    {L"vtFDT.FSKMavixCommDTM_SetSlaveAddrCtrl", hart_function::kSlaveAddress, L"Change Slave Address"},
};

class GermanTextsTest : public BusControlsFixture {
 protected:
  void Open(const ControlUnderTest& control) {
    OpenControl(control.progId, control.function, control.caption, 640, 330);
    ASSERT_EQ(VARIANT_TRUE, initialised) << control.caption;
  }
  bool SetLanguage(long language) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    return dtm->SetLanguage(language, &ok) == S_OK && ok == VARIANT_TRUE;
  }
};

TEST_F(GermanTextsTest, EveryControlShowsItsTextsInGerman) {
  GoOnlineOnBus();
  AddDevice(3, 0x030303, "PT-3A");
  AddChildDtm(L"child-3", L"TT-3", 3);
  AddChildDtm(L"child-5", L"TT-5", 5);
  // The found devices fill the device list's rows in both languages.
  Open(kControls[2]);
  ASSERT_TRUE(host.click(IDC_UPDATE_LIST));
  ASSERT_TRUE(PumpUntil([&] { return host.enabled(IDC_UPDATE_LIST); }, 30000));
  ASSERT_EQ(2, ListRows(IDC_DEVICE_LIST));
  host.close();

  std::vector<std::vector<ShownText>> english;
  for (const ControlUnderTest& control : kControls) {
    Open(control);
    english.push_back(ShownTexts(false));
    host.close();
  }
  ASSERT_TRUE(SetLanguage(1031));
  const std::set<std::wstring> entries = EnglishControlEntries();
  ASSERT_LT(50u, entries.size());
  for (size_t i = 0; i < std::size(kControls); ++i) {
    Open(kControls[i]);
    const std::vector<ShownText> german = ShownTexts(true);
    host.close();
    std::set<std::wstring> englishTexts = entries;
    for (const ShownText& text : english[i]) englishTexts.insert(text.text);
    EXPECT_EQ(std::vector<ShownText>{}, EnglishLeft(german, englishTexts)) << kControls[i].caption;
    // The German texts are there at all: the page is not empty.
    EXPECT_LT(4u, german.size()) << kControls[i].caption;
  }
}

}  // namespace
}  // namespace hartdtmtest
