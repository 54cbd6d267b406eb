// Resource and item ids of the DTM's controls, shared by the dialogs
// (resources/controls.rc) and the control classes.
#pragma once

// Dialogs.
#define IDD_CHANNEL_CONFIG 110
#define IDD_DRIVER_CONFIG 116

// Images.
#define IDB_CONTROL_TOOLBOX 103
#define IDI_ENTRY_INVALID 189
#define IDI_ENTRY_CHANGED 190
#define IDI_STATUS_WARNING 211

// Items every control dialog has.
#define IDC_DEVICE_HEADER 5027
#define IDC_FOOTER_BAR 5028
#define IDC_STATUS_ICON 6029
#define IDC_STATUS_TEXT 6030
#define IDC_APPLY 6010
#define IDC_CANCEL 6028
#define IDC_HELP_BUTTON 6063

// Channel configuration.
#define IDC_PRIMARY_MASTER 6007
#define IDC_PREAMBLES 6008
#define IDC_RETRIES 6009
#define IDC_MAX_SCAN_ADDRESS 6011
#define IDC_PROPERTIES_FRAME 6043
#define IDC_PREAMBLES_LABEL 6044
#define IDC_RETRIES_LABEL 6045
#define IDC_MAX_SCAN_LABEL 6046
#define IDC_PREAMBLES_INVALID 191
#define IDC_PREAMBLES_CHANGED 192
#define IDC_RETRIES_INVALID 193
#define IDC_RETRIES_CHANGED 194
#define IDC_PRIMARY_MASTER_CHANGED 195
#define IDC_MAX_SCAN_INVALID 196
#define IDC_MAX_SCAN_CHANGED 197

// Driver configuration.
#define IDC_ADAPTER_LIST 6011
#define IDC_REFRESH_LIST 6024
#define IDC_INIT_DEVICE 6026
#define IDC_DRIVER_FRAME 6057
#define IDC_ADAPTER_LIST_LABEL 6058

// The address controls: new address for a DTM, device and DTM address,
// address of a new device DTM.
#define IDD_GET_ADDRESS_FOR_DTM 163
#define IDD_NEW_DEVICE_DTM_ADDRESS 169
#define IDD_DEVICE_AND_DTM_ADDRESS 171
#define IDI_STATUS_ERROR 188
#define IDI_STATUS_INFORMATION 212
#define IDC_ADDRESS 6017
#define IDC_DTM_TAG 6021
#define IDC_DTM_ID 6025
#define IDC_DTM_ID_LABEL 6060
#define IDC_DTM_TAG_LABEL 6077
#define IDC_ADDRESS_LABEL 6078
#define IDC_DTM_INFORMATION_FRAME 6080
#define IDC_SYNC_ADDRESSES 173
#define IDC_SLAVE_ADDRESS 174
#define IDC_CHILD_TAG 175
#define IDC_CHILD_ADDRESS 176
#define IDC_SLAVE_ADDRESS_LABEL 177
#define IDC_CHILD_ADDRESS_LABEL 178
#define IDC_ERROR_ICON 180
#define IDC_SLAVE_ADDRESS_INVALID 183
#define IDC_CHILD_ADDRESS_INVALID 184
#define IDC_SLAVE_ADDRESS_CHANGED 185
#define IDC_CHILD_ADDRESS_CHANGED 186
#define IDC_CHILD_TAG_CHANGED 187
#define IDS_ErrorDevAddrOutOfRange 179
#define IDS_ErrorDtmAddrOutOfRange 181
#define IDS_SetDevAndDtmAddressInstructions 182
#define IDS_ErrorSetParametersFailed 5029

// Device list.
#define IDD_DEVICE_LIST 107
#define IDB_DEVICE_STATES 104
#define IDC_DEVICE_LIST 6011
#define IDC_UPDATE_LIST 6012
#define IDC_STOP_SCAN 6015
#define IDC_SET_ADDRESS 5026
#define IDC_SIZE_GRIP 6099

// Slave address change.
#define IDD_SLAVE_ADDRESS 161
#define IDC_SLAVE_ADDRESS_FRAME 165
#define IDC_CURRENT_ADDRESS_LABEL 166
#define IDC_NEW_ADDRESS_LABEL 167
#define IDC_ADDRESS_STATUS_LABEL 168
#define IDC_CURRENT_ADDRESS 6016
#define IDC_NEW_ADDRESS 6017

// Strings.
#define IDS_ColName_HartDevID 120
#define IDS_ColName_HartDevAddr 121
#define IDS_ColName_HartDevType 122
#define IDS_ColName_HartDevInUse 123
#define IDS_HartDevEntry_InUse 124
#define IDS_HartDevEntry_NotInUse 125
#define IDS_HartDevType_Unknown 126
#define IDS_HartDevType_PCMCIA 127
#define IDS_HartDevType_PCI 128
#define IDS_HartDevType_USB 129
#define IDS_NoChangeChannSettingsInOnlineMode 5015
#define IDS_SettingsAvailableOfflineOnly 5025

// Device list strings.
#define IDS_ColName_SoftwareRevision 104
#define IDS_ColName_HardwareRevision 105
#define IDS_ColName_DeviceID 106
#define IDS_ColName_DeviceType 107
#define IDS_ColName_Manufacturer 108
#define IDS_ColName_PollAddress 102
#define IDS_ColName_InUse 110
#define IDS_Entry_InUse 111
#define IDS_Entry_NotInUse 112
#define IDS_ColName_State 151
#define IDS_ColName_Channel 152
#define IDS_ColName_HartTag 153
#define IDS_ColName_DtmTag 154

// Address change outcomes (the address controls share them).
#define IDS_Err_ChAdd_FAILED 113
#define IDS_Err_ChAdd_DevHasConnection 114
#define IDS_Err_ChAdd_NoDevAtNewAdd 115
#define IDS_Err_ChAdd_NoSource 116
#define IDS_Err_ChAdd_TargetExists 117
#define IDS_ChangeAddressSuccessful 118
#define IDS_Err_NoChannel 119
#define IDS_ChangeAddressScanAgain 5031
