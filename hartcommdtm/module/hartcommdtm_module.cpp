// hartcommdtm.dll: class table, DllMain and the registration of each class.
// The four server exports come from the COM layer (com_server_exports).
//
// TYPELIB 1 is evHART_COMMDTMLib, registered with the server so that the
// typelib marshaller carries the DTM's and the toolkit's interfaces between
// the DTM, its worker thread and the channel's worker. TYPELIB 2 is FdtLib,
// the FDT interfaces' descriptions, never registered here: IDispatch of the
// DTM, the channel and the channel collection reads it (com/Dispatch.h);
// the FDT interfaces cross threads through the FDT type library that the
// frame application's installation registers. The module holds both
// registered libraries while its objects may be marshalled (com/Module.h).
//
// One row per COM class of the module: the DTM object, the DTM's worker
// thread, the HART channel and the DTM's controls.
#include <windows.h>
#include <objbase.h>
#include <rpc.h>

#include <iterator>

#include "com/Module.h"
#include "com/Object.h"
#include "com/Registration.h"
#include "channel/hart_channel.h"
#include "controls/channel_config_ctrl.h"
#include "controls/control_resources.h"
#include "controls/device_list_ctrl.h"
#include "controls/driver_config_ctrl.h"
// The address controls.
#include "controls/dev_and_dtm_address_ctrl.h"
#include "controls/get_address_for_dtm_ctrl.h"
#include "controls/new_device_dtm_address_ctrl.h"
#include "controls/slave_address_ctrl.h"
#include "dtm/catalogue_notice.h"
#include "dtm/dtm_ids.h"
#include "dtm/hart_comm_dtm.h"
#include "hartcommdtm.h"
#include "toolkit/worker/dtm_thread.h"

