// DTM events 48 to 50: the transfer-abort flag and the DTM's own online
// parameter operations, on the events test DTM with recorders for both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/Bstr.h"
#include "events_test_dtm.h"
#include "toolkit/values/fdt_variant.h"

using namespace eventstest;

namespace {

// The DTM's own IDtmOnlineParameter, recording each request as
// "method:invoke id:path".
class OnlineRecorder : public com::ObjectRoot, public com::DispatchImpl<IDtmOnlineParameter> {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {com::entry<OnlineRecorder, IDtmOnlineParameter>(),
                                              com::endOfMap()};
    return map;
  }
  STDMETHODIMP StartOnlineAction(BSTR, VARIANT_BOOL* done) override {
    if (done) *done = VARIANT_FALSE;
    return E_NOTIMPL;
  }
  STDMETHODIMP DownloadRequest(BSTR id, BSTR path, VARIANT_BOOL* accepted) override {
    requests.push_back(L"download:" + std::wstring(id ? id : L"") + L":" + (path ? path : L""));
    if (accepted) *accepted = VARIANT_TRUE;
    return answer;
  }
  STDMETHODIMP UploadRequest(BSTR id, BSTR path, VARIANT_BOOL* done) override {
    requests.push_back(L"upload:" + std::wstring(id ? id : L"") + L":" + (path ? path : L""));
    if (done) *done = VARIANT_TRUE;
    return answer;
  }
  std::vector<std::wstring> requests;
  HRESULT answer = S_OK;
};

// The events test DTM with its own online-parameter part and a recorded
// transfer-abort flag.
class OnlineEventsDtm : public EventsTestDtm {
 public:
  com::ComPtr<IDtmOnlineParameter> OwnOnlineParameter() override { return online; }
  void SetTransferAbort(bool abort) override { aborts.push_back(abort); }

  com::ComPtr<IDtmOnlineParameter> online;
  OnlineRecorder* recorder = nullptr;
  std::vector<bool> aborts;
};

class TransferEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    com::ComObject<OnlineEventsDtm>* created = nullptr;
    ASSERT_EQ(S_OK, com::ComObject<OnlineEventsDtm>::create(&created));
    holder_.attach(created->identity());
    dtm = created;
    com::ComObject<OnlineRecorder>* recorder = nullptr;
    ASSERT_EQ(S_OK, com::ComObject<OnlineRecorder>::create(&recorder));
    dtm->online.attach(recorder);
    dtm->recorder = recorder;
    ASSERT_EQ(S_OK, holder_.as(events));
  }
  void TearDown() override {
    events.reset();
    holder_.reset();
    ::CoUninitialize();
  }
  HRESULT Raise(ULONG code, const VARIANT& value) { return events->OnDtmEvent(*CFdtVariant(code).get(), value); }

  OnlineEventsDtm* dtm = nullptr;
  com::ComPtr<IevFdtDtmEvents> events;

 private:
  com::ComPtr<IUnknown> holder_;
};

}  // namespace

TEST_F(TransferEventsTest, Event48SetsTheTransferAbortFlagFromTheValuesTruth) {
  EXPECT_EQ(S_OK, Raise(48, com::Variant(true).value()));
  EXPECT_EQ(S_OK, Raise(48, com::Variant(LONG{0}).value()));
  // A value with no truth changes nothing.
  EXPECT_TRUE(FAILED(Raise(48, com::Variant(L"perhaps").value())));
  EXPECT_EQ((std::vector<bool>{true, false}), dtm->aborts);
  EXPECT_TRUE(dtm->posts.empty());
}

TEST_F(TransferEventsTest, Events49And50CallTheOwnOnlineParameterWithTheWholeDocumentPath) {
  EXPECT_EQ(S_OK, Raise(49, com::Variant(L"load-1").value()));
  EXPECT_EQ(S_OK, Raise(50, com::Variant(L"store-2").value()));
  EXPECT_EQ((std::vector<std::wstring>{L"upload:load-1:/FDT", L"download:store-2:/FDT"}),
            dtm->recorder->requests);
  // The operation's answer is the event's.
  dtm->recorder->answer = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, Raise(49, com::Variant(L"load-3").value()));
  // Without the part there is nothing to call.
  dtm->online.reset();
  EXPECT_EQ(S_FALSE, Raise(50, com::Variant(L"store-4").value()));
}
