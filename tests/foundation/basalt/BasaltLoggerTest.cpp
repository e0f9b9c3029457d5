#include "foundation/basalt/BasaltLogger.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/basalt/Format.h"

namespace Basalt {
namespace {

struct Line {
    DWORD level;
    std::wstring file, function;
    DWORD line;
    std::wstring text;
};

class RecordingHandler : public ILoggingHandler {
public:
    void log(DWORD level, const wchar_t* file, const wchar_t* function, DWORD line, const wchar_t* text) override {
        lines.push_back({level, file, function, line, text});
    }
    std::vector<Line> lines;
};

unsigned Low32(const void* pointer) { return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pointer)); }

// Each test starts with no handler registered and leaves none behind.
class BasaltLogger : public ::testing::Test {
protected:
    void SetUp() override { ClearHandler(); }
    void TearDown() override {
        for (RecordingHandler* handler : {&first, &second}) CLogger::UnregisterHandler(handler);
        ClearHandler();
    }
    static void ClearHandler() {
        RecordingHandler sweeper;  // replaces the default handler, then leaves
        CLogger::RegisterHandler(&sweeper);
        CLogger::UnregisterHandler(&sweeper);
    }
    void ExpectOwnError(const Line& line, const wchar_t* function, DWORD code, const std::wstring& rest) {
        EXPECT_EQ(2u, line.level);
        EXPECT_EQ(L"Logging\\internal_logging", line.file);
        EXPECT_EQ(function, line.function);
        EXPECT_EQ(CLogger::SystemMessageText(code) + rest, line.text);
    }
    RecordingHandler first, second;
};

TEST_F(BasaltLogger, MessagesAreFormattedAndHandedToTheHandler) {
    ASSERT_EQ(0u, CLogger::RegisterHandler(&first));
    CLogger::Log(1, L"dir\\file.cpp", L"Ns::Class::method", 42, L"%s=%u %hs", L"wide", 7u, "narrow");
    ASSERT_EQ(1u, first.lines.size());
    EXPECT_EQ(1u, first.lines[0].level);
    EXPECT_EQ(L"dir\\file.cpp", first.lines[0].file);
    EXPECT_EQ(L"Ns::Class::method", first.lines[0].function);
    EXPECT_EQ(42u, first.lines[0].line);
    EXPECT_EQ(L"wide=7 narrow", first.lines[0].text);
}

TEST_F(BasaltLogger, RegistrationRules) {
    // Null is refused and said through the current handler.
    ASSERT_EQ(0u, CLogger::RegisterHandler(&first));
    EXPECT_EQ(87u, CLogger::RegisterHandler(nullptr));
    ASSERT_EQ(1u, first.lines.size());
    ExpectOwnError(first.lines[0], L"Basalt::CLogger::RegisterHandler", 87, L": Cannot Register (NULL) handler");

    // Registering again is fine; another handler is refused and the first one stays.
    EXPECT_EQ(0u, CLogger::RegisterHandler(&first));
    EXPECT_EQ(5023u, CLogger::RegisterHandler(&second));
    ASSERT_EQ(2u, first.lines.size());
    ExpectOwnError(first.lines[1], L"Basalt::CLogger::RegisterHandler", 5023,
                   Format(L": Registered Logging Handler 0x%08X cannot be replaced with 0x%08X", Low32(&first),
                          Low32(&second)));
    CLogger::Log(1, L"f", L"g", 1, L"still first");
    EXPECT_EQ(L"still first", first.lines.back().text);
    EXPECT_TRUE(second.lines.empty());
}

TEST_F(BasaltLogger, TheDefaultHandlerServesUntilReplaced) {
    CLogger::Log(1, L"f", L"g", 1, L"to the debugger");  // registers the default handler
    EXPECT_EQ(0u, CLogger::RegisterHandler(&first));
    CLogger::Log(2, L"f", L"g", 1, L"now here");
    ASSERT_EQ(1u, first.lines.size());
    EXPECT_EQ(L"now here", first.lines[0].text);
}

