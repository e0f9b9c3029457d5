#include "foundation/basalt/AdvapiTable.h"

#include "foundation/basalt/ProcAddress.h"
#include "foundation/basalt/SystemLibrary.h"

namespace Basalt {

HMODULE AdvapiBinder::Load() { return LoadSystemLibrary(L"advapi32.dll"); }

void* AdvapiBinder::Resolve(HMODULE module, const char* name) { return GetProcAddressAs<void*>(module, name); }

void AdvapiBinder::Free(HMODULE module) { FreeLibrary(module); }

#define BASALT_ADVAPI_NAME(name) #name,
const char* const AdvapiTable::kNames[kFunctionCount] = {BASALT_ADVAPI_FUNCTIONS(BASALT_ADVAPI_NAME)};
#undef BASALT_ADVAPI_NAME

AdvapiTable::AdvapiTable() : AdvapiTable(nullptr, nullptr) {}

AdvapiTable::AdvapiTable(std::shared_ptr<AdvapiBinder> binder, std::shared_ptr<WinOSVersionAPI> versions)
    : binder_(binder ? std::move(binder) : std::make_shared<AdvapiBinder>()) {
    InitializeCriticalSectionAndSpinCount(&lock_, 4000);
    isNT_ = internal::OSInfoProxy(std::move(versions)).isNTPlatform();
}

AdvapiTable::~AdvapiTable() {
    DeleteCriticalSection(&lock_);
    if (module_) binder_->Free(module_);
}

bool AdvapiTable::Load() {
    EnterCriticalSection(&lock_);
    if (!module_) {
        module_ = binder_->Load();
        if (module_)
            for (int i = 0; i < kFunctionCount; ++i) functions_[i] = binder_->Resolve(module_, kNames[i]);
    }
    bool complete = module_ != nullptr;
    for (void* function : functions_) complete = complete && function != nullptr;
    LeaveCriticalSection(&lock_);
    return complete;
}

}  // namespace Basalt
