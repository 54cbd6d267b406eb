// The test DTM server: class table (the test DTM, the worker thread's
// class, the settings control and the test channel), DllMain and the four server exports.
//
// TYPELIB 1 is the toolkit's interface library (registered with the
// server, so that the worker thread and the DTM reach each other through
// the typelib marshaller); TYPELIB 2 is the stand-in FDT library, registered
// too, so that the worker reaches the frame double's interfaces. The
// deliverable DTM never registers the FDT library; a test prefix may.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <iterator>
#include <string>

#include "com/ComPtr.h"
#include "com/Module.h"
#include "com/Object.h"
#include "com/Registration.h"
#include "test_channel.h"
#include "test_dtm.h"
#include "test_dtm_documents.h"
#include "test_dtm_ids.h"
#include "toolkit/worker/dtm_thread.h"

namespace {

// LIBIDs of the embedded libraries (EVFDTTEMPLATE4Lib and FdtLib).
const GUID kToolkitLibId = {
    0x6d4a67c3, 0x67a9, 0x4705, {0x95, 0x41, 0x59, 0x4c, 0x06, 0x96, 0x51, 0x91}};

std::wstring FdtLibraryPath() { return com::module().path() + L"\\2"; }

// Registers or removes the FDT library carried as TYPELIB 2.
HRESULT UpdateFdtLibrary(bool registering) {
  const std::wstring path = FdtLibraryPath();
  com::ComPtr<ITypeLib> lib;
  HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
  if (FAILED(hr)) return hr;
  if (registering) return ::RegisterTypeLib(lib.get(), const_cast<wchar_t*>(path.c_str()), nullptr);
  TLIBATTR* attr = nullptr;
  hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  const TLIBATTR copy = *attr;
  lib->ReleaseTLibAttr(attr);
  ::UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
  return S_OK;
}

const com::ClassRegistration kDtmRegistration = {
    &CLSID_TestDtm, L"Toolkit test DTM", kTestDtmProgId, L"ToolkitTest.TestDtm", L"Apartment",
    &kToolkitLibId, L"1.0", false, nullptr, nullptr, &UpdateFdtLibrary};

const com::ClassRegistration kThreadRegistration = {
    &CLSID_CustomDtmThread, L"Toolkit test DTM Thread", L"ToolkitTest.TestDtm_Thread.1",
    L"ToolkitTest.TestDtm_Thread", L"Apartment", &kToolkitLibId, L"1.0", false, nullptr,
    nullptr, nullptr};

const com::ClassRegistration kSettingsRegistration = {
    &CLSID_TestSettingsControl, L"Toolkit test settings control", kTestSettingsProgId,
    L"ToolkitTest.Settings", L"Apartment", &kToolkitLibId, L"1.0", false, nullptr, nullptr,
    nullptr};

const com::ClassRegistration kChannelRegistration = {
    &CLSID_TestChannel, L"Toolkit test channel", kTestChannelProgId, L"ToolkitTest.Channel",
    L"Apartment", &kToolkitLibId, L"1.0", false, nullptr, nullptr, nullptr};

const com::ClassEntry kClasses[] = {
    {&CLSID_TestDtm, &com::createObject<CTestDtm>, &kDtmRegistration},  // aggregatable, as a DTM is
    {&CLSID_CustomDtmThread, &com::createObjectNoAggregation<CCustomDtmThread>,
     &kThreadRegistration},
    {&CLSID_TestSettingsControl, &com::createObjectNoAggregation<CTestSettingsControl>,
     &kSettingsRegistration},
    {&CLSID_TestChannel, &com::createObjectNoAggregation<CTestChannel>, &kChannelRegistration},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return com::module().dllMain(instance, reason, reserved, kClasses, std::size(kClasses), true);
}

