#include "foundation/logging/LogSite.h"

#include "tests/support/RecordingLogger.h"

namespace logtest {
using namespace testsupport;

int g_evaluations = 0;
int Evaluated() { return ++g_evaluations; }

// A class of its own so the site's function name has a namespace, a class and a method.
struct SiteProbe {
    static DWORD method(DWORD severity) {
        const DWORD line = __LINE__ + 1;
        LOG_AT(severity, L"value %d of %s", Evaluated(), L"wide");
        return line;
    }
};

template <class T>
struct TemplateProbe {
    void run() { LOG_AT(ETWLogging::kSeverityError, L"t"); }
};

namespace {

using LogSite = LoggingFixture;

TEST_F(LogSite, PassesFileFunctionAndLineOfTheSite) {
    const DWORD line = SiteProbe::method(ETWLogging::kSeverityError);
    ASSERT_EQ(1u, journal.entries.size());
    const Entry& e = journal.entries[0];
    EXPECT_EQ(L"logString", e.via);
    EXPECT_EQ(ETWLogging::kSeverityError, e.severity);
    EXPECT_EQ(L"logtest::SiteProbe::method", e.function);
    EXPECT_EQ(line, e.line);
    EXPECT_EQ(L"tests/foundation/logging/LogSiteTest.cpp", e.file);
    EXPECT_EQ(L"value " + std::to_wstring(g_evaluations) + L" of wide", e.message);
}

TEST_F(LogSite, FilteredSiteEvaluatesNoArgument) {
    ASSERT_NE(nullptr, ETWLogging::GetLogger()->logger);
    ETWLogging::GetLogger()->logger->setSeverity(ETWLogging::kSeverityError);
    const int before = g_evaluations;
    SiteProbe::method(ETWLogging::kSeverityInformation);
    EXPECT_EQ(before, g_evaluations);
    EXPECT_TRUE(journal.entries.empty());
    SiteProbe::method(ETWLogging::kSeverityCritical);
    EXPECT_EQ(before + 1, g_evaluations);
}

TEST_F(LogSite, TemplateArgumentsStayInTheFunctionName) {
    TemplateProbe<int>().run();
    ASSERT_EQ(1u, journal.entries.size());
    EXPECT_EQ(L"logtest::TemplateProbe<T>::run", journal.entries[0].function);
}

TEST_F(LogSite, ExtendedLoggerReceivesTheFormatAndArguments) {
    builder->kind = FakeBuilder::Kind::Extended;
    SiteProbe::method(ETWLogging::kSeverityWarning);
    ASSERT_EQ(1u, journal.entries.size());
    EXPECT_EQ(L"writeEvent", journal.entries[0].via);
    EXPECT_EQ(ETWLogging::kSeverityWarning, journal.entries[0].severity);
}

TEST(SiteFunctionName, KeepsTheQualifiedNameOnly) {
    struct Case {
        const char* pretty;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {"virtual DWORD ETWLogging::CLogging::open(const wchar_t*, HMODULE)", L"ETWLogging::CLogging::open"},
        {"int main()", L"main"},
        {"static void Ns::C::m()", L"Ns::C::m"},
        {"std::map<int, int> Ns::f(std::pair<int, int>)", L"Ns::f"},
        {"const wchar_t* Ns::C<std::pair<int, long> >::get() const", L"Ns::C<std::pair<int, long> >::get"},
        {"void Ns::C::m()::<lambda(int)>", L"Ns::C::m"},
        {"bool Ns::C::operator()(int)", L"Ns::C::operator()"},
        {"bool Ns::operator<(const A&, const A&)", L"Ns::operator<"},
        {"void {anonymous}::Helper::run()", L"{anonymous}::Helper::run"},
        {"", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(std::wstring(c.expected), ETWLogging::internal::SiteFunctionName(c.pretty))
                                    << c.pretty;
}

}  // namespace
}  // namespace logtest
