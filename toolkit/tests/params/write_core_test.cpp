// The write core end to end, device completions, online paths, and the
// handler used from another apartment.
#include <gtest/gtest.h>

#include "com/ComPtr.h"
#include "param_test_object.h"
#include "toolkit/values/fdt_variant.h"

namespace {

com::Variant i4(LONG v) { return com::Variant(v); }

class WriteCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<TestParamObject>::create(&dtm_));
    g_hookCalls.clear();
    g_beforeWriteResult = S_OK;
    g_afterWriteResult = S_OK;
  }
  void TearDown() override {
    dtm_->Release();
    CoUninitialize();
  }

  com::Variant value(ULONG id) {
    com::Variant out;
    EXPECT_HRESULT_SUCCEEDED(dtm_->GetParameterValue(com::ui4(id).value(), out.get()));
    return out;
  }
  ULONG flags(ULONG id) {
    ParInfo record;
    EXPECT_HRESULT_SUCCEEDED(dtm_->GetParInfo(id, kParFlags, &record));
    return record.flags;
  }

  com::ComObject<TestParamObject>* dtm_ = nullptr;
};

TEST_F(WriteCoreTest, ChangedValueIsConvertedAuditedSentAndMarksTheDataSetModified) {
  ASSERT_HRESULT_SUCCEEDED(dtm_->WriteParameter(com::ui4(kIdScanStart).value(), i4(7).value()));

  com::Variant stored = value(kIdScanStart);
  ASSERT_EQ(VT_UI1, stored.type());  // converted to the declared type
  EXPECT_EQ(7, V_UI1(stored.get()));

  ASSERT_EQ(1u, dtm_->auditEntries.size());
  EXPECT_EQ(L"Scan Start (VT_UI1)", dtm_->auditEntries[0].name);
  EXPECT_EQ(L"0", dtm_->auditEntries[0].oldText);
  EXPECT_EQ(L"7", dtm_->auditEntries[0].newText);

  auto written = dtm_->MessagesWithCode(kCtlValueWritten);
  ASSERT_EQ(1u, written.size());
  EXPECT_EQ(static_cast<ULONG>(kIdScanStart), TestParamObject::PairId(written[0]));
  com::Variant sent = TestParamObject::PairValue(written[0]);
  EXPECT_EQ(VT_UI1, sent.type());
  EXPECT_EQ(7, V_UI1(sent.get()));

  EXPECT_EQ(std::vector<LONG>{1}, dtm_->modifiedCalls);
  EXPECT_TRUE(flags(kIdScanStart) & kParFlagWritten);
  // A DTM-side parameter leaves the data state alone.
  EXPECT_EQ(static_cast<ULONG>(kDataStateDefault), dtm_->GetDataState());
  EXPECT_TRUE(dtm_->MessagesWithCode(kCtlDataState).empty());
}

TEST_F(WriteCoreTest, DeviceParameterSetsDataStateValidModified) {
  ASSERT_HRESULT_SUCCEEDED(dtm_->WriteParameter(com::ui4(kIdDeviceValue).value(), i4(42).value()));
  EXPECT_EQ(static_cast<ULONG>(kDataStateValidModified), dtm_->GetDataState());
  auto state = dtm_->MessagesWithCode(kCtlDataState);
  ASSERT_EQ(1u, state.size());
  ASSERT_EQ(VT_UI2, state[0].value.type());
  EXPECT_EQ(1, V_UI2(state[0].value.get()));
}

TEST_F(WriteCoreTest, UnchangedValueOnlyRefreshesTheControls) {
  ASSERT_HRESULT_SUCCEEDED(dtm_->WriteParameter(com::ui4(kIdHooked).value(), i4(5).value()));
  dtm_->controlMessages.clear();
  dtm_->auditEntries.clear();
  dtm_->modifiedCalls.clear();
  g_hookCalls.clear();

  // The same value in another type: equal after conversion.
  ASSERT_HRESULT_SUCCEEDED(
      dtm_->WriteParameter(com::ui4(kIdHooked).value(), com::Variant(L"5").value()));
  EXPECT_EQ(1u, dtm_->MessagesWithCode(kCtlValueWritten).size());
  EXPECT_TRUE(dtm_->auditEntries.empty());
  EXPECT_TRUE(dtm_->modifiedCalls.empty());
  EXPECT_TRUE(g_hookCalls.empty());
}

