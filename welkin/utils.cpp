#include "welkin/utils.h"

size_t SplitString(const std::wstring& source, const std::wstring& delimiter, std::vector<std::wstring>& pieces) {
    if (delimiter.empty()) {
        if (!source.empty()) pieces.push_back(source);
        return source.empty() ? 0 : 1;
    }
    size_t appended = 0;
    size_t start = 0;
    while (start < source.size()) {
        const size_t end = source.find(delimiter, start);
        const size_t pieceEnd = end == std::wstring::npos ? source.size() : end;
        pieces.push_back(source.substr(start, pieceEnd - start));
        ++appended;
        start = source.find_first_not_of(delimiter, pieceEnd + 1);
        if (start == std::wstring::npos) break;
    }
    return appended;
}
