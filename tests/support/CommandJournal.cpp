#include "tests/support/CommandJournal.h"

#include "tests/support/TempFolder.h"

namespace testsupport {

std::vector<std::string> ReadJournalLines(const std::wstring& journalPath) {
    std::vector<std::string> lines;
    const std::string text = TempFolder::ReadAll(journalPath);
    size_t begin = 0;
    for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
        lines.push_back(text.substr(begin, end - begin));
    return lines;
}

std::vector<CommandStart> ReadCommandStarts(const std::wstring& journalPath) {
    std::vector<CommandStart> starts;
    for (const std::string& line : ReadJournalLines(journalPath)) {
        const size_t tab = line.find('\t');
        starts.push_back({line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1)});
    }
    return starts;
}

}  // namespace testsupport
