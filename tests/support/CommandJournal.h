#pragma once
// The journals of the doubles (tests/doubles): UTF-8 files of '\n'-terminated lines. The command double's journal
// (tests/doubles/command_double.cpp) holds one line per start, the whole command line and the current folder
// separated by a tab.
#include <string>
#include <vector>

namespace testsupport {

struct CommandStart {
    std::string commandLine;
    std::string folder;
};

// The complete lines of a journal, without their '\n' (an unterminated last line is not counted); none when the
// file is missing.
std::vector<std::string> ReadJournalLines(const std::wstring& journalPath);

std::vector<CommandStart> ReadCommandStarts(const std::wstring& journalPath);

// ASCII text in the journals' narrow form (each character cut to its low byte), to compare with journal lines and to
// name a case in a message.
inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace testsupport
