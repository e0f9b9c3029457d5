#pragma once
// The journal files of the doubles: text is written in UTF-8, each append through a handle of its own opened for
// appending (a double that may append from several threads at once serialises its own calls).
//
// The road journal: when the environment variable WELKIN_ROAD_JOURNAL names a file, a double also appends each of
// its journal lines there, behind its own name and a tab. The doubles of one run, in welkin's process and in the
// programs it starts, take turns through a named mutex, so that file holds all their calls in the order they came.
#include <windows.h>

#include <string>
#include <string_view>

#include "foundation/basalt/OwnedHandle.h"

namespace doubles {

inline std::string Utf8(std::wstring_view text) {
    if (text.empty()) return std::string();
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
    return out;
}

// Nothing happens when the file cannot be opened: a double never fails the call it journals.
inline void AppendToJournal(const wchar_t* path, const std::string& bytes) {
    const HANDLE opened = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return;
    const Basalt::KernelHandle file(opened);
    DWORD written = 0;
    WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

inline constexpr wchar_t kRoadJournalVariable[] = L"WELKIN_ROAD_JOURNAL";

inline void AppendToRoadJournal(const char* source, const std::string& line) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(kRoadJournalVariable, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const Basalt::KernelHandle turn(CreateMutexW(nullptr, FALSE, L"WelkinDoublesRoadJournal"));
    if (!turn.Get()) return;
    WaitForSingleObject(turn.Get(), 10000);
    AppendToJournal(path, std::string(source) + "\t" + line);
    ReleaseMutex(turn.Get());
}

}  // namespace doubles
