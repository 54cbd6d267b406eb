#include "type_libraries.h"

#include <windows.h>
#include <oleauto.h>

namespace testsupport {

bool KeepTypeLibraryLoaded(const std::wstring& path) {
  ITypeLib* library = nullptr;
  // Never released: the reference lasts as long as the program.
  return SUCCEEDED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library));
}

}  // namespace testsupport
