// Transfer events: the matching rule, the search through the owner's
// transfer lists, and the handler calls after the online hooks.
#include <gtest/gtest.h>

#include <vector>

#include "com/Dispatch.h"
#include "com/Object.h"
#include "outside.h"
#include "toolkit/params/param_handler.h"
#include "toolkit/params/param_rows.h"

namespace {

// [a, b, ...] as VT_ARRAY|VT_VARIANT.
com::Variant variantArray(const std::vector<com::Variant>& items) {
  com::Variant out;
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i)
    SafeArrayPutElement(array, &i, const_cast<VARIANT*>(items[i].get()));
  V_VT(out.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(out.get()) = array;
  return out;
}

std::vector<std::pair<int, ULONG>> g_calls;  // (handler, id or 0 for a list name)

HRESULT downloadHandler(IevFdtParameterHandler4*, IOnlineParameterRequest*, VARIANT argument) {
  g_calls.push_back({1, V_VT(&argument) == VT_UI4 ? V_UI4(&argument) : 0});
  return S_OK;
}
HRESULT uploadHandler(IevFdtParameterHandler4*, IOnlineParameterRequest*, VARIANT argument) {
  g_calls.push_back({2, V_VT(&argument) == VT_UI4 ? V_UI4(&argument) : 0});
  return S_OK;
}
HRESULT readHook(const VARIANT&, ULONG) { return S_OK; }

constexpr ULONG kDeviceId = 50;   // in both lists
constexpr ULONG kOtherId = 60;    // in the upload list

// Owner with two transfer lists ("DownloadList": 50; "UploadList": 60 and
// 50), an online parameter interface that can be withdrawn, and device
// access that always reads.
class TransferOwner : public com::ObjectRoot,
                      public CevFDT_ParameterHandlerImpl<TransferOwner>,
                      public com::DispatchImpl<ITransferExtension>,
                      public com::DispatchImpl<IOnlineParameterRequest>,
                      public com::DispatchImpl<IevFdtDeviceAccess> {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        EV_PARAMETER_HANDLER_ENTRIES(TransferOwner),
        com::entry<TransferOwner, ITransferExtension>(),
        com::entryQuery(__uuidof(IOnlineParameterRequest), &queryOnline),
        com::entry<TransferOwner, IevFdtDeviceAccess>(),
        com::endOfMap()};
    return map;
  }
  HRESULT finalConstruct() {
    ParamCallbacks hooks = {nullptr, &readHook, nullptr, nullptr, &readHook, nullptr};
    return ParamRow::Numeric(kDeviceId, L"Device", VT_I4, 0, 0, 0, 0)
        .Kind(kParKindDevice).Hooks(hooks).AddTo(this);
  }
  IUnknown* GetCommDtmInterface() { return controllingUnknown(); }

  bool offersOnline = true;

  STDMETHODIMP CreateList(VARIANT, VARIANT, VARIANT, VARIANT, VARIANT_BOOL*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Reserved2() override { return E_NOTIMPL; }
  STDMETHODIMP QueryList(VARIANT, VARIANT_BOOL*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetListNames(VARIANT, VARIANT* names, long*) override {
    return variantArray({com::Variant(L"DownloadList"), com::Variant(L"UploadList")})
        .detachTo(names);
  }
  STDMETHODIMP AddListMember(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP Reserved6() override { return E_NOTIMPL; }
  STDMETHODIMP GetListMembers(VARIANT name, VARIANT* members, long*) override {
    if (V_VT(&name) == VT_BSTR && !wcscmp(V_BSTR(&name), L"DownloadList"))
      return variantArray({com::ui4(kDeviceId)}).detachTo(members);
    // Member types are not compared with the id's: a VT_I4 60 is id 60.
    return variantArray({com::Variant(static_cast<LONG>(kOtherId)), com::ui4(kDeviceId)})
        .detachTo(members);
  }
  STDMETHODIMP RequestParameter(VARIANT, VARIANT) override { return S_OK; }
  STDMETHODIMP ReadDeviceParameter(VARIANT, VARIANT_BOOL* done) override {
    *done = VARIANT_TRUE;
    return S_OK;
  }
  STDMETHODIMP WriteDeviceParameter(VARIANT, VARIANT, VARIANT_BOOL*) override {
    return E_NOTIMPL;
  }

 private:
  static HRESULT queryOnline(void* object, REFIID, void** out) {
    auto* self = static_cast<TransferOwner*>(object);
    *out = nullptr;
    if (!self->offersOnline) return E_NOINTERFACE;
    auto* online = static_cast<IOnlineParameterRequest*>(self);
    online->AddRef();
    *out = online;
    return S_OK;
  }
};

ParValueSet entry(ULONG direction, ULONG phase, const wchar_t* list, TransferListHandler h) {
  ParValueSet e;
  e.direction = com::ui4(direction);
  e.phase = com::ui4(phase);
  e.listName = com::Variant(list);
  e.handler = h;
  return e;
}

TEST(TransferEventTest, DirectionsAndPhasesMatchTheSentCodes) {
  const ULONG codes[] = {0x15, 0x25, 0x16, 0x26, 0x46, 0x11, 0x21, 0x41};
  for (ULONG code : codes) {
    ULONG phase = code & 0x78;
    EXPECT_TRUE(TransferEntryMatches(4, phase, code)) << std::hex << code;
    EXPECT_EQ(code == 0x11 || code == 0x21 || code == 0x41, TransferEntryMatches(1, phase, code))
        << std::hex << code;
    EXPECT_FALSE(TransferEntryMatches(2, phase, code)) << std::hex << code;
    EXPECT_FALSE(TransferEntryMatches(4, phase == 0x10 ? 0x20 : 0x10, code)) << std::hex << code;
  }
}

class TransferOwnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<TransferOwner>::create(&owner_));
    g_calls.clear();
  }
  void TearDown() override {
    owner_->Release();
    CoUninitialize();
  }
  com::ComObject<TransferOwner>* owner_ = nullptr;
};

