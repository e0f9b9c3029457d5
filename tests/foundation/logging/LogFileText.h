#pragma once
// What the file logger leaves on disk, as the logging tests read it: the roots of the log folders and the text of a
// log file (UTF-16LE after a two-byte byte-order mark, which the caller checks itself).
#include <string>

namespace logtest {

std::wstring ProgramData();
// <ProgramData>\Torvex\QZLOGS
std::wstring LogsRoot();
// The text after the first two bytes; an odd last byte is dropped.
std::wstring TextAfterMark(const std::string& bytes);

}  // namespace logtest
