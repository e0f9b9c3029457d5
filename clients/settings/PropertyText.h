#pragma once
// The text forms of property values. Writing: doubles through a stream (16 significant digits in the general form,
// six decimals in the fixed form) so that exponents have two digits ("1e+20") whatever the C runtime prints.
// Reading: the standard conversions (leading white space skipped, an optional sign, the rest after the number
// ignored); they throw std::invalid_argument when no number starts the text and std::out_of_range beyond the type.
// The unsigned reads take a leading minus sign and negate modulo 2^32 or 2^64, as the standard conversions do.
#include <string>

namespace Orvan::PropertyText {

std::wstring General(double value);
std::wstring Fixed(double value);

double ToDouble(const std::wstring& text);
unsigned long ToUInt32(const std::wstring& text);
unsigned long long ToUInt64(const std::wstring& text);
long long ToInt64(const std::wstring& text);
int ToInt32(const std::wstring& text);

}  // namespace Orvan::PropertyText
