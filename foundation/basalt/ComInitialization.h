#pragma once
// COM initialised on the calling thread for the life of the object; uninitialised again only when the
// initialisation succeeded (S_FALSE included: it still counts one more use of the apartment).
#include <objbase.h>

namespace Basalt {

class ComInitialization {
public:
    explicit ComInitialization(DWORD model = COINIT_MULTITHREADED) : result_(CoInitializeEx(nullptr, model)) {}
    ~ComInitialization() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;

    HRESULT Result() const { return result_; }

private:
    HRESULT result_ = E_UNEXPECTED;
};

}  // namespace Basalt
