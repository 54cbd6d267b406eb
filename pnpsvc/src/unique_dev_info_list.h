// UniqueDevInfoList: owns a SetupAPI device information set.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "win32/unique_handle.h"

namespace pnpsvc {

struct DevInfoListTraits {
  using type = HDEVINFO;
  static type invalid() { return INVALID_HANDLE_VALUE; }
  static bool valid(type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(type h) { SetupDiDestroyDeviceInfoList(h); }
};
using UniqueDevInfoList = win32::UniqueResource<DevInfoListTraits>;

}  // namespace pnpsvc
