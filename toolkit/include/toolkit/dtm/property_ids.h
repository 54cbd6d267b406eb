// The property ids the DTM sends its controls and channels: the keys of
// IevFdtActiveX4::SetProperty (the function container sends a set of them
// to every control it opens, the base DTM broadcasts changes) and of the
// channels' property notices. This is the one table of them; every sender
// and every receiver names an id from here, and each id has one meaning.
//
// 9995 and 9998 mean what the DTM sends under them: the translation folder
// and the shared-UI flag. They are not a help topic and a help switch of the
// controls. The DTM is the only sender of these ids and has values for its
// own meanings only: nothing in the system knows a help topic or whether a
// control has help, and the shared-UI flag changes with an IDtm call that
// has nothing to do with help, so reading it as a help switch greyed Help
// out in every control. A control offers Help when the DTM's translation
// document names a help file for it, and looks for a file named by a
// relative path in the translation folder, beside the translation document,
// as the DTM finds its About page there.
#pragma once

#include <windows.h>

namespace property_id {
constexpr ULONG kLanguage = 9984;         // language id (VT_I4)
constexpr ULONG kValueWritten = 9985;     // parameter reference: a value was written
constexpr ULONG kUserLevel = 9988;        // the frame user's level, DtmUserRole (VT_UI4)
constexpr ULONG kChildrenChanged = 9991;  // to channels: the child DTMs changed
constexpr ULONG kSchemaPath = 9992;       // the frame's schema folder; to a control only without IevFdtActiveXInfo
constexpr ULONG kEditPermission = 9993;   // the data set may be edited (VT_BOOL)
constexpr ULONG kFlagsChanged = 9994;     // parameter reference: its access flags changed
constexpr ULONG kTranslationPath = 9995;  // folder of the translation document (VT_BSTR, ends in "\")
constexpr ULONG kDeviceType = 9996;       // the data set's device type
constexpr ULONG kDeviceValue = 9997;      // parameter reference: a device value arrived
constexpr ULONG kSharedUi = 9998;         // the shared-UI flag (VT_BOOL)
constexpr ULONG kTransferState = 9999;    // data or transfer state 0..3 (VT_UI2), to the footer bar
constexpr ULONG kFooterSwitch = 10000;    // VT_BOOL, to the footer bar
constexpr ULONG kFooterOptions = 10001;   // VT_UI2
constexpr ULONG kValueList = 10002;       // parameter reference: its value list changed
constexpr ULONG kReloadAll = 10003;       // 0x43 online: read every parameter again
constexpr ULONG kFdt121Frame = 10006;     // to channels: the frame speaks FDT 1.2.1
}  // namespace property_id
