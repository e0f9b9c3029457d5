#include "clients/support/PerfTimer.h"

#include <windows.h>

#include "foundation/logging/LogSite.h"

namespace Orvan::internal {

uint64_t unbiasedMilliseconds() {
    ULONGLONG ticks = 0;  // 100 ns units
    QueryUnbiasedInterruptTime(&ticks);
    return ticks / 10000;
}

PerfTimer::PerfTimer(std::wstring name) : start_(unbiasedMilliseconds()), name_(std::move(name)) {}

PerfTimer::~PerfTimer() {
    try {
        stop();
    } catch (...) {
        // A line that cannot be written is not worth ending the process for.
    }
}

void PerfTimer::stop() {
    if (stopped_) return;
    const uint64_t end = unbiasedMilliseconds();
    LOG_AT(ETWLogging::kSeverityNormal, L"M12NPerfTimer|%ls|%lld|%lld|%lld", name_.c_str(),
           static_cast<long long>(start_), static_cast<long long>(end), static_cast<long long>(end - start_));
    stopped_ = true;
}

}  // namespace Orvan::internal
