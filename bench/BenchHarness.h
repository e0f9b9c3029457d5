#pragma once
// A small benchmark harness: runs a body a few times to warm up, then times N repetitions of a batch with
// QueryPerformanceCounter and reports the median and the minimum time per operation.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct Figures {
    double medianNs = 0;  // per operation
    double minNs = 0;
};

// body(iterations) performs the operation `iterations` times.
Figures Measure(const std::function<void(std::uint64_t iterations)>& body, std::uint64_t batch,
                int repetitions = 15, int warmups = 3);

// Median and minimum of samples timed by the caller (for operations that need untimed set-up between runs).
Figures Summarize(std::vector<double> samplesNs);
double NowNs();

void Report(const std::string& name, const Figures& figures);
void ReportValue(const std::string& name, double value, const std::string& unit);

}  // namespace bench
