#pragma once
// Finds a file over an ordered list of folders: the first folder that holds it wins. Only absolute folders (from a
// drive root or a share) are searched: a folder that is relative, names the current drive's root or still holds a
// "$(" macro is skipped with a log line and never joined with the file name. Files are tested through the file
// wrapper given to the constructor (an empty one means the system's own).
#include <list>
#include <memory>
#include <string>

#include "clients/support/DllAPI.h"
#include "clients/support/PathAPI.h"

namespace Orvan {

class PathSearch {
public:
    explicit PathSearch(std::shared_ptr<PathAPI> files = nullptr, std::shared_ptr<DllAPI> dlls = nullptr);
    virtual ~PathSearch() = default;

    virtual std::list<std::wstring> getSearchPaths();
    // Appended behind the folders already held.
    virtual void addSearchPaths(const std::list<std::wstring>& folders);
    virtual void addSearchPath(const wchar_t* folder);
    virtual void addSearchPath(const std::wstring& folder);
    // folder = the first search folder that holds the file, without a trailing backslash. False when none does.
    virtual bool findFilePath(const std::wstring& fileName, std::wstring& folder);
    virtual bool checkIfExists(const std::wstring& path);

private:
    std::shared_ptr<PathAPI> files_;
    std::shared_ptr<DllAPI> dlls_;
    std::list<std::wstring> folders_;
};

}  // namespace Orvan
