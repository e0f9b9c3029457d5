#include "foundation/basalt/FileVersionInfo.h"

#include <knownfolders.h>

#include "foundation/basalt/Format.h"

namespace Basalt {

bool FileVersionInfo::load(const wchar_t* path) {
    if (loaded_ || !path) return false;
    const DWORD size = GetFileVersionInfoSizeW(path, nullptr);
    if (size == 0) return false;
    resource_.assign(size, 0);
    loaded_ = GetFileVersionInfoW(path, 0, size, resource_.data()) == TRUE;
    if (!loaded_) resource_.clear();
    return loaded_;
}

std::wstring FileVersionInfo::getString(const wchar_t* name) {
    if (!loaded_ || !name) return {};
    struct Translation {
        WORD language;
        WORD codePage;
    };
    void* table = nullptr;
    UINT tableBytes = 0;
    if (!VerQueryValueW(resource_.data(), L"\\VarFileInfo\\Translation", &table, &tableBytes) || !table)
        return {};
    const auto* pairs = static_cast<const Translation*>(table);
    for (UINT i = 0; i < tableBytes / sizeof(Translation); ++i) {
        const std::wstring query =
            Format(L"\\StringFileInfo\\%04X%04X\\%s", pairs[i].language, pairs[i].codePage, name);
        void* text = nullptr;
        UINT chars = 0;
        if (VerQueryValueW(resource_.data(), query.c_str(), &text, &chars) && text) {
            // The reported length bounds the read: a string without its terminator stops there.
            const auto* begin = static_cast<const wchar_t*>(text);
            return std::wstring(begin, wcsnlen(begin, chars));
        }
    }
    return {};
}

SystemFileVersionInfo::SystemFileVersionInfo(std::shared_ptr<ShlObjAPI> shell)
    : shell_(shell ? std::move(shell) : std::make_shared<ShlObjAPI>()) {}

bool SystemFileVersionInfo::load(const wchar_t* name) {
    if (!name) return false;
    std::wstring folder = systemFolder_;
    if (folder.empty()) {
        KnownFolderPath system;
        if (SUCCEEDED(shell_->SHGetKnownFolderPath(FOLDERID_System, 0, nullptr, system.Receive())) && system.Get()) {
            systemFolder_ = std::wstring(system.Get()) + L"\\";
            folder = systemFolder_;
        } else {
            folder = L"\\";
        }
    }
    return FileVersionInfo::load((folder + name).c_str());
}

}  // namespace Basalt
