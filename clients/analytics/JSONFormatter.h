#pragma once
// Turns a record into one flat JSON object of string members, in the record's own order, with no spaces:
// {"name":"value","other":"text"}. Escapes: \b \t \n \f \r \" \/ \\; other characters below 32 and 127-159 as
// \u00XX (upper-case hex); everything else as it is.
#include <string>

#include "clients/analytics/Record.h"

namespace Orvan::Analytics {

class IFormatter {
public:
    virtual ~IFormatter() = default;
    // False (and an empty text) for a record that cannot be formatted.
    virtual bool format(const Record& record, std::wstring& text) = 0;
};

class CJSONFormatter : public IFormatter {
public:
    // False for an empty record.
    bool format(const Record& record, std::wstring& text) override;
    // Appends the escaped text.
    static void escape(const std::wstring& text, std::wstring& out);
    // Length of the escaped text.
    static size_t escapedLength(const std::wstring& text);
};

}  // namespace Orvan::Analytics
