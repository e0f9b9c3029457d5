#pragma once
// A recording logger and builder for tests of code that logs. The builder hands out one logger (plain or extended)
// and records the arguments of each creation call; it can also refuse or throw. LoggingFixture installs it.
#include <mutex>
#include <string>
#include <vector>

#include "foundation/logging/LogBuilder.h"
#include "tests/support/StubLogger.h"

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

class FakeLogger : public StubLogger {
public:
    explicit FakeLogger(Journal& journal) : journal_(journal) {}
    DWORD registerProvider() override;
    void log(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
             ...) override;
    DWORD logString(const wchar_t* file, const wchar_t* function, DWORD line, DWORD severity,
                    const wchar_t* message) override;

private:
    Journal& journal_;
};

class FakeExtendedLogger : public StubExtendedLogger {
public:
    explicit FakeExtendedLogger(Journal& journal) : journal_(journal) {}
    DWORD registerProvider() override;
    DWORD logText(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line,
                  const wchar_t* message) override;
    DWORD writeEvent(DWORD severity, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* format,
                     va_list args) override;

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

    // Some entry's message is exactly the text.
    bool Logged(const std::wstring& message) {
        std::lock_guard<std::mutex> guard(journal.lock);
        for (const Entry& e : journal.entries)
            if (e.message == message) return true;
        return false;
    }

    Journal journal;
    std::vector<CreationCall> calls;
    FakeBuilder* builder = nullptr;  // owned by the logging library
};

}  // namespace testsupport
