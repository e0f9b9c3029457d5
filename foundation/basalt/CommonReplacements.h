#pragma once
// Expands "$(Name)" macros in a text: the program's own path and its parts, the platform word and the known folders,
// after any macros of the caller's own. A macro that nothing defines, or that defines to an empty text, stays as
// written; an expansion is never searched for macros again. No failure is reported.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "foundation/basalt/OSVersion.h"
#include "foundation/basalt/ShlObjAPI.h"

namespace Basalt {

class CommonReplacements {
public:
    class _Impl;
    // The caller's macros, keyed by the whole macro text ("$(My.Macro)"); looked up before the built-in ones.
    using Table = std::unordered_map<std::wstring, std::function<std::wstring()>>;
    struct Statistics {
        std::uint64_t found = 0;
        std::uint64_t replaced = 0;
    };

    // Empty pointers stand for the system's shell folders and OS facts.
    explicit CommonReplacements(std::shared_ptr<ShlObjAPI> shell = nullptr,
                                std::shared_ptr<internal::OSInfoProxy> osInfo = nullptr);
    virtual ~CommonReplacements();

    // The text is replaced by its expansion; always true.
    virtual bool expand(std::wstring& text, const Table& callerTable);
    virtual bool expand(std::wstring& text);
    // Macros found and macros replaced by the last expand.
    virtual Statistics getStatistics() const;

private:
    std::shared_ptr<_Impl> impl_;
};

class CommonReplacements::_Impl {
public:
    _Impl(std::shared_ptr<ShlObjAPI> shell, std::shared_ptr<internal::OSInfoProxy> osInfo);
    virtual ~_Impl() = default;

    bool expand(std::wstring& text, const Table& callerTable);

    // The built-in expansions. Parts of the program path: 1 drive, 2 folder (with its trailing backslash), 4 file
    // name, 8 extension (with its dot), joined in that order.
    std::wstring programPath(unsigned parts) const;
    std::wstring platformWord() const;
    std::wstring knownFolder(REFKNOWNFOLDERID folder) const;

    std::shared_ptr<ShlObjAPI> shell;
    std::shared_ptr<internal::OSInfoProxy> osInfo;
    Statistics counters;
};

}  // namespace Basalt
