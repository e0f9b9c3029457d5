// Cost of a log site whose severity the logger filters out, and of one that passes to a logger that drops it.
#include "bench/BenchHarness.h"
#include "foundation/logging/LoggerTesting.h"
#include "foundation/logging/LogSite.h"
#include "tests/support/StubLogger.h"

namespace {

class Builder : public ETWLogging::CLogBuilderIf {
public:
    bool create(const wchar_t*, HMODULE, const wchar_t*, DWORD, ETWLogging::CLoggingIf*& logger,
                ETWLogging::CConfigReaderIf*) override {
        logger = new testsupport::StubLogger;
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
