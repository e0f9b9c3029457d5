#pragma once
// The loader's own account of the modules mapped into this process while a watch lives (its DLL notifications): a
// module loaded and unloaded again between two looks still shows, for modules no test double journals (the
// platform's). Loads on every thread are seen.
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class ModuleLoadWatch {
public:
    ModuleLoadWatch();
    ~ModuleLoadWatch();
    ModuleLoadWatch(const ModuleLoadWatch&) = delete;
    ModuleLoadWatch& operator=(const ModuleLoadWatch&) = delete;

    bool Registered() const { return cookie_ != nullptr; }
    // The full paths of the modules loaded since the watch began or was last cleared.
    std::vector<std::wstring> Loaded() const;
    // Whether a module of this file name (no folder, any case) was loaded.
    bool SawLoaded(const std::wstring& fileName) const;
    void Clear();

private:
    static void CALLBACK Notified(ULONG reason, const void* data, void* context);

    void* cookie_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<std::wstring> loaded_;
};

}  // namespace testsupport
