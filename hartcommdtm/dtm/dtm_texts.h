// Ids of the DTM's own user messages and texts, in its string table
// (resources/hartcommdtm_strings.rc) and its translation document
// (localization/UserMessages/Message[@resId]).
#pragma once

#include <windows.h>

namespace hart_message {
// "The configured is HART device is of the wrong type for this DTM device type."
constexpr UINT kWrongDeviceType = 161;
}  // namespace hart_message
