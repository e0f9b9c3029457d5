// Cost of reading a DWORD stored as a registry record through QzRegReadValueExW, against a plain RegQueryValueExW of
// a plain DWORD in the same key, measured in one run.
#include "bench/BenchHarness.h"
#include "foundation/basalt/RegValueCodec.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const wchar_t* const kPath = L"Software\\WelkinBench\\RegRead";
const char* const kAnsiPath = "Software\\WelkinBench\\RegRead";

bool Prepare() {
    Basalt::RegKeyHolder holder;
    if (holder.Create(HKEY_CURRENT_USER, kAnsiPath, KEY_ALL_ACCESS, nullptr) != ERROR_SUCCESS) return false;
    const DWORD value = 0x12345678;
    const auto* bytes = reinterpret_cast<const BYTE*>(&value);
    return WriteScrambledRegValue(holder, "Record", REG_DWORD, bytes, sizeof value, kQzRegRecord, true) == 0 &&
           WriteScrambledRegValue(holder, "Plain", REG_DWORD, bytes, sizeof value, 0, true) == 0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    if (!Prepare()) {
        std::fprintf(stderr, "cannot write the benchmark key\n");
        return 1;
    }
    DWORD failures = 0;
    const auto readRecord = [&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) {
            DWORD value = 0, size = sizeof value, type = 0;
            failures += QzRegReadValueExW(HKEY_CURRENT_USER, kPath, L"Record", &type,
                                          reinterpret_cast<BYTE*>(&value), &size, kQzRegRecord);
        }
    };
    const auto readPlain = [&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) {
            HKEY key = nullptr;
            failures += static_cast<DWORD>(RegOpenKeyExW(HKEY_CURRENT_USER, kPath, 0, KEY_READ, &key));
            DWORD value = 0, size = sizeof value, type = 0;
            failures += static_cast<DWORD>(
                RegQueryValueExW(key, L"Plain", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size));
            RegCloseKey(key);
        }
    };
    // The two alternate batch by batch, so that a busy machine slows both alike; the ratio is taken per pair.
    constexpr int kPairs = 15;
    constexpr std::uint64_t kBatch = 500;
    std::vector<double> recordNs, plainNs, ratios;
    bench::Measure(readRecord, kBatch, 1, 2);
    bench::Measure(readPlain, kBatch, 1, 2);
    for (int pair = 0; pair < kPairs; ++pair) {
        recordNs.push_back(bench::Measure(readRecord, kBatch, 1, 0).medianNs);
        plainNs.push_back(bench::Measure(readPlain, kBatch, 1, 0).medianNs);
        ratios.push_back(recordNs.back() / plainNs.back());
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\WelkinBench");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\WelkinBench");

    bench::ReportValue("QzRegReadValueExW, record DWORD (open + read + close)", Median(recordNs), "ns (median)");
    bench::ReportValue("RegQueryValueExW, plain DWORD (open + read + close)", Median(plainNs), "ns (median)");
    bench::ReportValue("record read / plain read (median of paired batches)", Median(ratios), "x");
    return failures == 0 ? 0 : 1;
}
