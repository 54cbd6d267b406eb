// What a transfer of the parameter set takes from the handler: the list of
// parameters a download writes, and the progress notices (DTM event 18 to
// the owner) with the handler's progress record.
#include <gtest/gtest.h>

#include <vector>

#include "com/Dispatch.h"
#include "com/Object.h"
#include "param_test_object.h"
#include "toolkit/params/param_handler.h"
#include "toolkit/params/param_rows.h"
#include "toolkit/values/va_packer.h"

namespace {

struct Notice {
  std::wstring title;
  LONG percent;
  bool running;
};

// An owner that records the progress notices it is given.
class ProgressOwner : public com::ObjectRoot,
                      public CevFDT_ParameterHandlerImpl<ProgressOwner>,
                      public com::DispatchImpl<IevFdtDtmEvents> {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {EV_PARAMETER_HANDLER_ENTRIES(ProgressOwner),
                                              com::entry<ProgressOwner, IevFdtDtmEvents>(),
                                              com::endOfMap()};
    return map;
  }
  HRESULT finalConstruct() { return S_OK; }
  IUnknown* GetCommDtmInterface() { return controllingUnknown(); }

  STDMETHODIMP OnDtmEvent(VARIANT code, VARIANT value) override {
    EXPECT_EQ(VT_I4, V_VT(&code));
    EXPECT_EQ(18, V_I4(&code));
    SProgressEvent report;
    EXPECT_TRUE(report.UnpackFromVariant(value));
    notices.push_back({report.text.c_str(), report.progress, report.running});
    return S_OK;
  }

  std::vector<Notice> notices;
};

class TransferProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<ProgressOwner>::create(&owner_));
  }
  void TearDown() override {
    if (owner_) owner_->Release();
    CoUninitialize();
  }
  std::vector<LONG> Steps() const {
    std::vector<LONG> percents;
    for (const Notice& notice : owner_->notices)
      if (notice.running) percents.push_back(notice.percent);
    return percents;
  }

  com::ComObject<ProgressOwner>* owner_ = nullptr;
};

TEST_F(TransferProgressTest, DownloadListHoldsDeviceParametersWritableOnlineByAscendingId) {
  ASSERT_EQ(S_OK, ParamRow::Numeric(30, L"Writable", VT_UI1, 0, 0, 0, 0).Kind(kParKindDevice).AddTo(owner_));
  ASSERT_EQ(S_OK, ParamRow::Numeric(20, L"Read only", VT_UI1, 0, 0, 0, 0)
                      .Kind(kParKindDevice).Flags(0x51).AddTo(owner_));
  ASSERT_EQ(S_OK, ParamRow::Numeric(10, L"In the DTM", VT_UI1, 0, 0, 0, 0).AddTo(owner_));
  ASSERT_EQ(S_OK, ParamRow::Numeric(25, L"Not usual", VT_UI1, 0, 0, 0, 0)
                      .Kind(kParKindDevice).Flags(0x31).AddTo(owner_));
  ASSERT_EQ(S_OK, ParamRow::Numeric(5, L"Also writable", VT_UI1, 0, 0, 0, 0).Kind(kParKindDevice).AddTo(owner_));

  com::Variant list;
  ASSERT_EQ(S_OK, owner_->GetParInfoList(list.get()));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, list.type());
  SAFEARRAY* ids = V_ARRAY(list.get());
  LONG lower = -1, upper = -1;
  SafeArrayGetLBound(ids, 1, &lower);
  SafeArrayGetUBound(ids, 1, &upper);
  ASSERT_EQ(0, lower);
  ASSERT_EQ(1, upper);
  std::vector<ULONG> found;
  for (LONG i = 0; i <= upper; ++i) {
    com::Variant id;
    ASSERT_EQ(S_OK, SafeArrayGetElement(ids, &i, id.get()));
    ASSERT_EQ(VT_UI4, id.type());
    found.push_back(V_UI4(id.get()));
  }
  EXPECT_EQ((std::vector<ULONG>{5, 30}), found);
  EXPECT_EQ(E_INVALIDARG, owner_->GetParInfoList(nullptr));

  // None takes part: an empty list, not an error.
  com::ComObject<BareParamObject>* object = nullptr;
  ASSERT_HRESULT_SUCCEEDED(com::ComObject<BareParamObject>::create(&object));
  ASSERT_EQ(S_OK, object->RemoveAllParameters());
  ASSERT_EQ(S_OK, object->GetParInfoList(list.put()));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, list.type());
  EXPECT_EQ(0u, V_ARRAY(list.get())->rgsabound[0].cElements);
  object->Release();
}

TEST_F(TransferProgressTest, StepsComeEachTimeThePercentagePassesTheMarkWhichGrowsByFive) {
  owner_->ReportTransferProgress(0, 100, L"Download");
  for (ULONG k = 1; k <= 100; ++k) owner_->ReportTransferProgress(k, 100, L"Download");
  ASSERT_FALSE(owner_->notices.empty());
  EXPECT_EQ(L"Download", owner_->notices[0].title);
  EXPECT_EQ(0, owner_->notices[0].percent);
  EXPECT_FALSE(owner_->notices[0].running) << "the start";
  std::vector<LONG> expected;
  for (LONG percent = 1; percent <= 96; percent += 5) expected.push_back(percent);
  // After twenty steps the mark is 100: the last item brings no step.
  EXPECT_EQ(expected, Steps());

  // A new transfer starts its own record; a pending abort holds the steps
  // back but not the start.
  owner_->notices.clear();
  owner_->ResetTransferProgress();
  owner_->SetTransferAbortFlag(true);
  owner_->ReportTransferProgress(0, 3, L"Download");
  owner_->ReportTransferProgress(1, 3, L"Download");
  EXPECT_EQ(1u, owner_->notices.size());
  EXPECT_TRUE(Steps().empty());
  owner_->SetTransferAbortFlag(false);
  owner_->ReportTransferProgress(2, 3, L"Download");
  owner_->ReportTransferProgress(3, 3, L"Download");
  EXPECT_EQ((std::vector<LONG>{66, 100}), Steps());
  // No items: only the start.
  owner_->notices.clear();
  owner_->ReportTransferProgress(4, 0, L"Download");
  EXPECT_TRUE(owner_->notices.empty());
}

TEST_F(TransferProgressTest, ANoticeIsDtmEventEighteenAndNeedsAnOwnerThatTakesIt) {
  EXPECT_EQ(S_OK, owner_->ReportProgress(L"Download", 250, true));
  ASSERT_EQ(1u, owner_->notices.size());
  EXPECT_EQ(L"Download", owner_->notices[0].title);
  EXPECT_EQ(100, owner_->notices[0].percent) << "no more than all";
  EXPECT_TRUE(owner_->notices[0].running);
  EXPECT_EQ(S_OK, owner_->ReportProgress(nullptr, 0, false));
  EXPECT_EQ(L"", owner_->notices[1].title);

  com::ComObject<BareParamObject>* object = nullptr;
  ASSERT_HRESULT_SUCCEEDED(com::ComObject<BareParamObject>::create(&object));
  EXPECT_EQ(S_FALSE, object->ReportProgress(L"Download", 50, true));
  object->Release();
}

}  // namespace
