#include "welkin/AdvapiFunctions.h"

CAdvapiFunctions::CAdvapiFunctions(std::shared_ptr<Basalt::AdvapiBinder> binder)
    : binder_(binder ? std::move(binder) : std::make_shared<Basalt::AdvapiBinder>()) {
    InitializeCriticalSection(&lock_);
}

CAdvapiFunctions::~CAdvapiFunctions() {
    if (module_) binder_->Free(module_);
    DeleteCriticalSection(&lock_);
}

bool CAdvapiFunctions::Load() {
    EnterCriticalSection(&lock_);
    if (!module_) {
        module_ = binder_->Load();
        if (module_) {
            bool complete = true;
#define WELKIN_ADVAPI_BIND(name)                                                                          \
    name = reinterpret_cast<decltype(name)>(binder_->Resolve(module_, Basalt::AdvapiTable::kNames[Basalt::AdvapiTable::k##name])); \
    complete = complete && name != nullptr;
            BASALT_ADVAPI_FUNCTIONS(WELKIN_ADVAPI_BIND)
#undef WELKIN_ADVAPI_BIND
            loaded_ = complete;
        }
    }
    const bool loaded = loaded_;
    LeaveCriticalSection(&lock_);
    return loaded;
}