TEST_F(WriteCoreTest, HooksFrameTheStoreAndTheBeforeHookMayRefuse) {
  ASSERT_HRESULT_SUCCEEDED(dtm_->WriteParameter(com::ui4(kIdHooked).value(), i4(3).value()));
  ASSERT_EQ(2u, g_hookCalls.size());
  EXPECT_EQ(5, g_hookCalls[0].hook);
  EXPECT_EQ(6, g_hookCalls[1].hook);
  EXPECT_EQ(static_cast<ULONG>(kIdHooked), g_hookCalls[0].id);
  EXPECT_EQ(VT_UNKNOWN, g_hookCalls[0].argumentType);  // the owner's handler

  g_beforeWriteResult = E_ACCESSDENIED;
  dtm_->controlMessages.clear();
  EXPECT_EQ(E_ACCESSDENIED, dtm_->WriteParameter(com::ui4(kIdHooked).value(), i4(4).value()));
  EXPECT_EQ(3, V_I4(value(kIdHooked).get()));
  EXPECT_TRUE(dtm_->MessagesWithCode(kCtlValueWritten).empty());

  // A failing after-write hook comes too late to undo the store: the value
  // stays, the controls and the modified mark still learn of it, and the
  // failure is answered.
  g_beforeWriteResult = S_OK;
  g_afterWriteResult = E_UNEXPECTED;
  dtm_->modifiedCalls.clear();
  EXPECT_EQ(E_UNEXPECTED, dtm_->WriteParameter(com::ui4(kIdHooked).value(), i4(8).value()));
  EXPECT_EQ(8, V_I4(value(kIdHooked).get()));
  EXPECT_EQ(1u, dtm_->MessagesWithCode(kCtlValueWritten).size());
  EXPECT_EQ(std::vector<LONG>{1}, dtm_->modifiedCalls);
}

TEST_F(WriteCoreTest, WriteWithoutNotifyLeavesFlagsAndModifiedMarkAlone) {
  ASSERT_HRESULT_SUCCEEDED(dtm_->WriteValue(kIdPreambles, i4(9).value()));
  EXPECT_EQ(9, V_UI1(value(kIdPreambles).get()));
  EXPECT_FALSE(flags(kIdPreambles) & kParFlagWritten);
  EXPECT_TRUE(dtm_->modifiedCalls.empty());
  EXPECT_EQ(1u, dtm_->MessagesWithCode(kCtlValueWritten).size());

  // Not persistent: flag 0x100, but no modified notice.
  ASSERT_HRESULT_SUCCEEDED(
      dtm_->WriteParameter(com::ui4(kIdScanActive).value(), com::Variant(true).value()));
  EXPECT_TRUE(flags(kIdScanActive) & kParFlagWritten);
  EXPECT_TRUE(dtm_->modifiedCalls.empty());
}

TEST_F(WriteCoreTest, RefusedWritesChangeNothing) {
  // Not convertible to VT_UI1 (text, and a number out of the type's range).
  EXPECT_HRESULT_FAILED(
      dtm_->WriteParameter(com::ui4(kIdScanStart).value(), com::Variant(L"abc").value()));
  EXPECT_HRESULT_FAILED(dtm_->WriteParameter(com::ui4(kIdScanStart).value(), i4(300).value()));
  EXPECT_EQ(E_INVALIDARG, dtm_->WriteParameter(com::ui4(4242).value(), i4(1).value()));
  EXPECT_EQ(E_FAIL, dtm_->WriteParameter(com::Variant(L"not an id").value(), i4(1).value()));
  EXPECT_EQ(0, V_UI1(value(kIdScanStart).get()));
  EXPECT_TRUE(dtm_->controlMessages.empty());
  EXPECT_TRUE(dtm_->auditEntries.empty());
  EXPECT_TRUE(dtm_->modifiedCalls.empty());
  EXPECT_EQ(0x71u, flags(kIdScanStart));
}

TEST_F(WriteCoreTest, NoContainerNoAuditTrailStillWrites) {
  com::ComObject<BareParamObject>* bare = nullptr;
  ASSERT_HRESULT_SUCCEEDED(com::ComObject<BareParamObject>::create(&bare));
  EXPECT_HRESULT_SUCCEEDED(bare->WriteParameter(com::ui4(kIdScanStart).value(), i4(2).value()));
  com::Variant out;
  ASSERT_HRESULT_SUCCEEDED(bare->GetValue(kIdScanStart, out.get()));
  EXPECT_EQ(2, V_UI1(out.get()));
  bare->Release();
}

TEST_F(WriteCoreTest, DeviceCompletionsKeepTheirResult) {
  com::Bstr error(L"no answer");
  ASSERT_HRESULT_SUCCEEDED(dtm_->SetParameterValue(VARIANT_FALSE, com::ui4(kIdDeviceValue).value(),
                                                   i4(5).value(), error.get()));
  EXPECT_EQ(0, dtm_->LastDeviceResult());
  EXPECT_STREQ(L"no answer", dtm_->LastDeviceError());
  EXPECT_EQ(std::vector<std::wstring>{L"no answer"}, dtm_->sentMessages);
  EXPECT_TRUE(flags(kIdDeviceValue) & kParFlagNotRead);

  ASSERT_HRESULT_SUCCEEDED(dtm_->SetParameterValue(VARIANT_TRUE, com::ui4(kIdDeviceValue).value(),
                                                   i4(77).value(), nullptr));
  EXPECT_EQ(1, dtm_->LastDeviceResult());
  EXPECT_EQ(nullptr, dtm_->LastDeviceError());
  EXPECT_EQ(static_cast<ULONG>(kIdDeviceValue), dtm_->LastCompletedId());
  EXPECT_FALSE(flags(kIdDeviceValue) & (kParFlagNotRead | kParFlagChanged));
  ParInfo record;
  ASSERT_HRESULT_SUCCEEDED(dtm_->GetParameter(kIdDeviceValue, &record));
  EXPECT_EQ(77, V_I4(record.initialValue.get()));  // the device value, not the value
  EXPECT_EQ(0, V_I4(record.value.get()));
  auto arrived = dtm_->MessagesWithCode(kCtlDeviceValue);
  ASSERT_EQ(1u, arrived.size());
  EXPECT_EQ(77, V_I4(TestParamObject::PairValue(arrived[0]).get()));
}

