#include "dtm_test_support.h"

#include <algorithm>

#include "com/Variant.h"
#include "regsvr32.h"
#include "test_dtm_ids.h"
#include "type_libraries.h"
#include "toolkit/dtm/base_dtm.h"
#include "win32/unique_handle.h"

namespace dtmtest {

bool ThreadEnded(DWORD threadId) {
  win32::UniqueHandle thread(::OpenThread(SYNCHRONIZE, FALSE, threadId));
  if (!thread.get()) return true;
  // A hang guard, not a timing check: the thread has normally ended already.
  return ::WaitForSingleObject(thread.get(), 30000) == WAIT_OBJECT_0;
}

std::wstring OperationPhase(const wchar_t* phase) {
  return std::wstring(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTOperationPhaseSchema.xml\" "
                      L"operationPhase=\"") +
         phase + L"\" />";
}

std::wstring FunctionCall(LONG functionId) {
  com::Bstr document;
  BaseDtm::BuildFunctionCallXml(functionId, document.put());
  return document.c_str();
}

namespace {
// regsvr32's exit code from SetUpTestSuite.
DWORD g_registration = static_cast<DWORD>(-1);
}  // namespace

// A fatal failure in SetUpTestSuite makes GoogleTest skip every case of the
// suite, and CTest counts a skipped case as no failure: the registration's
// result is checked by every case instead.
void DtmFixture::SetUpTestSuite() {
  const std::wstring server = testsupport::ProgramFolder() + kTestDtmFileName;
  g_registration = testsupport::RunRegsvr32(L"/s", server);
  // The server's two libraries (the toolkit's, the FDT interfaces) carry
  // the interfaces its worker threads marshal, also while it unloads.
  testsupport::KeepTypeLibraryLoaded(server);
  testsupport::KeepTypeLibraryLoaded(server + L"\\2");
}

void DtmFixture::SetUp() {
  ASSERT_EQ(0u, g_registration) << "regsvr32 of the test DTM failed";
  ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  frameObject = frame_double::createNoticeFrame(&frame);
  ASSERT_TRUE(frame);
  frame->setAgile(agileFrame);
  ASSERT_EQ(S_OK, object.createInstance(CLSID_TestDtm, nullptr, CLSCTX_INPROC_SERVER));
  ASSERT_EQ(S_OK, object.as(dtm));
  ASSERT_EQ(S_OK, object.as(base));
}

void DtmFixture::TearDown() {
  dtm.reset();
  base.reset();
  object.reset();
  frameObject.reset();
  // Like a frame's message loop: a DTM released here lets its worker end,
  // and the worker's last calls into this apartment are served before the
  // apartment goes.
  PumpUntil([] { return !ServerHasObjects(); }, 10000);
  ::CoUninitialize();
}

bool ServerHasObjects() {
  const HMODULE server = ::GetModuleHandleW(kTestDtmFileName);
  if (!server) return false;
  auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(::GetProcAddress(server, "DllCanUnloadNow")));
  return !canUnload || canUnload() != S_OK;
}

bool ServerUnloads() {
  return PumpUntil([] {
    ::CoFreeUnusedLibraries();
    return ::GetModuleHandleW(kTestDtmFileName) == nullptr;
  }, 30000);
}

LONG DtmFixture::State() {
  long state = -1;
  EXPECT_EQ(S_OK, base->GetDtmState(&state));
  return state;
}

com::Variant DtmFixture::Field(ULONG parameterId, ULONG selector) {
  com::ComPtr<IevFdtParameterInfo> info;
  EXPECT_EQ(S_OK, object.as(info));
  com::Variant id, field, value;
  V_VT(id.get()) = VT_UI4;
  V_UI4(id.get()) = parameterId;
  V_VT(field.get()) = VT_UI4;
  V_UI4(field.get()) = selector;
  EXPECT_EQ(S_OK, info->GetParameterInfo(*id.get(), *field.get(), value.get()));
  return value;
}

void DtmFixture::AttachNew(bool fdt121) {
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  ASSERT_EQ(S_OK, persist->InitNew());
  VARIANT_BOOL ok = VARIANT_FALSE;
  if (fdt121) {
    com::Bstr version(FrameVersion(1, 2, 1).c_str());
    com::ComPtr<IDtm2> dtm2;
    ASSERT_EQ(S_OK, object.as(dtm2));
    ASSERT_EQ(S_OK, dtm2->SetEnvironment2(tag.get(), frameObject.get(), version.get(), &ok));
  } else {
    ASSERT_EQ(S_OK, dtm->SetEnvironment(tag.get(), frameObject.get(), &ok));
  }
  ASSERT_EQ(VARIANT_TRUE, ok);
  ASSERT_EQ(kDtmEnvironmentSet, State());
}

void DtmFixture::Configure(const wchar_t* level, bool fdt121) {
  AttachNew(fdt121);
  VARIANT_BOOL ok = VARIANT_FALSE;
  com::Bstr deviceType(kTestDeviceTypeDocument);
  ASSERT_EQ(S_OK, dtm->InitNewDeviceType(deviceType.get(), &ok));
  ASSERT_EQ(kDtmInitialised, State());
  com::Bstr user(UserInformation(level).c_str());
  ASSERT_EQ(S_OK, dtm->Config(user.get(), &ok));
  ASSERT_EQ(VARIANT_TRUE, ok);
  ASSERT_EQ(kDtmConfigured, State());
}

}  // namespace dtmtest
