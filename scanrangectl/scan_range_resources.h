// Resource and item ids of the scan-range control (scanrangectl.rc).
#pragma once

#define IDS_PROJNAME 100
#define IDD_SCAN_RANGE 103

#define IDC_DEVICE_HEADER 202
#define IDC_FOOTER_BAR 203
#define IDC_RANGE_FRAME 204
#define IDC_START_LABEL 205
#define IDC_END_LABEL 206
#define IDC_COMBO_START 207
#define IDC_COMBO_END 208
#define IDC_CANCEL_BUTTON 1060
