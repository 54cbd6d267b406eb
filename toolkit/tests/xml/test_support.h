// Helpers shared by the XML tests: COM per test, a scratch folder tree, the
// stand-in schemas next to the program, the registry's schema folder value.
#pragma once

#include <windows.h>

#include <string>

namespace xmltest {

// Folder of the test program, with a trailing backslash.
std::wstring ProgramFolder();
// The stand-in schemas copied next to the program.
std::wstring StandInSchemaFolder();

// A fresh folder under the temporary folder, removed with its contents.
class ScratchFolder {
 public:
  explicit ScratchFolder(const wchar_t* name);
  ~ScratchFolder();
  const std::wstring& path() const { return path_; }
  // Creates path()\relative (and the folders on the way); answers the path.
  std::wstring MakeFolder(const std::wstring& relative) const;
  // Copies one stand-in schema into path()\relative.
  void CopySchema(const wchar_t* name, const std::wstring& relative) const;
  void WriteFile(const std::wstring& relative, const std::string& bytes) const;

 private:
  std::wstring path_;
};

void RemoveTree(const std::wstring& folder);

// HKLM value "value0" of the schema paths key; null removes the key.
void SetRegistrySchemaFolder(const wchar_t* folder);

}  // namespace xmltest
