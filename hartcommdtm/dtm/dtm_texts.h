// Ids of the DTM's own user messages and texts, in its string table
// (resources/hartcommdtm_strings.rc) and its translation document
// (localization/UserMessages/Message[@resId]).
#pragma once

#include <windows.h>

namespace hart_message {
// "The configured is HART device is of the wrong type for this DTM device type."
constexpr UINT kWrongDeviceType = 161;
// "The address dialog of the new device DTM did not close in time: the DTM no
// longer waits for it."
constexpr UINT kAddressControlNoAnswer = 162;
}  // namespace hart_message
