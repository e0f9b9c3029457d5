#include "bench/BenchHarness.h"

#include <windows.h>

#include <algorithm>
#include <utility>
#include <cstdio>
#include <vector>

namespace bench {

double NowNs() {
    static const double nsPerTick = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return 1e9 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * nsPerTick;
}

Figures Summarize(std::vector<double> samplesNs) {
    if (samplesNs.empty()) return {};
    std::sort(samplesNs.begin(), samplesNs.end());
    return {samplesNs[samplesNs.size() / 2], samplesNs.front()};
}

Figures Measure(const std::function<void(std::uint64_t)>& body, std::uint64_t batch, int repetitions, int warmups) {
    for (int i = 0; i < warmups; ++i) body(batch);
    std::vector<double> perOp;
    for (int i = 0; i < repetitions; ++i) {
        const double start = NowNs();
        body(batch);
        perOp.push_back((NowNs() - start) / static_cast<double>(batch));
    }
    return Summarize(std::move(perOp));
}

void Report(const std::string& name, const Figures& figures) {
    std::printf("%-58s median %12.1f ns   min %12.1f ns\n", name.c_str(), figures.medianNs, figures.minNs);
    std::fflush(stdout);
}

void ReportValue(const std::string& name, double value, const std::string& unit) {
    std::printf("%-58s %12.2f %s\n", name.c_str(), value, unit.c_str());
    std::fflush(stdout);
}

}  // namespace bench
