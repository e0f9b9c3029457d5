#include <string_view>

#include "foundation/logging/LogSite.h"

namespace ETWLogging::internal {

namespace {

// The qualified name of a __PRETTY_FUNCTION__ text: the part before the parameter list, without the return type.
std::string_view QualifiedName(std::string_view pretty) {
    int depth = 0;
    size_t parameters = pretty.size();
    for (size_t i = 0; i < pretty.size(); ++i) {
        const char c = pretty[i];
        if (pretty.compare(i, 8, "operator") == 0) {
            // Operator names may hold '<', '>' and "()" themselves.
            i += 8;
            if (pretty.compare(i, 2, "()") == 0) ++i;
            while (i + 1 < pretty.size() && pretty[i + 1] != '(') ++i;
            continue;
        }
        if (c == '<') ++depth;
        else if (c == '>') --depth;
        else if (c == '(' && depth == 0) {
            parameters = i;
            break;
        }
    }
    std::string_view name = pretty.substr(0, parameters);
    depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '<') ++depth;
        else if (name[i] == '>') --depth;
        else if (name[i] == ' ' && depth == 0 && name.compare(i + 1, 8, "operator") != 0) start = i + 1;
    }
    return name.substr(start);
}

}  // namespace

const wchar_t* SiteFunctionName(const char* prettyFunction) {
    const std::string_view name = QualifiedName(prettyFunction ? prettyFunction : "");
    // Kept for the life of the process: every site caches the pointer.
    auto* wide = new wchar_t[name.size() + 1];
    for (size_t i = 0; i < name.size(); ++i) wide[i] = static_cast<unsigned char>(name[i]);
    wide[name.size()] = L'\0';
    return wide;
}

}  // namespace ETWLogging::internal
