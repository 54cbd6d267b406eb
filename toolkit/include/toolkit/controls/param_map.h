// A control's parameter map: which DTM parameter each dialog item shows, in
// which format, and the state of each row while the control runs.
//
// A control class declares its map once as a static table of
// ParameterMapRow, ended by a row with id -1 (kEndOfMap):
//
//   const ParameterMapRow kMap[] = {
//       {1002, "Preamble Count", 6008, "%u", kRowFlagsPlain, 0},
//       HeaderRow(990, 5027), HeaderRow(991, 5027),
//       kEndOfMap};
//
// Each control instance copies it into its rows (CActXParInfo), which carry
// the state bits, the value kind and list read from the DTM and the item's
// window. Rows are found by id or by item, the first match counting.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/Variant.h"

// State bits of a row.
enum ControlRowFlag : ULONG {
  kRowWritable = 0x1,
  kRowChanged = 0x2,
  kRowInvalid = 0x4,
  kRowNotRead = 0x8,        // the last read failed: the item is hidden, never written
  kRowLockedWritable = 0x80,  // writable while editing is switched off (bit 1 moved here)
  kRowQuestion = 0x400,     // shown with "?" in online mode
};
// Initial flags the maps give: 113 (writable with the DTM's access bits
// 0x10, 0x20, 0x40, which the base carries and never tests) or 1.
constexpr ULONG kRowFlagsDefault = 0x71;
constexpr ULONG kRowFlagsPlain = 0x1;

// Display flags of a row: how its item is coloured and where its value
// comes from.
enum ControlDisplayFlag : ULONG {
  kDisplayButtonFace = 0x1,     // writable rows get the button-face background
  kDisplayButtonText = 0x2,     // automatic text colour is the button text
  kDisplayChildColours = 0x4,   // colour messages of the item's children count
  kDisplayProgressBar = 0x8,    // the item is a progress bar
  kDisplayDtmData = 0x100,      // in mode bit 1 the value is the DTM's data
  kDisplayDeviceData = 0x200,   // in mode bit 1 the value comes from the device
  kDisplayDefaultColours = 0x80000000,  // the base leaves the colours alone
};

// How a parameter's value is chosen (information selector 0x20000).
enum ControlValueKind : USHORT {
  kValueFree = 0,
  kValueEnumeration = 1,
  kValueBitEnumeration = 2,
};

// Kinds of dialog items, by window class name.
enum DialogItemKind : int {
  kItemUnknown = 0,
  kItemStatic = 1,
  kItemEdit = 2,
  kItemRichEdit = 3,
  kItemComboBox = 4,
  kItemListBox = 5,
  kItemButton = 6,
  kItemScrollBar = 7,
  kItemListView = 8,
  kItemTreeView = 9,
  kItemAnimate = 10,
  kItemHeader = 11,
  kItemTab = 12,
  kItemMonthCalendar = 13,
  kItemDateTimePicker = 14,
  kItemIpAddress = 15,
  kItemComboBoxEx = 16,
  kItemUpDown = 17,
  kItemProgress = 18,
  kItemHotKey = 19,
  kItemTrackBar = 20,
};
// The kind of a window class name ("Edit" is 2); 0 for any other.
int DialogItemKindOfClass(const wchar_t* className);

// One row of a static map.
struct ParameterMapRow {
  LONG id;             // DTM parameter id; -1 ends the map
  const char* name;    // display name; null only in the end row
  UINT item;           // dialog item that shows the value (0: none)
  const char* format;  // printf format of the value's text; "" shows it by its value list
  ULONG flags;         // initial state bits
  ULONG displayFlags;
  ULONG updateInfo;    // non-zero: reported as an SParamUpdateInfo record
};
constexpr ParameterMapRow kEndOfMap = {-1, nullptr, 0, nullptr, 0, 0, 0};
// The device header's rows (990 "Device", 991 "DeviceType"), which end every
// map: shown by the header control in item.
constexpr ParameterMapRow HeaderRow(LONG id, UINT item) {
  return {id, id == 990 ? "Device" : "DeviceType", item, "%s", kRowFlagsDefault,
          kDisplayDefaultColours, 0};
}

// One row as a control instance keeps it.
class CActXParInfo {
 public:
  CActXParInfo() = default;
  explicit CActXParInfo(const ParameterMapRow& row);
  virtual ~CActXParInfo() = default;
  CActXParInfo(const CActXParInfo&) = default;
  CActXParInfo& operator=(const CActXParInfo&) = default;

  LONG id = -1;
  const char* name = nullptr;
  UINT item = 0;
  const char* format = nullptr;
  ULONG flags = kRowFlagsDefault;
  ULONG marker = 0;  // non-zero: a state marker beside the item
  HWND itemWindow = nullptr;
  HWND markerWindow = nullptr;
  ULONG displayFlags = kDisplayDefaultColours;
  USHORT valueKind = kValueFree;
  com::Variant valueList;  // VT_ARRAY|VT_BSTR of "number text" entries
  ULONG flagMask = 0xFFFFFFFF;
  ULONG updateInfo = 0;
  UINT unitItem = 0;

  bool HasFormat() const { return format && *format; }
};

// Item ids and the names under which the translation document lists them,
// ended by an entry with id 0.
struct ItemName {
  UINT id;
  const char* name;
};
