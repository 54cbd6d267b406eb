// Resource ids of adaptercfg: dialogs, their controls, icons and strings.
// The dialog and control ids are the program's interface to its users'
// scripts and tests; keep them.
#pragma once

// Dialogs.
#define IDD_CONFIG 102
#define IDD_ABOUT 100
#define IDD_ATTACHED_DEVICES 136
#define IDD_UPGRADE 138

// Icons.
#define IDI_MAIN 128
#define IDI_ROOT 129
#define IDI_ADAPTER 130

// Strings.
#define IDS_TITLE 101
#define IDS_ROOT_HELP 107
#define IDS_IN_USE 109
#define IDS_UPGRADE_QUESTION 110
#define IDS_UPGRADE_DONE 111
#define IDS_NO_DEVICES_FOUND 112

// ConfigDlg.
#define IDC_ADD 3
#define IDC_REMOVE 4
#define IDC_INFO 16
#define IDC_TREE 1000
#define IDC_SERIAL 1018
#define IDC_TYPE_LABEL 1019
#define IDC_SERIAL_LABEL 1024
#define IDC_ROOT_HELP 1025
#define IDC_SEARCH 1030
#define IDC_PORT_CHECK 1035
#define IDC_PORT_LABEL 1036
#define IDC_PORT_LIST 1037

// System-menu command of the About box (the menu's ids 16 to 31 open it).
#define IDM_ABOUT 16

// AboutDlg.
#define IDC_VERSION_TEXT 1042

// AttachedDevicesDlg.
#define IDC_FOUND_LIST 1031

// UpgradeDlg.
#define IDC_WRITE_PROGRESS 1038
#define IDC_VERIFY_PROGRESS 1039
#define IDC_UPGRADE_NOTICE 1040
