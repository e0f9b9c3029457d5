#pragma once
// Typed lookup of a module's export; null when the module is null or does not export the name.
#include <windows.h>

namespace Basalt {

template <class Function>
Function GetProcAddressAs(HMODULE module, const char* name) {
    if (!module) return nullptr;
    // Through void*: FARPROC and the real signature are unrelated function types.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace Basalt
