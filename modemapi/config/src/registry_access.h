// Read-only access to the adapter configuration keys (HKLM, 32-bit view).
#pragma once

#include <windows.h>

#include <cstdint>

#include "win32/unique_handle.h"

namespace modemapi {

// Opens HKLM\<path> for querying in the configuration's registry view.
LSTATUS OpenConfigurationKey(const char* path, win32::UniqueRegKey& key);

// True for the errors that mean "the key or value is not there".
inline bool IsMissing(LSTATUS status) {
  return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

}  // namespace modemapi
