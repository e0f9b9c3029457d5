#pragma once
// The security functions of advapi32.dll, bound by name at run time from the System folder's copy and called
// through guarded wrappers. A table is built for one security operation, loaded, used and destroyed (the module is
// freed with it). Load is true only when all 26 functions were found; a wrapper whose function is missing, or any
// wrapper on a system outside the NT family, returns 0 (FALSE, or 0 for functions that return a code) without
// calling anything. Load is serialised on one table; tables are not shared between threads.
#include <windows.h>
#include <aclapi.h>
#include <winsvc.h>

#include <memory>

#include "foundation/basalt/OSVersion.h"

namespace Basalt {

// Where the table gets its module and its functions; tests hand in their own.
class AdvapiBinder {
public:
    virtual ~AdvapiBinder() = default;
    virtual HMODULE Load();  // advapi32.dll from the System folder
    virtual void* Resolve(HMODULE module, const char* name);
    virtual void Free(HMODULE module);
};

// The functions in the order in which they are resolved.
#define BASALT_ADVAPI_FUNCTIONS(X)                                                                              \
    X(SetEntriesInAclW) X(GetFileSecurityW) X(SetFileSecurityW) X(LookupAccountSidW)                            \
    X(GetExplicitEntriesFromAclW) X(RegGetKeySecurity) X(RegSetKeySecurity) X(InitializeSecurityDescriptor)     \
    X(SetSecurityDescriptorDacl) X(GetSecurityDescriptorDacl) X(AllocateAndInitializeSid) X(FreeSid)            \
    X(OpenThreadToken) X(GetTokenInformation) X(InitializeAcl) X(InitializeSid) X(GetSidSubAuthority)           \
    X(AddAccessAllowedAce) X(GetSecurityInfo) X(SetSecurityInfo) X(QueryServiceStatusEx) X(GetAce) X(DeleteAce) \
    X(EqualSid) X(GetAclInformation) X(SetSecurityDescriptorControl)

class AdvapiTable {
public:
#define BASALT_ADVAPI_INDEX(name) k##name,
    enum Function { BASALT_ADVAPI_FUNCTIONS(BASALT_ADVAPI_INDEX) kFunctionCount };
#undef BASALT_ADVAPI_INDEX
    static const char* const kNames[kFunctionCount];

    AdvapiTable();
    // Empty pointers stand for the system's own loader and version probe.
    AdvapiTable(std::shared_ptr<AdvapiBinder> binder, std::shared_ptr<WinOSVersionAPI> versions);
    AdvapiTable(const AdvapiTable&) = delete;
    AdvapiTable& operator=(const AdvapiTable&) = delete;
    ~AdvapiTable();

    // Loads and resolves once; every call answers whether all functions are present.
    bool Load();
    bool IsNTPlatform() const { return isNT_; }

    // One wrapper per function, with that function's arguments and result.
#define BASALT_ADVAPI_WRAPPER(name)                                   \
    template <class... Args>                                          \
    auto name(Args... args) {                                         \
        return Call<decltype(&::name)>(k##name, args...);             \
    }
    BASALT_ADVAPI_FUNCTIONS(BASALT_ADVAPI_WRAPPER)
#undef BASALT_ADVAPI_WRAPPER

private:
    template <class Fn, class... Args>
    auto Call(Function which, Args... args) -> decltype(std::declval<Fn>()(args...)) {
        auto function = reinterpret_cast<Fn>(functions_[which]);
        if (!function || !isNT_) return {};
        return function(args...);
    }

    std::shared_ptr<AdvapiBinder> binder_;
    HMODULE module_ = nullptr;
    CRITICAL_SECTION lock_;
    bool isNT_ = false;
    void* functions_[kFunctionCount] = {};
};

}  // namespace Basalt
