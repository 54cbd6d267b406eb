// LoadLibrarySearching takes a DLL from the folders its flags name, in
// their order, with a loader that knows the search flags and with one that
// refuses them (a Windows 7 without its loader update); never from the
// current folder or the PATH.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "dll_decoy.h"
#include "old_loader.h"
#include "regsvr32.h"
#include "win32/library_search.h"
#include "win32/module_path.h"

namespace {

using testsupport::DllDecoy;
using testsupport::OldLoader;
using testsupport::ProgramFolder;

constexpr DWORD kApplicationAndSystem = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// Where the loaded module lies (lower case), then freed; "<not loaded>" for null.
std::wstring TakeWhere(HMODULE module) {
  if (!module) return L"<not loaded>";
  const std::wstring path = Lower(win32::ModulePath(module));
  ::FreeLibrary(module);
  return path;
}

std::wstring Beside(const wchar_t* name) { return Lower(ProgramFolder() + name); }
std::wstring InSystem(const wchar_t* name) { return Lower(win32::SystemFolder() + name); }

// Each call the old loader got: "flags:path" in lower case.
std::vector<std::wstring> Tried(const OldLoader& loader) {
  std::vector<std::wstring> tried;
  for (const OldLoader::Call& call : loader.Calls())
    tried.push_back(std::to_wstring(call.flags) + L":" + Lower(call.fileName));
  return tried;
}

std::wstring Try(DWORD flags, const std::wstring& path) { return std::to_wstring(flags) + L":" + Lower(path); }

TEST(LibrarySearching, TakesTheApplicationFolderThenTheSystemFolderWithEitherLoader) {
  for (bool old : {false, true}) {
    SCOPED_TRACE(old ? "loader without search flags" : "loader with search flags");
    std::unique_ptr<OldLoader> loader(old ? new OldLoader : nullptr);
    EXPECT_EQ(Beside(L"library_search_beside.dll"),
              TakeWhere(win32::LoadLibrarySearching(L"library_search_beside.dll", kApplicationAndSystem)));
    EXPECT_EQ(InSystem(L"library_search_system.dll"),
              TakeWhere(win32::LoadLibrarySearching(L"library_search_system.dll", kApplicationAndSystem)));
    EXPECT_EQ(Beside(L"library_search_both.dll"),
              TakeWhere(win32::LoadLibrarySearching(L"library_search_both.dll", kApplicationAndSystem)));
    // Only the folders the flags name.
    EXPECT_EQ(InSystem(L"library_search_both.dll"),
              TakeWhere(win32::LoadLibrarySearching(L"library_search_both.dll", LOAD_LIBRARY_SEARCH_SYSTEM32)));
    const HMODULE notThere = win32::LoadLibrarySearching(L"library_search_beside.dll", LOAD_LIBRARY_SEARCH_SYSTEM32);
    const DWORD error = ::GetLastError();
    EXPECT_EQ(nullptr, notThere);
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), error);
    if (loader) {
      const std::vector<std::wstring> expected = {
          Try(kApplicationAndSystem, L"library_search_beside.dll"),
          Try(LOAD_WITH_ALTERED_SEARCH_PATH, Beside(L"library_search_beside.dll")),
          Try(kApplicationAndSystem, L"library_search_system.dll"),
          Try(LOAD_WITH_ALTERED_SEARCH_PATH, Beside(L"library_search_system.dll")),
          Try(LOAD_WITH_ALTERED_SEARCH_PATH, InSystem(L"library_search_system.dll")),
          Try(kApplicationAndSystem, L"library_search_both.dll"),
          Try(LOAD_WITH_ALTERED_SEARCH_PATH, Beside(L"library_search_both.dll")),
          Try(LOAD_LIBRARY_SEARCH_SYSTEM32, L"library_search_both.dll"),
          Try(LOAD_WITH_ALTERED_SEARCH_PATH, InSystem(L"library_search_both.dll")),
          Try(LOAD_LIBRARY_SEARCH_SYSTEM32, L"library_search_beside.dll"),
          Try(LOAD_WITH_ALTERED_SEARCH_PATH, InSystem(L"library_search_beside.dll")),
      };
      EXPECT_EQ(expected, Tried(*loader));
    }
  }
}

TEST(LibrarySearching, AFullPathIsLoadedAsGivenARelativeOneNever) {
  const std::wstring path = ProgramFolder() + L"library_search_beside.dll";
  const DWORD flags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
  EXPECT_EQ(Lower(path), TakeWhere(win32::LoadLibrarySearching(path.c_str(), flags)));

  OldLoader loader;
  EXPECT_EQ(Lower(path), TakeWhere(win32::LoadLibrarySearching(path.c_str(), flags)));
  // Relative to the current folder: refused as the old loader refused it.
  const HMODULE relative = win32::LoadLibrarySearching(L".\\library_search_beside.dll", flags);
  const DWORD error = ::GetLastError();
  EXPECT_EQ(nullptr, relative);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error);
  const std::vector<std::wstring> expected = {Try(flags, path), Try(LOAD_WITH_ALTERED_SEARCH_PATH, path),
                                              Try(flags, L".\\library_search_beside.dll")};
  EXPECT_EQ(expected, Tried(loader));
}

TEST(LibrarySearching, NeverTakesTheCurrentFolderOrThePathWithEitherLoader) {
  const wchar_t kDecoy[] = L"library_search_decoy.dll";
  for (DllDecoy::Place place : {DllDecoy::Place::kCurrentFolder, DllDecoy::Place::kPath}) {
    SCOPED_TRACE(DllDecoy::Name(place));
    DllDecoy decoy(ProgramFolder() + L"library_search_beside.dll", kDecoy, place);
    ASSERT_TRUE(decoy.planted());
    // The plain search order reaches it there.
    EXPECT_EQ(Lower(decoy.path()), TakeWhere(::LoadLibraryW(kDecoy)));

    for (bool old : {false, true}) {
      SCOPED_TRACE(old ? "loader without search flags" : "loader with search flags");
      std::unique_ptr<OldLoader> loader(old ? new OldLoader : nullptr);
      const HMODULE module = win32::LoadLibrarySearching(kDecoy, kApplicationAndSystem);
      const DWORD error = ::GetLastError();
      EXPECT_EQ(L"<not loaded>", TakeWhere(module));
      EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), error);
    }
  }
}

}  // namespace
