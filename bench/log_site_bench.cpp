// Cost of a log site whose severity the logger filters out, and of one that passes to a logger that drops it.
#include "bench/BenchHarness.h"
#include "foundation/logging/LoggerTesting.h"
#include "foundation/logging/LogSite.h"

namespace {

class DroppingLogger : public ETWLogging::CLoggerBase<ETWLogging::CLoggingIf> {
public:
    DWORD open(const wchar_t*, HMODULE, const wchar_t*, DWORD) override { return 0; }
    DWORD registerProvider() override { return 0; }
    void getIdentityName(std::wstring&) override {}
    void getGroupName(std::wstring&) override {}
    DWORD close() override { return 0; }
    void setEnabled(bool) override {}
    bool isEnabled() override { return true; }
    void log(DWORD, const wchar_t*, const wchar_t*, DWORD, const wchar_t*, ...) override {}
    DWORD logString(const wchar_t*, const wchar_t*, DWORD, DWORD, const wchar_t*) override { return 0; }
    bool isSeverityEnabled(DWORD severity) override { return severity >= threshold_; }
    void setMaxEntries(DWORD) override {}
    DWORD getMaxEntries() override { return 0; }
    void setMaxSize(DWORD) override {}
    DWORD getMaxSize() override { return 0; }
};

class Builder : public ETWLogging::CLogBuilderIf {
public:
    bool create(const wchar_t*, HMODULE, const wchar_t*, DWORD, ETWLogging::CLoggingIf*& logger,
                ETWLogging::CConfigReaderIf*) override {
        logger = new DroppingLogger;
        logger->AddRef();
        logger->setSeverity(ETWLogging::kSeverityError);
        return true;
    }
};

void FilteredSite(unsigned value) { LOG_AT(ETWLogging::kSeverityInformation, L"filtered %u", value); }
void PassingSite(unsigned value) { LOG_AT(ETWLogging::kSeverityError, L"passing %u", value); }

}  // namespace

int main() {
    ETWLogging::testing::SetLogBuilder(new Builder);
    bench::Report("log site, severity filtered out", bench::Measure([](std::uint64_t n) {
                      for (std::uint64_t i = 0; i < n; ++i) FilteredSite(static_cast<unsigned>(i));
                  }, 1000000));
    bench::Report("log site, formatted and handed to the logger", bench::Measure([](std::uint64_t n) {
                      for (std::uint64_t i = 0; i < n; ++i) PassingSite(static_cast<unsigned>(i));
                  }, 100000));
    return 0;
}
