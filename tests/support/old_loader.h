// The loader of a Windows 7 without its loader update (KB2533623), played
// in this program: while an OldLoader lives, win32::LoadLibrarySearching
// (the program's own code and every static library it links) calls a
// LoadLibraryExW that refuses every LOAD_LIBRARY_SEARCH_* flag with
// ERROR_INVALID_PARAMETER, as that loader does, and loads everything else.
// Every call is recorded. One at a time.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "win32/library_search.h"

namespace testsupport {

class OldLoader {
 public:
  struct Call {
    std::wstring fileName;
    DWORD flags;
  };

  OldLoader();
  ~OldLoader();
  OldLoader(const OldLoader&) = delete;
  OldLoader& operator=(const OldLoader&) = delete;

  // The calls so far, in order (any thread).
  std::vector<Call> Calls() const;

 private:
  win32::LoadLibraryExFunction previous_;
};

// The LOAD_LIBRARY_SEARCH_* flags the old loader refuses.
constexpr DWORD kLoaderSearchFlags = 0x1F00;

}  // namespace testsupport
