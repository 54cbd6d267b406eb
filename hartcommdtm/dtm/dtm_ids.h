// Identifiers of the DTM object that its tables, its tests and its controls
// share: parameter ids, function ids, registry names, ProgIDs.
#pragma once

#include <windows.h>

namespace hart_dtm {

// ProgIDs and description of the DTM class.
inline constexpr wchar_t kProgId[] = L"vtFDT.FSKMavixCommDTM.1";
inline constexpr wchar_t kVersionIndependentProgId[] = L"vtFDT.FSKMavixCommDTM";
inline constexpr wchar_t kDescription[] = L"FSK Mavix CommDTM";
inline constexpr wchar_t kModuleFileName[] = L"hartcommdtm.dll";

// The DTM's settings (HKEY_LOCAL_MACHINE).
inline constexpr wchar_t kSettingsKey[] = L"Software\\VELTRA\\FSK Mavix FDT";
inline constexpr wchar_t kIconPathValue[] = L"IconPath";
inline constexpr wchar_t kNewDeviceAddressValue[] = L"SetNewDevDtmAddress";
inline constexpr wchar_t kDeviceTypesValue[] = L"DevTypes";

// The FDT catalogue notice (HKEY_LOCAL_MACHINE).
inline constexpr wchar_t kCatalogUpdatesKey[] = L"SOFTWARE\\FDT\\DTMCatalogUpdates";
inline constexpr wchar_t kModificationFlagValue[] = L"ModificationFlag";
inline constexpr wchar_t kModificationCommentValue[] = L"ModificationComment";

// The device type the DTM serves.
inline constexpr wchar_t kDeviceTypeName[] = L"FSK Mavix";

}  // namespace hart_dtm

// Parameter ids of the DTM's table.
namespace hart_param {
constexpr ULONG kDtmTag = 1;
constexpr ULONG kSystemLabel = 2;
constexpr ULONG kScanRangeStart = 980;
constexpr ULONG kScanRangeEnd = 981;
constexpr ULONG kDevice = 990;
constexpr ULONG kDeviceType = 991;
constexpr ULONG kDeviceNumber = 1000;
constexpr ULONG kPrimaryMaster = 1001;
constexpr ULONG kPreambleCount = 1002;
constexpr ULONG kRetryCount = 1003;
constexpr ULONG kLastScanTime = 1004;
constexpr ULONG kScanActive = 1005;
constexpr ULONG kSelectedPollAddress = 1006;
constexpr ULONG kNewDeviceSystemTag = 1007;
constexpr ULONG kChangeCounter = 1010;
constexpr ULONG kAddressCancelled = 1011;
constexpr ULONG kNewAddress = 1012;
constexpr ULONG kNewAddressTag = 1013;
constexpr ULONG kNewDeviceDialogMode = 1014;
constexpr ULONG kMaxScanAddress = 1015;
}  // namespace hart_param

// How DeviceDtmAdded opens the new-device address control (parameter 1014).
namespace new_device_dialog {
constexpr BYTE kNever = 0;
constexpr BYTE kOpenAndWait = 1;
constexpr BYTE kOpenWithoutWaiting = 2;
}  // namespace new_device_dialog

// Function ids of the DTM's function table.
namespace hart_function {
constexpr ULONG kDeviceList = 2;
constexpr ULONG kChannelConfiguration = 3;
constexpr ULONG kDriverConfiguration = 6;
constexpr ULONG kScanRange = 8;
constexpr ULONG kAddressForDtm = 9;
constexpr ULONG kDeviceAndDtmAddress = 10;
constexpr ULONG kNewDeviceDtmAddress = 11;
constexpr ULONG kSlaveAddress = 12;
}  // namespace hart_function

// What the DTM tells its open controls through IevFdtActiveX4::OnDtmMessage
// besides the parameter handler's messages, whose ids are parameter ids.
namespace hart_control_message {
// Value: a child DTM's system tag (VT_BSTR). DeviceDtmAdded no longer waits
// for the new-device address control of that child: the control asks to be
// closed, and its going no longer ends any wait.
constexpr ULONG kNewDeviceWaitEnded = 0x1000B;  // above every parameter id
}  // namespace hart_control_message