TEST_F(BasaltLogger, UnregisterRules) {
    EXPECT_EQ(87u, CLogger::UnregisterHandler(nullptr));

    // With none registered the request is refused and nothing becomes registered.
    EXPECT_EQ(5023u, CLogger::UnregisterHandler(&first));
    CLogger::Log(1, L"f", L"g", 1, L"after");
    EXPECT_TRUE(first.lines.empty());
    ClearHandler();
    EXPECT_EQ(0u, CLogger::RegisterHandler(&second));

    // Only the registered handler itself can leave.
    EXPECT_EQ(5023u, CLogger::UnregisterHandler(&first));
    ASSERT_EQ(1u, second.lines.size());
    ExpectOwnError(second.lines[0], L"Basalt::CLogger::UnregisterHandler", 5023,
                   Format(L": Failed to Unregister Logging handler (requested handler 0x%08X != registered handler "
                          L"0x%08X)",
                          Low32(&first), Low32(&second)));
    EXPECT_EQ(0u, CLogger::UnregisterHandler(&second));
    CLogger::Log(1, L"f", L"g", 1, L"gone");
    EXPECT_EQ(1u, second.lines.size());
    EXPECT_EQ(0u, CLogger::RegisterHandler(&first));
}

TEST_F(BasaltLogger, NoneRegisteredRefusalIsSaidWithoutRegisteringTheCaller) {
    EXPECT_EQ(5023u, CLogger::UnregisterHandler(&first));
    EXPECT_TRUE(first.lines.empty());  // the default handler said it
    EXPECT_EQ(0u, CLogger::RegisterHandler(&second));
    EXPECT_EQ(5023u, CLogger::UnregisterHandler(&first));
    ASSERT_EQ(1u, second.lines.size());
}

TEST(BasaltSystemMessageText, KeepsInsertsAndTheTextsOwnLength) {
    for (DWORD code : {2u, 87u, 193u, 5023u, 0x12345678u}) {
        SCOPED_TRACE(code);
        wchar_t expected[1024] = {};
        const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                            0, expected, 1024, nullptr);
        const std::wstring text = CLogger::SystemMessageText(code);
        EXPECT_EQ(std::wstring(expected, length), text);
        EXPECT_EQ(std::wstring::npos, text.find(L'\0'));
    }
}

// Debugger output seen by this process: the system raises it as an exception first.
std::vector<std::wstring> g_debugOutput;
LONG CALLBACK CaptureDebugOutput(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (code == 0x4001000A /* wide */ && info->ExceptionRecord->NumberParameters >= 2) {
        g_debugOutput.emplace_back(reinterpret_cast<const wchar_t*>(info->ExceptionRecord->ExceptionInformation[1]));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (code == 0x40010006 /* narrow */ && info->ExceptionRecord->NumberParameters >= 2) {
        const char* text = reinterpret_cast<const char*>(info->ExceptionRecord->ExceptionInformation[1]);
        g_debugOutput.emplace_back(text, text + strlen(text));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(BasaltDefaultHandler, WritesLevelledLinesAndDropsVerboseOnes) {
    PVOID capture = AddVectoredExceptionHandler(1, CaptureDebugOutput);
    ASSERT_NE(nullptr, capture);
    CDefaultLoggingHandler handler;
    struct Case {
        DWORD level;
        const wchar_t* line;  // null: nothing written
    };
    const Case cases[] = {
        {0, nullptr},
        {1, L"a.cpp(7): [INFO]: [N::C::m]: text\n"},
        {2, L"a.cpp(7): [ERROR]: [N::C::m]: text\n"},
        {9, L"a.cpp(7): [UNKNOWN]: [N::C::m]: text\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        g_debugOutput.clear();
        handler.log(c.level, L"a.cpp", L"N::C::m", 7, L"text");
        if (!c.line) {
            EXPECT_TRUE(g_debugOutput.empty());
        } else {
            ASSERT_FALSE(g_debugOutput.empty());
            EXPECT_EQ(c.line, g_debugOutput.front());
        }
    }
    RemoveVectoredExceptionHandler(capture);
}

}  // namespace
}  // namespace Basalt
