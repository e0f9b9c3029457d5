#pragma once
// Bytes placed at the very end of a read-write page that is followed by a PAGE_NOACCESS page: code that reads or
// writes one byte past them crashes the test at once, instead of passing by whatever the heap holds behind them.
// For tests of code that reads strings and records from hostile data.
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace testsupport {

class GuardedBytes {
public:
    GuardedBytes(const void* data, std::size_t size);
    explicit GuardedBytes(const std::vector<BYTE>& bytes) : GuardedBytes(bytes.data(), bytes.size()) {}
    explicit GuardedBytes(const std::string& bytes) : GuardedBytes(bytes.data(), bytes.size()) {}
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    ~GuardedBytes();

    BYTE* data() const { return data_; }
    std::size_t size() const { return size_; }
    template <class T>
    T* as() const {
        return reinterpret_cast<T*>(data_);
    }

private:
    void* block_ = nullptr;
    BYTE* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace testsupport
