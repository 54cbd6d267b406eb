#include "dtm/function_table.h"

#include "dtm/dtm_ids.h"
#include "hartcommdtm.h"
#include "scanrangectl.h"

namespace {

constexpr ULONG kShown = FunctionTableRow::kEnabled;
constexpr ULONG kHidden = FunctionTableRow::kEnabled | FunctionTableRow::kHidden;

// A control function: kind 2, application id 0, label and name the same,
// no fourth text; user level 1 and every operation phase (-1); no document
// file, program or MIME type and no action.
constexpr FunctionTableRow Control(ULONG functionId, const char* label, const char* help,
                                   ULONG status, const GUID* classId, const char* progId,
                                   BOOL printable, BOOL resizable) {
  return {FunctionTableRow::kControlFunction, 0, functionId, label, label, help, "", status,
          1, -1, 0, {0, 0, 0}, classId, progId, printable, resizable, "", "", "", nullptr};
}

}  // namespace

const FunctionTableRow* InitActiveXTable() {
  using namespace hart_function;
  // Built on first use, so that the class ids above are initialised.
  static const FunctionTableRow table[] = {
      Control(kChannelConfiguration, "Channel Configuration", "Configure channel settings.",
              kShown, &CLSID_ChannelConfigCtrl, "vtFDT.FSKMavixCommDTM_ChannelConfig", TRUE,
              FALSE),
      Control(kDeviceList, "Device List", "Display list of devices on HART bus", kShown,
              &CLSID_DeviceListCtrl, "vtFDT.FSKMavixCommDTM_DeviceListCtrl", FALSE, TRUE),
      Control(kDriverConfiguration, "Driver Configuration",
              "Configure what HART interface to use.", kShown, &CLSID_DriverConfigCtrl,
              "vtFDT.FSKMavixCommDTM_DriverConfigCtrl", TRUE, FALSE),
      Control(kNewDeviceDtmAddress, "Set DeviceDTM Address",
              "Set tag and address of newly added deviceDTM", kHidden, &CLSID_SetDevDtmAddrCtrl,
              "vtFDT.FSKMavixCommDTM_SetDevDtmAddrCtrl", FALSE, FALSE),
      Control(kSlaveAddress, "Change Slave Address", "Change address of HART slave device",
              kHidden, &CLSID_SetSlaveAddrCtrl, "vtFDT.FSKMavixCommDTM_SetSlaveAddrCtrl",
              FALSE, FALSE),
      Control(kScanRange, "Set Scan Range", "Set Scan Range", kHidden, &CLSID_evHrtFdtScanRangeActiveX,
              "evFDT.evHrtFdtScanRangeActiveX", FALSE, FALSE),
      Control(kAddressForDtm, "Get Address for DTM", "Get Address for DTM", kHidden,
              &CLSID_GetNewAddressForDtmCtrl, "vtFDT.FSKMavixCommDTM_GetAddrForDtm", FALSE, FALSE),
      Control(kDeviceAndDtmAddress, "Set DTM and Device Address",
              "Set tag and address of DTM and address of device", kHidden,
              &CLSID_SetDevAndDtmAddrCtrl, "vtFDT.FSKMavixCommDTM_SetDevAndDtmAddr", FALSE, FALSE),
      // End of the table.
      {FunctionTableRow::kEnd, 0, 0, nullptr, nullptr, nullptr, nullptr, 1, 0, 0, 0, {0, 0, 0},
       nullptr, nullptr, FALSE, FALSE, nullptr, nullptr, nullptr, nullptr},
  };
  return table;
}
