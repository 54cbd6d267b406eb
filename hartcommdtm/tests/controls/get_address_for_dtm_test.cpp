// The new-address control of a device DTM (function 9) as the channel's
// address assignment runs it: the DTM opens it through the frame's modal
// call, the frame hosts it by ProgID, and the address the user confirms
// reaches the child DTM; every other way out cancels.
#include <string>
#include <vector>

#include "address_controls_fixture.h"
#include "controls/control_resources.h"
#include "dtm/dtm_ids.h"

namespace hartdtmtest {
namespace {

const wchar_t kProgId[] = L"vtFDT.FSKMavixCommDTM_GetAddrForDtm";

class GetAddressForDtmTest : public AddressControlsFixture {
 protected:
  // The frame's modal call of function 9 hosts the control and lets
  // `user` act in it before the call returns.
  void PlayUser(std::function<void()> user) {
    frame->onDialog([this, user](const std::wstring&, const std::wstring& call, VARIANT_BOOL* result) {
      EXPECT_NE(std::wstring::npos, call.find(L"functionId=\"9\"")) << call;
      OpenControl(kProgId, hart_function::kAddressForDtm, L"Get Address for DTM", 500, 200);
      EXPECT_EQ(VARIANT_TRUE, initialised);
      user();
      host.close();  // the frame's dialog ends either way
      *result = VARIANT_TRUE;
      return S_OK;
    });
  }

  // The frame closes its dialog: asks the control, then destroys it.
  void FrameCloses() {
    com::ComPtr<IDtmActiveXControl> control = host.as<IDtmActiveXControl>();
    ASSERT_TRUE(control);
    VARIANT_BOOL released = VARIANT_FALSE;
    EXPECT_EQ(S_OK, control->PrepareToRelease(&released));
    EXPECT_EQ(VARIANT_TRUE, released);
    control.reset();
    host.close();
  }

  static bool Assigned(const std::wstring& answer, const wchar_t* errorInfo) {
    return answer.find(std::wstring(L"fdt:systemTag=\"c9\" errorInfo=\"") + errorInfo + L"\"") != std::wstring::npos;
  }
};

TEST_F(GetAddressForDtmTest, AddressTheUserConfirmsReachesTheChildDtm) {
  Configure();
  devicedtm_double::ChildDtm* child = AddChild(L"c9", L"TT-901", 5);
  std::wstring tag, proposed;
  bool readOnlyTag = false, closedByOk = false;
  PlayUser([&] {
    tag = host.text(IDC_DTM_TAG);
    proposed = host.text(IDC_ADDRESS);
    readOnlyTag = host.readOnly(IDC_DTM_TAG);
    host.typeText(IDC_ADDRESS, L"63");
    host.click(IDC_APPLY);
    closedByOk = host.closed();
  });
  std::wstring answer = AssignAddressByUser(L"c9");
  EXPECT_EQ(L"TT-901", tag);
  EXPECT_EQ(L"5", proposed) << "the child's present address is proposed";
  EXPECT_TRUE(readOnlyTag);
  EXPECT_TRUE(closedByOk);
  EXPECT_TRUE(Assigned(answer, L"ok")) << answer;
  EXPECT_EQ(L"TT-901 63", ChildEntry(L"c9"));
  EXPECT_NE(std::wstring::npos, child->document().find(L"slaveAddress=\"63\"")) << child->document();
  EXPECT_EQ(0, V_I4(Read(hart_param::kAddressCancelled).get()));

  // The lowest.
  PlayUser([&] {
    host.typeText(IDC_ADDRESS, L"0");
    host.click(IDC_APPLY);
    closedByOk = host.closed();
  });
  answer = AssignAddressByUser(L"c9");
  EXPECT_TRUE(closedByOk);
  EXPECT_TRUE(Assigned(answer, L"ok")) << answer;
  EXPECT_EQ(L"TT-901 0", ChildEntry(L"c9"));
}

TEST_F(GetAddressForDtmTest, EveryOtherWayOutCancelsAndLeavesTheChildAlone) {
  Configure();
  AddChild(L"c9", L"TT-901", 5);

  // An entry that is no address 0 to 63 (empty, pasted letters or sign,
  // too many digits) is refused in place: nothing written, the dialog stays
  // open. A close by the frame afterwards still cancels, and does not
  // confirm the proposed address.
  std::vector<std::wstring> taken;
  PlayUser([&] {
    for (const wchar_t* entry : {L"", L"abc", L"-1", L"64", L"99999999999"}) {
      host.paste(IDC_ADDRESS, entry);
      host.click(IDC_APPLY);
      if (host.closed() || V_I4(Read(hart_param::kNewAddress).get()) != 5) taken.push_back(entry);
      if (host.closed()) return;
    }
    FrameCloses();
  });
  std::wstring answer = AssignAddressByUser(L"c9");
  EXPECT_TRUE(taken.empty()) << "taken: '" << taken.front() << "'";
  EXPECT_TRUE(Assigned(answer, L"cancelled")) << answer;

  // Cancel.
  PlayUser([&] {
    host.typeText(IDC_ADDRESS, L"20");
    host.click(IDC_CANCEL);
  });
  answer = AssignAddressByUser(L"c9");
  EXPECT_TRUE(Assigned(answer, L"cancelled")) << answer;
  EXPECT_EQ(5, V_I4(Read(hart_param::kNewAddress).get())) << "Cancel leaves the address alone";

  // The frame closes the dialog without a button, or destroys the control
  // without asking it.
  PlayUser([&] { FrameCloses(); });
  EXPECT_TRUE(Assigned(AssignAddressByUser(L"c9"), L"cancelled"));
  PlayUser([&] { host.typeText(IDC_ADDRESS, L"21"); });
  EXPECT_TRUE(Assigned(AssignAddressByUser(L"c9"), L"cancelled"));
  EXPECT_EQ(L"TT-901 5", ChildEntry(L"c9"));
}

TEST_F(AddressControlScreenshots, NewAddressForDtm) {
  Configure();
  AddChild(L"c9", L"TT-901", 5);
  frame->onDialog([this](const std::wstring&, const std::wstring&, VARIANT_BOOL* result) {
    OpenControl(kProgId, hart_function::kAddressForDtm, L"Get Address for DTM", 500, 200);
    host.fitToDialog(299, 110);
    host.typeText(IDC_ADDRESS, L"12");
    SaveScreenshot("new_address_for_dtm");
    host.close();
    *result = VARIANT_TRUE;
    return S_OK;
  });
  AssignAddressByUser(L"c9");
}

}  // namespace
}  // namespace hartdtmtest
