#include "foundation/trust/ModulePath.h"

#include "foundation/basalt/FileHelpers.h"

bool HasFileExtension(const std::wstring& path) {
    const size_t name = path.find_last_of(L"\\/");
    return path.find(L'.', name == std::wstring::npos ? 0 : name + 1) != std::wstring::npos;
}

bool IsExactModulePath(const std::wstring& path) { return Basalt::IsAbsolutePath(path) && HasFileExtension(path); }
