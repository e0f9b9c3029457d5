// Throughput of a registry record round trip: encode then decode a 1 KiB payload.
#include "bench/BenchHarness.h"
#include "foundation/basalt/RegistryRecord.h"

#include <vector>

int main() {
    constexpr DWORD kPayload = 1024;
    std::vector<BYTE> payload(kPayload), decoded(kPayload), record(kPayload + Basalt::kRecordHeaderSize);
    for (DWORD k = 0; k < kPayload; ++k) payload[k] = static_cast<BYTE>(k * 31);
    DWORD failures = 0;
    const bench::Figures figures = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) {
            failures += EncodeRegRecord(payload.data(), kPayload, REG_BINARY, record.data(),
                                        static_cast<DWORD>(record.size()));
            DWORD size = kPayload;
            failures += DecodeRegRecord(record.data(), static_cast<DWORD>(record.size()), nullptr, decoded.data(),
                                        &size);
        }
    }, 2000);
    bench::Report("registry record 1 KiB, encode + decode", figures);
    // 1 KiB of payload per round trip; each direction runs over it once.
    bench::ReportValue("payload per round trip (median)", kPayload / figures.medianNs * 1e3, "MB/s");
    bench::ReportValue("bytes through encoder and decoder (median)", 2 * kPayload / figures.medianNs * 1e3, "MB/s");
    return failures == 0 && decoded == payload ? 0 : 1;
}
