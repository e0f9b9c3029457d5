#pragma once
// A recording logger and builder for tests of code that logs. The builder hands out one logger (plain or extended)
// and records the arguments of each creation call; it can also refuse or throw. LoggingFixture installs it.
#include <mutex>
#include <string>
#include <vector>

#include "foundation/logging/LogBuilder.h"

namespace testsupport {

struct Entry {
    std::wstring via;  // "logString", "logText", "log", "writeEvent"
    DWORD severity = 0;
    std::wstring file;
    std::wstring function;
    DWORD line = 0;
    std::wstring message;
};

struct Journal {
    std::mutex lock;
    std::vector<Entry> entries;
    DWORD registerResult = 0;
    int registerCalls = 0;
    void add(Entry e) {
        std::lock_guard<std::mutex> guard(lock);
        entries.push_back(std::move(e));
    }
};

class FakeLogger : public ETWLogging::CLoggerBase<ETWLogging::CLoggingIf> {
public:
    explicit FakeLogger(Journal& journal) : journal_(journal) {}
    DWORD open(const wchar_t*, HMODULE, const wchar_t*, DWORD) override { return 0; }
    DWORD registerProvider() override;
    void getIdentityName(std::wstring&) override {}
    void getGroupName(std::wstring&) override {}
    DWORD close() override { return 0; }
    void setEnabled(bool) override {}
    bool isEnabled() override { return true; }
    void log(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
             ...) override;
    DWORD logString(const wchar_t* file, const wchar_t* function, DWORD line, DWORD severity,
                    const wchar_t* message) override;
    bool isSeverityEnabled(DWORD severity) override { return severity >= threshold_; }
    void setMaxEntries(DWORD) override {}
    DWORD getMaxEntries() override { return 0; }
    void setMaxSize(DWORD) override {}
    DWORD getMaxSize() override { return 0; }

private:
    Journal& journal_;
};

class FakeExtendedLogger : public ETWLogging::CLoggerBase<ETWLogging::CLoggingIf_ex> {
public:
    explicit FakeExtendedLogger(Journal& journal) : journal_(journal) {}
    DWORD open(const wchar_t*, HMODULE, const wchar_t*, DWORD) override { return 0; }
    DWORD registerProvider() override;
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
    DWORD openEx(const wchar_t*, const wchar_t*, HMODULE, const wchar_t*, ETWLogging::CConfigListenerIf*) override {
        return 0;
    }
    DWORD logText(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                  const wchar_t* message) override;
    DWORD writeEvent(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
                     va_list args) override;
    DWORD writeEventSafe(DWORD, const wchar_t*, const wchar_t*, DWORD, const wchar_t*, ...) override { return 0; }
    bool isSessionHandle(ULONG64) override { return false; }
    DWORD onTraceControl(DWORD, void*) override { return 0; }
    void setEventClass() override {}
    void getModuleFileName(std::wstring&, HMODULE, bool) override {}
    void buildIdentityName() override {}
    DWORD unregisterProvider() override { return 0; }
    DWORD shutdown() override { return 0; }
    DWORD mapSeverity(DWORD severity) override { return severity; }
    void fillEventHeader(const wchar_t*, const wchar_t*, DWORD, ETWLogging::EventRecord&) override {}

private:
    Journal& journal_;
};

struct CreationCall {
    bool withConfig = false;
    const wchar_t* applicationName = nullptr;
    std::wstring group;
    bool groupNull = false;
    HMODULE module = nullptr;
    std::wstring host;
    bool hostNull = false;
    DWORD mechanism = 0;
};

// The builder the tests install; it owns nothing but refers to the test's journal.
class FakeBuilder : public ETWLogging::CLogBuilderIf_ex {
public:
    enum class Kind { Plain, Extended };
    FakeBuilder(Journal& journal, std::vector<CreationCall>& calls) : journal_(journal), calls_(calls) {}

    Kind kind = Kind::Plain;
    bool acceptWithConfig = true;
    bool acceptCreate = true;
    int throwsLeft = 0;

    bool create(const wchar_t* group, HMODULE module, const wchar_t* host, DWORD mechanism,
                ETWLogging::CLoggingIf*& logger, ETWLogging::CConfigReaderIf* reader) override;
    bool createWithConfig(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                          DWORD mechanism, ETWLogging::CLoggingIf*& logger,
                          ETWLogging::CConfigReaderIf* reader) override;

private:
    bool make(bool accept, ETWLogging::CLoggingIf*& logger);
    Journal& journal_;
    std::vector<CreationCall>& calls_;
};

}  // namespace testsupport

#include <gtest/gtest.h>

#include "foundation/logging/LoggerTesting.h"

namespace testsupport {

// Each test starts with no logger and a fresh recording builder; the logger is created by the first log call.
class LoggingFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ETWLogging::testing::ResetLoggerForTesting();
        calls.clear();
        journal.entries.clear();
        builder = new FakeBuilder(journal, calls);
        ETWLogging::testing::SetLogBuilder(builder);
    }
    void TearDown() override { ETWLogging::testing::ResetLoggerForTesting(); }

    Journal journal;
    std::vector<CreationCall> calls;
    FakeBuilder* builder = nullptr;  // owned by the logging library
};

}  // namespace testsupport
