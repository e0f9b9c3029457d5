#pragma once
// The registry writer's own table of advapi32 security functions, bound by name at run time from the System
// folder's copy: the same names and signatures as Basalt::AdvapiTable, called directly through their pointers (a
// missing one stays null). One table per repair: built, loaded once, used and destroyed (the module goes with it).
#include <windows.h>
#include <aclapi.h>
#include <winsvc.h>

#include <memory>

#include "foundation/basalt/AdvapiTable.h"
#include "foundation/basalt/RegKeySecurityWalk.h"

class CAdvapiFunctions {
public:
    // An empty binder stands for the system's own loader.
    explicit CAdvapiFunctions(std::shared_ptr<Basalt::AdvapiBinder> binder = nullptr);
    CAdvapiFunctions(const CAdvapiFunctions&) = delete;
    CAdvapiFunctions& operator=(const CAdvapiFunctions&) = delete;
    ~CAdvapiFunctions();

    // Loads the module and binds every function, once; true when all of them are bound.
    bool Load();
    // The setter for the key walk; loaded only when Load found everything.
    KeySecurityFunctions KeySecurity() const { return {RegSetKeySecurity, loaded_}; }

#define WELKIN_ADVAPI_POINTER(name) decltype(&::name) name = nullptr;
    BASALT_ADVAPI_FUNCTIONS(WELKIN_ADVAPI_POINTER)
#undef WELKIN_ADVAPI_POINTER

private:
    std::shared_ptr<Basalt::AdvapiBinder> binder_;
    HMODULE module_ = nullptr;
    CRITICAL_SECTION lock_;
    bool loaded_ = false;
};
