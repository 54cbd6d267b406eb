#include "test_support.h"

#include <gtest/gtest.h>

#include "toolkit/xml/xml_handler.h"

namespace xmltest {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

std::wstring StandInSchemaFolder() { return ProgramFolder() + L"schemas\\"; }

ScratchFolder::ScratchFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId());
  RemoveTree(path_);
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

std::wstring ScratchFolder::MakeFolder(const std::wstring& relative) const {
  std::wstring full = path_;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find(L'\\', start);
    if (end == std::wstring::npos) end = relative.size();
    full += L"\\" + relative.substr(start, end - start);
    CreateDirectoryW(full.c_str(), nullptr);
    start = end + 1;
  }
  return full;
}

void ScratchFolder::CopySchema(const wchar_t* name, const std::wstring& relative) const {
  std::wstring folder = relative.empty() ? path_ : MakeFolder(relative);
  ASSERT_TRUE(CopyFileW((StandInSchemaFolder() + name).c_str(), (folder + L"\\" + name).c_str(), FALSE))
      << "stand-in schema missing next to the program";
}

void ScratchFolder::WriteFile(const std::wstring& relative, const std::string& bytes) const {
  HANDLE file = CreateFileW((path_ + L"\\" + relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = folder + L"\\" + name;
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(full);
      else
        DeleteFileW(full.c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

void SetRegistrySchemaFolder(const wchar_t* folder) {
  if (!folder) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSchemaPathsKey);
    return;
  }
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSchemaPathsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &key, nullptr));
  RegSetValueExW(key, kSchemaPathsValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                 static_cast<DWORD>((wcslen(folder) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

}  // namespace xmltest
