// AdapterInterfaceGuid: the adapter's device-interface class. pnpsvc asks
// SetupAPI for the present interfaces of this class and registers for their
// arrival and removal notices; the simulated adapter enumerates under it.
#pragma once

#include <windows.h>

namespace shared {

// {E28DE6AD-B0A7-461B-BBCD-0FA638C7C750}
inline const GUID AdapterInterfaceGuid = {
    0xE28DE6AD, 0xB0A7, 0x461B, {0xBB, 0xCD, 0x0F, 0xA6, 0x38, 0xC7, 0xC7, 0x50}};

constexpr const char kAdapterInterfaceGuidText[] = "{E28DE6AD-B0A7-461B-BBCD-0FA638C7C750}";

}  // namespace shared
