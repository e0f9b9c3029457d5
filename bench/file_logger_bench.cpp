// File logger throughput for 100-character messages, against the floor of the same file operations done directly
// (open, seek to the end, write the same bytes, close) on a file of the same folder. Both run in one process, one
// after the other, repeatedly, so that the ratio compares like with like.
#include <windows.h>

#include <string>

#include "bench/BenchHarness.h"
#include "foundation/basalt/FileHelpers.h"
#include "foundation/logging/FileLogger.h"

namespace {

constexpr std::uint64_t kBatch = 2000;

// The line the logger writes for the message with the default Options and no module: head, tag, message.
std::wstring SameLine(const std::wstring& message) {
    return L"12/10/2026 01:05:09 PM -- (Information) [file_logger_ben] " + message + L"\r\n";
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

    const bench::Figures logged = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) logger.logString(L"bench.cpp", L"bench", 1, 3, message.c_str());
    }, kBatch);
    const DWORD perFile = static_cast<DWORD>(0x40000 / (line.size() * sizeof(wchar_t)));
    const bench::Figures direct = bench::Measure([&](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) {
            if (i % perFile == 0) DeleteFileW(floorPath.c_str());
            DirectWrite(floorPath, line);
        }
    }, kBatch);

    bench::Report("file logger, one 100-character line", logged);
    bench::Report("floor: open, seek to end, write the same bytes, close", direct);
    bench::ReportValue("file logger throughput (median)", 1e9 / logged.medianNs, "lines/s");
    bench::ReportValue("floor throughput (median)", 1e9 / direct.medianNs, "lines/s");
    bench::ReportValue("file logger / floor (median)", logged.medianNs / direct.medianNs, "x");
    Basalt::RemoveFolderTree(logger.logFolder().c_str());
    return 0;
}
