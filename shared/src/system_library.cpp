#include "shared/system_library.h"

#include "win32/library_search.h"

namespace shared {

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
  return win32::LoadLibrarySearching(fileName, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace shared
