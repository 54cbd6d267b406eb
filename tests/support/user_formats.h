// A German user's formats (decimal comma, day first, 24-hour clock) set as
// the user's own overrides through SetLocaleInfo, and the former ones put
// back at the end. Wine keeps the locale id of the Unix side but honours
// these overrides, which is what the OLE conversions read. A test program
// that uses this runs in a Wine prefix of its own.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace testsupport {

class GermanUserFormats {
 public:
  GermanUserFormats() {
    for (Override& o : overrides_) {
      wchar_t text[80] = {};
      ::GetLocaleInfoW(LOCALE_USER_DEFAULT, o.type, text, 80);
      o.saved = text;
      ::SetLocaleInfoW(LOCALE_USER_DEFAULT, o.type, o.german);
    }
  }
  ~GermanUserFormats() {
    for (const Override& o : overrides_) ::SetLocaleInfoW(LOCALE_USER_DEFAULT, o.type, o.saved.c_str());
  }
  GermanUserFormats(const GermanUserFormats&) = delete;
  GermanUserFormats& operator=(const GermanUserFormats&) = delete;

  // Whether OLE now writes 2.5 as "2,5": without that a test under these
  // formats proves nothing.
  static bool WriteDecimalComma() {
    BSTR text = nullptr;
    const bool comma = SUCCEEDED(::VarBstrFromR8(2.5, LOCALE_USER_DEFAULT, 0, &text)) && text &&
                       std::wstring(text) == L"2,5";
    ::SysFreeString(text);
    return comma;
  }

 private:
  struct Override {
    LCTYPE type;
    const wchar_t* german;
    std::wstring saved;
  };
  Override overrides_[4] = {
      {LOCALE_SDECIMAL, L",", {}},
      {LOCALE_STHOUSAND, L".", {}},
      {LOCALE_SSHORTDATE, L"dd.MM.yyyy", {}},
      {LOCALE_STIMEFORMAT, L"HH:mm:ss", {}},
  };
};

}  // namespace testsupport
