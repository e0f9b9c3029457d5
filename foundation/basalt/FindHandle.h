#pragma once
// A FindFirstFileW search handle, closed when the object goes away.
#include <windows.h>

namespace Basalt {

class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() {
        if (Valid()) FindClose(handle_);
    }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace Basalt
