#pragma once
// A scope timer for the logs: it starts when made and, when stopped (by hand or when it goes away, also by an
// exception), writes one severity-1 line "M12NPerfTimer|<name>|<start>|<end>|<elapsed>" in milliseconds of the
// unbiased interrupt-time clock. Only the first stop writes.
#include <cstdint>
#include <string>

namespace Orvan::internal {

// Milliseconds of the unbiased interrupt-time clock (it does not advance while the machine sleeps).
uint64_t unbiasedMilliseconds();

class PerfTimer {
public:
    explicit PerfTimer(std::wstring name);
    PerfTimer(const PerfTimer&) = delete;
    PerfTimer& operator=(const PerfTimer&) = delete;
    ~PerfTimer();

    void stop();

private:
    uint64_t start_;
    std::wstring name_;
    bool stopped_ = false;
};

}  // namespace Orvan::internal
