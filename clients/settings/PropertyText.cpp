#include "clients/settings/PropertyText.h"

#include <locale>
#include <sstream>

namespace Orvan::PropertyText {

namespace {

std::wstring Written(double value, bool fixed) {
    std::wostringstream out;
    out.imbue(std::locale::classic());
    if (fixed) out << std::fixed;
    out.precision(fixed ? 6 : 16);
    out << value;
    return out.str();
}

}  // namespace

std::wstring General(double value) { return Written(value, false); }
std::wstring Fixed(double value) { return Written(value, true); }

double ToDouble(const std::wstring& text) { return std::stod(text); }
// unsigned long is 32 bits wide on Windows.
unsigned long ToUInt32(const std::wstring& text) { return std::stoul(text); }
unsigned long long ToUInt64(const std::wstring& text) { return std::stoull(text); }
long long ToInt64(const std::wstring& text) { return std::stoll(text); }
int ToInt32(const std::wstring& text) { return std::stoi(text); }

}  // namespace Orvan::PropertyText
