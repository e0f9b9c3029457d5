// File logger throughput for 100-character messages, against the floor of the same file operations done directly
// (open, seek to the end, write the same bytes, close) on a file of the same folder, in one process.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/BenchHarness.h"
#include "foundation/basalt/FileHelpers.h"
#include "foundation/logging/FileLogger.h"

namespace {

constexpr std::uint64_t kBatch = 1000;
constexpr int kRounds = 15;
constexpr int kWarmups = 2;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The line the logger writes for the message with the default Options and no module: head, tag, message.
std::wstring SameLine(const std::wstring& message) {
    return L"12/10/2026 01:05:09 PM$ -- (Information)$ [file_logger_ben]$ " + message + L"\r\n";
}

void DirectWrite(const std::wstring& path, const std::wstring& line) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER zero{};
    SetFilePointerEx(file, zero, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

int main() {
    ETWLogging::CLogging logger;
    if (logger.open(L"bench", nullptr, nullptr, 0) != 0) return 1;
    const std::wstring message(100, L'm');
    const std::wstring line = SameLine(message);
    // The floor file starts afresh after every 256 KiB, as the logger's ring does.
    const std::wstring floorPath = logger.logFolder() + L"\\floor.log";
    if (!Basalt::CreateFolderPath(logger.logFolder().c_str(), nullptr)) return 1;

    const DWORD perFile = static_cast<DWORD>(0x40000 / (line.size() * sizeof(wchar_t)));
    const auto logBatch = [&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) logger.logString(L"bench.cpp", L"bench", 1, 3, message.c_str());
    };
    std::uint64_t floorLines = 0;
    const auto floorBatch = [&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i, ++floorLines) {
            if (floorLines % perFile == 0) DeleteFileW(floorPath.c_str());
            DirectWrite(floorPath, line);
        }
    };

    // Batches of the two alternate, so that a change in the machine's load touches both alike.
    std::vector<double> loggedNs, floorNs, ratios;
    for (int round = 0; round < kRounds + kWarmups; ++round) {
        const double logged = bench::Measure(logBatch, kBatch, 1, 0).medianNs;
        const double direct = bench::Measure(floorBatch, kBatch, 1, 0).medianNs;
        if (round < kWarmups) continue;
        loggedNs.push_back(logged);
        floorNs.push_back(direct);
        ratios.push_back(logged / direct);
    }
    const double logged = Median(loggedNs), direct = Median(floorNs);
    bench::Report("file logger, one 100-character line", {logged, *std::min_element(loggedNs.begin(), loggedNs.end())});
    bench::Report("floor: open, seek to end, write the same bytes, close",
                  {direct, *std::min_element(floorNs.begin(), floorNs.end())});
    bench::ReportValue("file logger throughput (median)", 1e9 / logged, "lines/s");
    bench::ReportValue("floor throughput (median)", 1e9 / direct, "lines/s");
    bench::ReportValue("file logger / floor (median of paired rounds)", Median(ratios), "x");
    Basalt::RemoveFolderTree(logger.logFolder().c_str());
    return 0;
}
