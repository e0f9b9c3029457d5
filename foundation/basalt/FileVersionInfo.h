#pragma once
// Named strings of a file's version resource ("ProductVersion", "FileVersion", ...). An object loads one file once
// and then answers any number of questions; every failure reads as false or the empty string and nothing is logged.
// SystemFileVersionInfo takes a bare file name and always reads the System folder's copy of it.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/basalt/ShlObjAPI.h"

namespace Basalt {

class FileVersionInfo {
public:
    FileVersionInfo() = default;
    virtual ~FileVersionInfo() = default;

    // False when a file is already loaded (the first one is kept) or the file has no readable version resource.
    virtual bool load(const wchar_t* path);
    // The string from the first translation that has it, in the order of the translation table; "" otherwise.
    virtual std::wstring getString(const wchar_t* name);

private:
    std::vector<BYTE> resource_;
    bool loaded_ = false;
};

class SystemFileVersionInfo : public FileVersionInfo {
public:
    // An empty pointer stands for the shell itself.
    explicit SystemFileVersionInfo(std::shared_ptr<ShlObjAPI> shell = nullptr);

    // Loads "<System folder>\<name>"; when the folder is unknown the path is "\<name>".
    bool load(const wchar_t* name) override;

private:
    std::shared_ptr<ShlObjAPI> shell_;
    std::wstring systemFolder_;  // with its trailing backslash once known
};

}  // namespace Basalt
