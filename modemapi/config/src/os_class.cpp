#include "modemapi/adapter_registry.h"

namespace modemapi {

int GetOsClass() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExA(&info)) return 0;
#pragma GCC diagnostic pop
  switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32_NT:
      if (info.dwMajorVersion > 4) return 3;
      if (info.dwMajorVersion == 4) return 2;
      if (info.dwMajorVersion == 3 && info.dwMinorVersion == 51) return 1;
      return 0;
    case VER_PLATFORM_WIN32_WINDOWS:
      if (info.dwMajorVersion != 4) return 0;
      return info.dwMinorVersion == 0 ? 4 : 5;
    case VER_PLATFORM_WIN32s:
      return 6;
    default:
      return 0;
  }
}

}  // namespace modemapi
