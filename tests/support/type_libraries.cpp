#include "type_libraries.h"

#include <windows.h>
#include <oleauto.h>

namespace testsupport {

// Never released: the reference lasts as long as the program.
bool KeepTypeLibraryLoaded(const std::wstring& path) {
  ITypeLib* library = nullptr;
  return SUCCEEDED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library));
}

bool RegisterTypeLibrary(const std::wstring& path) {
  ITypeLib* library = nullptr;
  if (FAILED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library))) return false;
  std::wstring registered = path;  // RegisterTypeLib takes a writable text
  return SUCCEEDED(::RegisterTypeLib(library, &registered[0], nullptr));
}

bool RegisterTypeLibraryReleased(const std::wstring& path) {
  ITypeLib* library = nullptr;
  if (FAILED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library))) return false;
  std::wstring registered = path;
  const bool done = SUCCEEDED(::RegisterTypeLib(library, &registered[0], nullptr));
  library->Release();
  return done;
}

}  // namespace testsupport
