#include "clients/support/PathSearch.h"

#include "foundation/basalt/FileHelpers.h"
#include "foundation/logging/LogSite.h"

namespace Orvan {

PathSearch::PathSearch(std::shared_ptr<PathAPI> files, std::shared_ptr<DllAPI> dlls)
    : files_(files ? std::move(files) : std::make_shared<PathAPI>()),
      dlls_(dlls ? std::move(dlls) : std::make_shared<DllAPI>()) {}

std::list<std::wstring> PathSearch::getSearchPaths() { return folders_; }

void PathSearch::addSearchPaths(const std::list<std::wstring>& folders) {
    folders_.insert(folders_.end(), folders.begin(), folders.end());
}

void PathSearch::addSearchPath(const wchar_t* folder) { folders_.emplace_back(folder ? folder : L""); }

void PathSearch::addSearchPath(const std::wstring& folder) { folders_.push_back(folder); }

bool PathSearch::findFilePath(const std::wstring& fileName, std::wstring& folder) {
    LOG_AT(ETWLogging::kSeverityNormal, L"Entering findFilePath for file %ls", fileName.c_str());
    for (const std::wstring& candidate : folders_) {
        // A relative folder, or one with a macro left in it, would name a file relative to the working folder or
        // the current drive.
        if (candidate.find(L"$(") != std::wstring::npos || !Basalt::IsAbsolutePath(candidate)) {
            LOG_AT(ETWLogging::kSeverityWarning, L"Skipping search folder %ls: not absolute or a macro left unresolved.",
                   candidate.c_str());
            continue;
        }
        if (!checkIfExists(candidate + L"\\" + fileName)) continue;
        folder = candidate;
        if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
        LOG_AT(ETWLogging::kSeverityNormal, L"File found at path %ls. Returning success.", folder.c_str());
        return true;
    }
    LOG_AT(ETWLogging::kSeverityWarning, L"File not found.");
    return false;
}

bool PathSearch::checkIfExists(const std::wstring& path) {
    LOG_AT(ETWLogging::kSeverityNormal, L"Entering checkIfExists for %ls", path.c_str());
    if (files_->fileExists(path)) {
        LOG_AT(ETWLogging::kSeverityNormal, L"File exists");
        return true;
    }
    LOG_AT(ETWLogging::kSeverityWarning, L"File does not exist.");
    return false;
}

}  // namespace Orvan
