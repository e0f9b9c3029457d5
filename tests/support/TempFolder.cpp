#include "tests/support/TempFolder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

namespace testsupport {

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    for (;;) {
        path_ = std::wstring(base) + L"wt" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(counter++);
        if (CreateDirectoryW(path_.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create a temporary folder, error " << GetLastError();
            break;
        }
    }
}

TempFolder::~TempFolder() { RemoveTree(path_); }

std::wstring TempFolder::File(const std::wstring& relative) const { return path_ + L"\\" + relative; }

std::wstring TempFolder::Write(const std::wstring& relative, const std::string& bytes) const {
    const std::wstring full = File(relative);
    for (size_t at = path_.size() + 1; (at = full.find(L'\\', at)) != std::wstring::npos; ++at)
        CreateDirectoryW(full.substr(0, at).c_str(), nullptr);
    HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file) << "cannot write a test file, error " << GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    return full;
}

std::string TempFolder::ReadAll(const std::wstring& fullPath) {
    std::string bytes;
    HANDLE file = CreateFileW(fullPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

void TempFolder::RemoveTree(const std::wstring& fullPath) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((fullPath + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = fullPath + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            const bool isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !isLink)
                RemoveTree(child);
            else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(child.c_str());
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(fullPath.c_str());
}

}  // namespace testsupport
