#pragma once
// The shell-folder wrapper: known folders are asked through this replaceable object so that tests can answer them.
// KnownFolderPath holds the text the shell hands out and frees it with CoTaskMemFree at scope end.
#include <windows.h>
#include <shlobj.h>

namespace Basalt {

class ShlObjAPI {
public:
    virtual ~ShlObjAPI() = default;
    // SHGetKnownFolderPath as given; the caller owns *path (use KnownFolderPath).
    virtual HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path);
};

class KnownFolderPath {
public:
    KnownFolderPath() = default;
    KnownFolderPath(const KnownFolderPath&) = delete;
    KnownFolderPath& operator=(const KnownFolderPath&) = delete;
    ~KnownFolderPath() { Reset(); }

    // The slot to hand to SHGetKnownFolderPath; a text held before is freed first.
    PWSTR* Out() {
        Reset();
        return &path_;
    }
    const wchar_t* Get() const { return path_; }
    void Reset() {
        CoTaskMemFree(path_);
        path_ = nullptr;
    }

private:
    PWSTR path_ = nullptr;
};

}  // namespace Basalt