namespace {

// Component categories a frame application finds DTMs by: the FDT DTM
// categories and the HART protocol.
const GUID kCategoryFdtDtm = {
    0x036d1490, 0x387b, 0x11d4, {0x86, 0xe1, 0x00, 0xe0, 0x98, 0x72, 0x70, 0xb9}};
const GUID kCategoryFdtDtmTopology = {
    0x036d1494, 0x387b, 0x11d4, {0x86, 0xe1, 0x00, 0xe0, 0x98, 0x72, 0x70, 0xb9}};
const GUID kCategoryHart = {
    0x036d1498, 0x387b, 0x11d4, {0x86, 0xe1, 0x00, 0xe0, 0x98, 0x72, 0x70, 0xb9}};
const GUID* const kDtmCategories[] = {&kCategoryFdtDtm, &kCategoryFdtDtmTopology, &kCategoryHart,
                                      nullptr};

// Written at registration and removal alike, so that the frame rebuilds
// its DTM catalogue; a failure only skips the notice.
HRESULT UpdateDtmRegistration(bool) {
  WriteCatalogueNotice();
  return S_OK;
}

const com::ClassRegistration kDtmRegistration = {
    &CLSID_HART_CommDTM, hart_dtm::kDescription, hart_dtm::kProgId,
    hart_dtm::kVersionIndependentProgId, L"Apartment", &LIBID_evHART_COMMDTMLib, L"1.0",
    true, nullptr, kDtmCategories, &UpdateDtmRegistration};

const com::ClassRegistration kThreadRegistration = {
    &CLSID_CustomDtmThread, L"FSK Mavix CommDTM Thread", L"vtFDT.FSKMavixCommDTM_Thread.1",
    L"vtFDT.FSKMavixCommDTM_Thread", L"Apartment", &LIBID_evHART_COMMDTMLib, L"1.0", false,
    nullptr, nullptr, nullptr};

const com::ClassRegistration kChannelRegistration = {
    &CLSID_HART_Channel, L"HART_Channel Class", L"vtFDT.FSKMavixCommDTM_HART_Channel.1",
    L"vtFDT.FSKMavixCommDTM_HART_Channel", L"Apartment", &LIBID_evHART_COMMDTMLib, L"1.0", false,
    nullptr, nullptr, nullptr};

// Every control: programmable, insertable, a control with the toolbox
// bitmap, "MiscStatus" 0 and for the content aspect 131473
// (OLEMISC_SETCLIENTSITEFIRST | ACTIVATEWHENVISIBLE | INSIDEOUT |
// CANTLINKINSIDE | RECOMPOSEONRESIZE).
const com::ControlRegistration kControl = {IDB_CONTROL_TOOLBOX, L"0", L"131473", true};

const com::ClassRegistration kChannelConfigRegistration = {
    &CLSID_ChannelConfigCtrl, L"Channel Configuration", L"vtFDT.FSKMavixCommDTM_ChannelConfig.1",
    L"vtFDT.FSKMavixCommDTM_ChannelConfig", L"Apartment", &LIBID_evHART_COMMDTMLib, L"1.0", true,
    &kControl, nullptr, nullptr};

const com::ClassRegistration kDriverConfigRegistration = {
    &CLSID_DriverConfigCtrl, L"Driver Configuration", L"vtFDT.FSKMavixCommDTM_DriverConfigCtrl.1",
    L"vtFDT.FSKMavixCommDTM_DriverConfigCtrl", L"Apartment", &LIBID_evHART_COMMDTMLib, L"1.0", true,
    &kControl, nullptr, nullptr};

// The address controls: new address for a DTM (function 9), device and DTM
// address (10), address of a new device DTM (11).
const com::ClassRegistration kGetAddressForDtmRegistration = {
    &CLSID_GetNewAddressForDtmCtrl, L"GetNewAddressForDtmCtrl Class", L"vtFDT.FSKMavixCommDTM_GetAddrForDtm.1",
    L"vtFDT.FSKMavixCommDTM_GetAddrForDtm", L"Apartment", &LIBID_evHART_COMMDTMLib, L"1.0", true, &kControl,
    nullptr, nullptr};

const com::ClassRegistration kDeviceAndDtmAddressRegistration = {
    &CLSID_SetDevAndDtmAddrCtrl, L"SetDevAndDtmAddrCtrl Class", L"vtFDT.FSKMavixCommDTM_SetDevAndDtmAddr.1",
    L"vtFDT.FSKMavixCommDTM_SetDevAndDtmAddr", L"Apartment", &LIBID_evHART_COMMDTMLib, L"1.0", true, &kControl,
    nullptr, nullptr};

const com::ClassRegistration kNewDeviceDtmAddressRegistration = {
    &CLSID_SetDevDtmAddrCtrl, L"SetDevDtmAddrCtrl Class", L"vtFDT.FSKMavixCommDTM_SetDevDtmAddrCtrl.1",
    L"vtFDT.FSKMavixCommDTM_SetDevDtmAddrCtrl", L"Apartment", &LIBID_evHART_COMMDTMLib, L"1.0", true, &kControl,
    nullptr, nullptr};

// The device list has one ProgID, the one the function table names.
const com::ClassRegistration kDeviceListRegistration = {
    &CLSID_DeviceListCtrl, L"DeviceListCtrl Class", L"vtFDT.FSKMavixCommDTM_DeviceListCtrl", nullptr,
    L"Apartment", &LIBID_evHART_COMMDTMLib, L"1.0", true, &kControl, nullptr, nullptr};

const com::ClassRegistration kSlaveAddressRegistration = {
    &CLSID_SetSlaveAddrCtrl, L"SetSlaveAddrCtrl Class", L"vtFDT.FSKMavixCommDTM_SetSlaveAddrCtrl.1",
    L"vtFDT.FSKMavixCommDTM_SetSlaveAddrCtrl", L"Apartment", &LIBID_evHART_COMMDTMLib, L"1.0", true,
    &kControl, nullptr, nullptr};

const com::ClassEntry kClasses[] = {
    {&CLSID_HART_CommDTM, &com::createObject<CHART_CommDTM>, &kDtmRegistration},
    {&CLSID_CustomDtmThread, &com::createObjectNoAggregation<CCustomDtmThread>,
     &kThreadRegistration},
    {&CLSID_HART_Channel, &com::createObjectNoAggregation<hartdtm::CHART_Channel>,
     &kChannelRegistration},
    // The address controls.
    {&CLSID_GetNewAddressForDtmCtrl, &com::createObject<CGetNewAddressForDtmCtrl>, &kGetAddressForDtmRegistration},
    {&CLSID_SetDevAndDtmAddrCtrl, &com::createObject<CSetDevAndDtmAddrCtrl>, &kDeviceAndDtmAddressRegistration},
    {&CLSID_SetDevDtmAddrCtrl, &com::createObject<CSetDevDtmAddrCtrl>, &kNewDeviceDtmAddressRegistration},
    {&CLSID_ChannelConfigCtrl, &com::createObject<CChannelConfigCtrl>, &kChannelConfigRegistration},
    {&CLSID_DriverConfigCtrl, &com::createObject<CDriverConfigCtrl>, &kDriverConfigRegistration},
    {&CLSID_DeviceListCtrl, &com::createObject<CDeviceListCtrl>, &kDeviceListRegistration},
    {&CLSID_SetSlaveAddrCtrl, &com::createObject<CSetSlaveAddrCtrl>, &kSlaveAddressRegistration},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return com::module().dllMain(instance, reason, reserved, kClasses, std::size(kClasses), true);
}
