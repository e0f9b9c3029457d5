// Cost of log sites through the process's logger: a site whose severity the ETW logger filters out, a site that
// passes and goes out as a trace event (to a recording trace API that keeps nothing), and the same passing site
// through the file logger's road (message formatted and cut, then the file logger's line built) without the file
// write. The two passing roads alternate batch by batch, so that a change in the machine's load touches both alike.
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchHarness.h"
#include "foundation/logging/ETWLogger.h"
#include "foundation/logging/FileLogger.h"
#include "foundation/logging/LoggerTesting.h"
#include "foundation/logging/LogSite.h"
#include "tests/support/RecordingTraceCalls.h"
#include "tests/support/StubLogger.h"

namespace {

constexpr std::uint64_t kBatch = 20000;
constexpr int kRounds = 15;
constexpr int kWarmups = 2;

class ETWBuilder : public ETWLogging::CLogBuilderIf {
public:
    explicit ETWBuilder(std::shared_ptr<testsupport::RecordingTraceCalls> trace) : trace_(std::move(trace)) {}
    bool create(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD, ETWLogging::CLoggingIf*& logger,
                ETWLogging::CConfigReaderIf*) override {
        auto* made = new ETWLogging::CETWLogging(trace_);
        made->open(group, module, host, 0);
        logger = made;
        logger->AddRef();
        return true;
    }

private:
    std::shared_ptr<testsupport::RecordingTraceCalls> trace_;
};

// A plain logger that builds the file logger's line for each message and drops it.
class FileLineLogger : public testsupport::StubLogger {
public:
    FileLineLogger() {
        formatter_.open(L"bench", nullptr, nullptr, 0);
        threshold_ = ETWLogging::kSeverityInformation;
    }
    DWORD logString(const wchar_t* file, const wchar_t* function, DWORD line, DWORD severity,
                    const wchar_t* message) override {
        std::wstring text;
        return formatter_.formatLine(file, function, line, severity, message, text);
    }

private:
    ETWLogging::CLogging formatter_;
};

class FileLineBuilder : public ETWLogging::CLogBuilderIf {
public:
    bool create(const wchar_t*, HMODULE, const wchar_t*, DWORD, ETWLogging::CLoggingIf*& logger,
                ETWLogging::CConfigReaderIf*) override {
        logger = new FileLineLogger;
        logger->AddRef();
        return true;
    }
};

void UseLogger(ETWLogging::CLogBuilderIf* builder) {
    ETWLogging::testing::ResetLoggerForTesting();
    ETWLogging::testing::SetLogBuilder(builder);
    ETWLogging::InitLogging(nullptr, L"bench", nullptr, nullptr, 0);
}

void FilteredSite(unsigned value) { LOG_AT(ETWLogging::kSeverityNormal, L"filtered %u", value); }
void PassingSite(unsigned value) {
    LOG_AT(ETWLogging::kSeverityError, L"RegOpenKeyExW failed for %s with %u", L"SOFTWARE\\Torvex\\Halvard\\Oem",
           value);
}

}  // namespace

int main() {
    auto trace = std::make_shared<testsupport::RecordingTraceCalls>();
    trace->keepEvents = false;

    UseLogger(new ETWBuilder(trace));
    bench::Report("log site, severity filtered out (ETW logger)", bench::Measure([](std::uint64_t n) {
                      for (std::uint64_t i = 0; i < n; ++i) FilteredSite(static_cast<unsigned>(i));
                  }, 1000000));

    const auto passing = [](std::uint64_t n) {
        for (std::uint64_t i = 0; i < n; ++i) PassingSite(static_cast<unsigned>(i));
    };
    std::vector<double> etwNs, fileNs, ratios;
    for (int round = 0; round < kRounds + kWarmups; ++round) {
        UseLogger(new ETWBuilder(trace));
        const double etw = bench::Measure(passing, kBatch, 1, 0).medianNs;
        UseLogger(new FileLineBuilder);
        const double file = bench::Measure(passing, kBatch, 1, 0).medianNs;
        if (round < kWarmups) continue;
        etwNs.push_back(etw);
        fileNs.push_back(file);
        ratios.push_back(etw / file);
    }
    ETWLogging::testing::ResetLoggerForTesting();
    bench::Report("passing site, ETW logger to the trace API", bench::Summarize(etwNs));
    bench::Report("passing site, file logger's line without the write", bench::Summarize(fileNs));
    bench::ReportValue("ETW / file line (median of paired rounds)", bench::Summarize(ratios).medianNs, "x");
    bench::ReportValue("trace events sent", static_cast<double>(trace->eventCount()), "");
    return 0;
}
