// scanrangectl.dll: the scan-range control's class table, DllMain and
// registration. The four server exports come from the COM layer.
//
// TYPELIB 1 is SCANRANGECTLLib, registered with the server.
#include <windows.h>
#include <objbase.h>

#include <iterator>

#include "com/Module.h"
#include "com/Object.h"
#include "com/Registration.h"
#include "scan_range_ctrl.h"
#include "scanrangectl.h"

namespace {

// A control, programmable and insertable, without a toolbox bitmap;
// "MiscStatus" 0 and for the content aspect 131473.
const com::ControlRegistration kControl = {0, L"0", L"131473", true};

const com::ClassRegistration kScanRangeRegistration = {
    &CLSID_evHrtFdtScanRangeActiveX, L"ev HRT FDT Scan Range ActiveX", L"evFDT.evHrtFdtScanRangeActiveX.1",
    L"evFDT.evHrtFdtScanRangeActiveX", L"Apartment", &LIBID_SCANRANGECTLLib, L"4.0", true, &kControl,
    nullptr, nullptr};

const com::ClassEntry kClasses[] = {
    {&CLSID_evHrtFdtScanRangeActiveX, &com::createObject<CevHrtFdtScanRangeActiveX>, &kScanRangeRegistration},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return com::module().dllMain(instance, reason, reserved, kClasses, std::size(kClasses), true);
}
