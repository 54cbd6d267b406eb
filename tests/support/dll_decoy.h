// A DLL planted where the plain search order finds it but our loads must
// not look: in the current folder or in a folder on PATH.
#pragma once

#include <string>

namespace testsupport {

class DllDecoy {
 public:
  enum class Place { kCurrentFolder, kPath };

  // Copies source to fileName in a new folder under the temp folder and makes
  // that folder the current folder, or puts it first on PATH, until the
  // decoy goes; then everything is as before.
  DllDecoy(const std::wstring& source, const wchar_t* fileName, Place place);
  ~DllDecoy();
  DllDecoy(const DllDecoy&) = delete;
  DllDecoy& operator=(const DllDecoy&) = delete;

  // False when the copy or the change of folder failed.
  bool planted() const { return planted_; }
  const std::wstring& path() const { return file_; }
  static const wchar_t* Name(Place place) { return place == Place::kPath ? L"on PATH" : L"in the current folder"; }

 private:
  Place place_;
  std::wstring folder_, file_, saved_;
  bool hadPath_ = false;
  bool planted_ = false;
};

}  // namespace testsupport
