#include "shared/system_library.h"

namespace shared {

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
  return ::LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace shared
