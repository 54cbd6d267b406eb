// The C runtime's locale as a frame application may set it for its user
// (setlocale). It belongs to the whole process: printf, strtod and scanf in
// every module of it, the DTM's included, then write and read its decimal
// comma.
#pragma once

#include <clocale>
#include <cstdio>
#include <cstring>

namespace testsupport {

class CrtLocale {
 public:
  // "German": decimal comma. Back to the "C" locale at the end.
  explicit CrtLocale(const char* name = "German") { std::setlocale(LC_ALL, name); }
  ~CrtLocale() { std::setlocale(LC_ALL, "C"); }
  CrtLocale(const CrtLocale&) = delete;
  CrtLocale& operator=(const CrtLocale&) = delete;

  // Whether the C runtime now prints 2.5 as "2,5": without that a test
  // under this locale proves nothing.
  static bool WritesDecimalComma() {
    char text[16] = {};
    std::snprintf(text, sizeof text, "%g", 2.5);
    return std::strcmp(text, "2,5") == 0;
  }
};

}  // namespace testsupport
