#pragma once
// A system of the language-selector loads (the language step's or the current-language lookup's) whose Common Files
// folder is what the test says; each load is recorded and fails.
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace welkintest {

template <class System>
class SelectorPlaces : public System {
public:
    // Empty: the shell has no Common Files folder.
    explicit SelectorPlaces(std::wstring commonFiles) : commonFiles_(std::move(commonFiles)) {}
    std::wstring ShellFolderWith(int csidl, const wchar_t* tail) override {
        return csidl == CSIDL_PROGRAM_FILES_COMMON && !commonFiles_.empty() ? commonFiles_ + tail : std::wstring();
    }
    HMODULE LoadLibraryW(const wchar_t* path) override {
        loaded.push_back(path);
        return nullptr;
    }
    std::vector<std::wstring> loaded;

private:
    std::wstring commonFiles_;
};

}  // namespace welkintest
