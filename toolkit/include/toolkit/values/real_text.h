// Reals as text and back in one fixed form, "." before the fraction and no
// grouping, whatever locale the C runtime was given. The C runtime's locale
// belongs to the whole process: a frame that calls setlocale changes what
// printf, strtod and scanf do in this module too, and a document or a
// stored text must not change with it.
#pragma once

#include <string>

// As "%.*g" with that many significant digits (1 to 17) in the C locale;
// -0 keeps its sign. Infinities and NaN in XML Schema's forms: "INF",
// "-INF", "NaN" (any NaN, whatever its sign and payload).
std::wstring RealText(double value, int digits);
// As "%.*f" with that many digits after the point in the C locale.
std::wstring FixedRealText(double value, int decimals);

// A whole text as a real, correctly rounded to the type: blanks around it,
// an optional sign, digits with at most one ".", an optional exponent
// ("e" or "E", optional sign, digits); or exactly "INF", "-INF" or "NaN",
// as RealText writes them. False, *value unchanged, for any other text (no
// "inf", "nan", hexadecimal or grouping) and for a value beyond the type's
// range.
bool RealFromText(const wchar_t* text, double* value);
bool RealFromText(const wchar_t* text, float* value);
// The number at the start of a text (after blanks) in the same form, as
// scanf's "%f" reads it: what follows it is not looked at.
bool LeadingRealFromText(const wchar_t* text, float* value);