TEST_F(TransferOwnerTest, SearchFindsTheEntryWhoseListHoldsTheId) {
  ASSERT_HRESULT_SUCCEEDED(owner_->AddTransferListHandler(entry(1, 0x10, L"UploadList", &uploadHandler)));
  ASSERT_HRESULT_SUCCEEDED(owner_->AddTransferListHandler(entry(4, 0x10, L"DownloadList", &downloadHandler)));

  ParValueSet found;
  // Before a bulk upload: the upload entry, found through the VT_I4 member.
  EXPECT_EQ(S_FALSE, owner_->FindTransferListHandler(com::ui4(kOtherId).value(), 0x11, &found));
  EXPECT_EQ(&uploadHandler, found.handler);
  // An online read of 60 begins: only direction 4 may match; its list lacks 60.
  EXPECT_EQ(S_FALSE, owner_->FindTransferListHandler(com::ui4(kOtherId).value(), 0x15, &found));
  EXPECT_EQ(nullptr, found.handler);

  // Dispatch calls the handler with the id.
  EXPECT_EQ(S_OK, owner_->DispatchTransferEvent(com::ui4(kDeviceId).value(), 0x15));
  ASSERT_EQ(1u, g_calls.size());
  EXPECT_EQ(std::make_pair(1, kDeviceId), g_calls[0]);
}

TEST_F(TransferOwnerTest, ListRunCallsEachHandlerOnce) {
  ASSERT_HRESULT_SUCCEEDED(owner_->AddTransferListHandler(entry(4, 0x10, L"UploadList", &uploadHandler)));
  // Both members find the entry; the second search is the last step.
  EXPECT_EQ(S_FALSE, owner_->TransferParameterArray(com::Variant(L"UploadList").value(), 0x16));
  ASSERT_EQ(1u, g_calls.size());
  EXPECT_EQ(std::make_pair(2, 0ul), g_calls[0]);  // called with the list name
}

TEST_F(TransferOwnerTest, OnlineHooksDispatchAndNeedTheOnlineInterface) {
  ASSERT_HRESULT_SUCCEEDED(owner_->AddTransferListHandler(entry(4, 0x10, L"DownloadList", &downloadHandler)));
  ParInfo readable;
  readable.flags = 0x71 | kParFlagOnlineRead;
  ASSERT_HRESULT_SUCCEEDED(owner_->SetParInfo(kDeviceId, kParFlags, readable));

  VARIANT_BOOL done = VARIANT_FALSE;
  EXPECT_EQ(S_OK, owner_->RefreshParameter(com::ui4(kDeviceId).value(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  ASSERT_EQ(1u, g_calls.size());  // the 0x15 event after hook 1; none matches 0x25

  owner_->offersOnline = false;
  EXPECT_EQ(E_POINTER, owner_->RefreshParameter(com::ui4(kDeviceId).value(), &done));
  EXPECT_EQ(E_POINTER, owner_->DispatchTransferEvent(com::ui4(kDeviceId).value(), 0x15));
}

}  // namespace
