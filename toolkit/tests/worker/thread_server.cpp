// A COM server that offers only the DTM worker-thread class, registered the
// way a DTM server registers it, so that the thread manager creates its
// object with CoCreateInstance as it does in a DTM.
#include <windows.h>

#include <iterator>

#include "com/Module.h"
#include "com/Object.h"
#include "hartcommdtm.h"
#include "toolkit/worker/dtm_thread.h"

namespace {

const com::ClassRegistration kThreadRegistration = {
    &CLSID_CustomDtmThread, L"Worker Test DTM Thread", L"WorkerTest.Dtm_Thread.1",
    L"WorkerTest.Dtm_Thread", L"Apartment", &LIBID_evHART_COMMDTMLib, nullptr, false,
    nullptr, nullptr, nullptr};

const com::ClassEntry kClasses[] = {
    {&CLSID_CustomDtmThread, &com::createObjectNoAggregation<CCustomDtmThread>,
     &kThreadRegistration}};

}  // namespace

BOOL WINAPI DllMain(HINSTANCE dll, DWORD reason, void* reserved) {
  return com::module().dllMain(dll, reason, reserved, kClasses, std::size(kClasses), true);
}

