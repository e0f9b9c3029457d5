#pragma once
// A fresh folder under the temporary folder, removed with everything in it when the object goes away.
#include <string>
#include <vector>

namespace testsupport {

class TempFolder {
public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();

    const std::wstring& Path() const { return path_; }
    // Path of an entry inside the folder ("a\\b.txt" style relative names).
    std::wstring File(const std::wstring& relative) const;
    // Writes the bytes to a file in the folder, creating folders on the way; returns its full path.
    std::wstring Write(const std::wstring& relative, const std::string& bytes) const;
    static std::string ReadAll(const std::wstring& fullPath);
    static void RemoveTree(const std::wstring& fullPath);

private:
    std::wstring path_;
};

}  // namespace testsupport