TEST_F(WriteCoreTest, LocalRefreshAndStore) {
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(S_OK, dtm_->RefreshParameter(com::ui4(kIdScanStart).value(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  EXPECT_EQ(E_INVALIDARG, dtm_->RefreshParameter(com::ui4(kNoParameterId).value(), &done));

  // Kind 0: validated and written, flag 0x2 cleared, flag change sent.
  ASSERT_EQ(S_OK, dtm_->StoreParameter(com::ui4(kIdScanStart).value(), i4(4).value(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  EXPECT_EQ(4, V_UI1(value(kIdScanStart).get()));
  EXPECT_FALSE(flags(kIdScanStart) & kParFlagChanged);
  EXPECT_EQ(1u, dtm_->MessagesWithCode(kCtlFlagsChanged).size());

  // An online-writable device parameter while the DTM is not online: done,
  // nothing written.
  ParInfo writable;
  writable.flags = 0x71 | kParFlagOnlineWrite;
  ASSERT_HRESULT_SUCCEEDED(dtm_->SetParInfo(kIdDeviceValue, kParFlags, writable));
  ASSERT_EQ(S_OK, dtm_->StoreParameter(com::ui4(kIdDeviceValue).value(), i4(9).value(), &done));
  EXPECT_EQ(VARIANT_TRUE, done);
  EXPECT_EQ(0, V_I4(value(kIdDeviceValue).get()));
}

// The handler in another single-threaded apartment, reached through the
// typelib marshaller as the DTM worker thread reaches it.
class HandlerApartment {
 public:
  HandlerApartment() {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &HandlerApartment::run, this, 0, &threadId_);
  }
  ~HandlerApartment() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    if (WaitForSingleObject(thread_, 10000) != WAIT_OBJECT_0) TerminateThread(thread_, 1);
    CloseHandle(thread_);
    CloseHandle(ready_);
  }
  IevFdtParameterHandler4* proxy() {
    if (WaitForSingleObject(ready_, 10000) != WAIT_OBJECT_0 || !stream_) return nullptr;
    IevFdtParameterHandler4* out = nullptr;
    CoGetInterfaceAndReleaseStream(stream_, IID_IevFdtParameterHandler4,
                                   reinterpret_cast<void**>(&out));
    stream_ = nullptr;
    return out;
  }
  DWORD threadId() const { return threadId_; }
  com::ComObject<TestParamObject>* object() { return object_; }

 private:
  static DWORD WINAPI run(void* self) {
    auto* a = static_cast<HandlerApartment*>(self);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    if (SUCCEEDED(com::ComObject<TestParamObject>::create(&a->object_))) {
      CoMarshalInterThreadInterfaceInStream(
          IID_IevFdtParameterHandler4,
          static_cast<IevFdtParameterHandler4*>(a->object_), &a->stream_);
    }
    SetEvent(a->ready_);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    if (a->object_) a->object_->Release();
    CoUninitialize();
    return 0;
  }

  com::ComObject<TestParamObject>* object_ = nullptr;
  IStream* stream_ = nullptr;
  HANDLE ready_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
};

TEST(ParamHandlerApartmentTest, WriteThroughAProxyRunsOnTheOwnersThread) {
  ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring embedded = std::wstring(path) + L"\\1";
  ITypeLib* lib = nullptr;
  ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(embedded.c_str(), REGKIND_NONE, &lib));
  ASSERT_HRESULT_SUCCEEDED(RegisterTypeLib(lib, &embedded[0], nullptr));
  lib->Release();
  {
    HandlerApartment apartment;
    com::ComPtr<IevFdtParameterHandler4> handler;
    handler.attach(apartment.proxy());
    ASSERT_TRUE(handler);

    ASSERT_HRESULT_SUCCEEDED(
        handler->WriteParameter(com::ui4(kIdPreambles).value(), i4(12).value()));
    com::Variant read;
    ASSERT_HRESULT_SUCCEEDED(
        handler->GetParameterValue(com::ui4(kIdPreambles).value(), read.get()));
    EXPECT_EQ(VT_UI1, read.type());
    EXPECT_EQ(12, V_UI1(read.get()));

    // The records' interface never crosses: no proxy answers it.
    com::ComPtr<IevFdtParameterStore> store;
    EXPECT_HRESULT_FAILED(handler->QueryInterface(IID_IevFdtParameterStore, store.putVoid()));

    auto written = apartment.object()->MessagesWithCode(kCtlValueWritten);
    ASSERT_EQ(1u, written.size());
    EXPECT_EQ(apartment.threadId(), written[0].thread);
    EXPECT_EQ(1u, apartment.object()->auditEntries.size());
  }
  CoUninitialize();
}

}  // namespace
