#pragma once
// The journal of the command double (tests/doubles/command_double.cpp): one line per start, the whole command line
// and the current folder separated by a tab, in UTF-8.
#include <string>
#include <vector>

namespace testsupport {

struct CommandStart {
    std::string commandLine;
    std::string folder;
};

std::vector<CommandStart> ReadCommandStarts(const std::wstring& journalPath);

}  // namespace testsupport
