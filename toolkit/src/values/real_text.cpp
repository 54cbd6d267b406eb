// Reals as text and back through std::to_chars and std::from_chars, which
// never look at a locale.
#include "toolkit/values/real_text.h"

#include <charconv>
#include <cmath>
#include <cwchar>
#include <limits>
#include <cwctype>
#include <string>
#include <system_error>

namespace {

// Room for any double in fixed form (309 digits before the point) with the
// decimals asked for.
constexpr int kMaxDecimals = 40;
constexpr size_t kTextChars = 360;

template <class T, class... Format>
std::wstring ToText(T value, Format... format) {
  char buffer[kTextChars];
  const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value, format...);
  if (result.ec != std::errc()) return std::wstring();
  return std::wstring(buffer, result.ptr);  // ASCII only
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// The end of the plain number that starts at p: an optional sign, digits
// with at most one ".", an optional exponent ("e" or "E", optional sign,
// digits); p itself when no number starts there. An "e" without digits
// after it is not part of the number.
const wchar_t* NumberEnd(const wchar_t* p) {
  const wchar_t* start = p;
  if (*p == L'+' || *p == L'-') ++p;
  bool digits = false;
  while (IsDigit(*p)) ++p, digits = true;
  if (*p == L'.') {
    ++p;
    while (IsDigit(*p)) ++p, digits = true;
  }
  if (!digits) return start;
  if (*p == L'e' || *p == L'E') {
    const wchar_t* exponent = p + 1;
    if (*exponent == L'+' || *exponent == L'-') ++exponent;
    if (IsDigit(*exponent)) {
      p = exponent;
      while (IsDigit(*p)) ++p;
    }
  }
  return p;
}

const wchar_t* SkipBlanks(const wchar_t* p) {
  while (std::iswspace(*p)) ++p;
  return p;
}

// The values without digits, in XML Schema's forms (xs:float, xs:double):
// documents carry them so, and a device that has no value sends NaN.
constexpr wchar_t kInfinity[] = L"INF";
constexpr wchar_t kNegativeInfinity[] = L"-INF";
constexpr wchar_t kNotANumber[] = L"NaN";

// One of those forms in [first, last), exactly (case and all).
template <class T>
bool ReadWord(const wchar_t* first, const wchar_t* last, T* value) {
  const std::wstring word(first, last);
  if (word == kInfinity) *value = std::numeric_limits<T>::infinity();
  else if (word == kNegativeInfinity) *value = -std::numeric_limits<T>::infinity();
  else if (word == kNotANumber) *value = std::numeric_limits<T>::quiet_NaN();
  else return false;
  return true;
}

// The number in [first, last) as the type, correctly rounded; from_chars
// takes no leading "+".
template <class T>
bool Read(const wchar_t* first, const wchar_t* last, T* value) {
  if (first == last || !value) return false;
  if (*first == L'+') ++first;
  const std::string number(first, last);  // ASCII: NumberEnd checked it
  T read = 0;
  const char* end = number.data() + number.size();
  const std::from_chars_result result = std::from_chars(number.data(), end, read);
  if (result.ec != std::errc() || result.ptr != end) return false;
  *value = read;
  return true;
}

template <class T>
bool WholeText(const wchar_t* text, T* value) {
  if (!text || !value) return false;
  const wchar_t* first = SkipBlanks(text);
  const wchar_t* last = NumberEnd(first);
  if (last == first) {
    // Not a number: one of the words, blanks around it.
    while (*last && !std::iswspace(*last)) ++last;
    return !*SkipBlanks(last) && ReadWord(first, last, value);
  }
  if (*SkipBlanks(last)) return false;
  return Read(first, last, value);
}

template <class T>
bool LeadingText(const wchar_t* text, T* value) {
  if (!text) return false;
  const wchar_t* first = SkipBlanks(text);
  return Read(first, NumberEnd(first), value);
}

}  // namespace

std::wstring RealText(double value, int digits) {
  // to_chars would write "inf", "-inf", "nan" or "-nan".
  if (std::isnan(value)) return kNotANumber;
  if (std::isinf(value)) return value < 0 ? kNegativeInfinity : kInfinity;
  if (digits < 1) digits = 1;
  if (digits > 17) digits = 17;
  return ToText(value, std::chars_format::general, digits);
}

std::wstring FixedRealText(double value, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > kMaxDecimals) decimals = kMaxDecimals;
  return ToText(value, std::chars_format::fixed, decimals);
}

bool RealFromText(const wchar_t* text, double* value) { return WholeText(text, value); }
bool RealFromText(const wchar_t* text, float* value) { return WholeText(text, value); }
bool LeadingRealFromText(const wchar_t* text, float* value) { return LeadingText(text, value); }
