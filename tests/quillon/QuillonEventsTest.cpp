// The provider's registration, the enable callback, and the writers' descriptors and field layouts, also against
// the manifest compiled into quillon.exe.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "EventManifestReader.h"
#include "QuillonFakes.h"
#include "foundation/basalt/OwnedHandle.h"
#include "quillon/QuillonEvents.h"
#include "tests/support/WinePaths.h"

using quillontest::FakeEvents;
using quillontest::ReadCompiledManifest;
using quillontest::ResourceBytes;
using ::testing::ElementsAreArray;

namespace {

void CALLBACK SomeTimerProc(HWND, UINT, UINT_PTR, DWORD) {}
void CALLBACK SomeWinEventProc(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) {}

template <class T>
std::vector<BYTE> Bytes(const T& value) {
    std::vector<BYTE> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

// Bytes of a scalar manifest in-type on x64.
size_t NaturalSize(BYTE inType) {
    switch (inType) {
    case 0x07: case 0x08: case 0x0D: return 4;  // Int32, UInt32, Boolean
    case 0x0A: case 0x0C: case 0x10: return 8;  // UInt64, Double, Pointer
    default: return 0;
    }
}

std::vector<BYTE> Text(const wchar_t* text) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text);
    return std::vector<BYTE>(bytes, bytes + (wcslen(text) + 1) * sizeof(wchar_t));
}

class ProviderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(EtwRegisterProvider(events), 0u); }
    void TearDown() override { EtwUnregisterProvider(); }
    void Enable() { EtwEnableCallback(nullptr, 1, 4, 0x10, 0x20, nullptr, events.context); }
    FakeEvents events;
};

TEST_F(ProviderTest, WithoutASessionNothingIsWritten) {
    EvtState(TRUE, FALSE, TRUE);
    EvtIdleDetectDeinit();
    EXPECT_FALSE(EtwEventsEnabled());
    EXPECT_TRUE(events.written.empty());
}

TEST_F(ProviderTest, RegistersOnceUnderItsGuid) {
    EXPECT_EQ(EtwRegisterProvider(events), 0u);
    EXPECT_EQ(events.registrations, 1);
    EXPECT_EQ(events.callback, &EtwEnableCallback);
    const GUID expected = {0xE68F1ACA, 0xB449, 0x42BB, {0x9C, 0x0E, 0xFC, 0xF0, 0xF2, 0xEF, 0xF8, 0xB3}};
    EXPECT_TRUE(IsEqualGUID(events.provider, expected));
    EtwUnregisterProvider();
    EtwUnregisterProvider();
    EXPECT_EQ(events.unregistrations, 1);
}

TEST_F(ProviderTest, EnableAndDisableKeepTheSessionsChoice) {
    auto* context = static_cast<EtwEnableContext*>(events.context);
    ASSERT_NE(context, nullptr);
    Enable();
    EXPECT_TRUE(context->enabled);
    EXPECT_EQ(context->level, 4);
    EXPECT_EQ(context->matchAnyKeyword, 0x10u);
    EXPECT_EQ(context->matchAllKeyword, 0x20u);
    EXPECT_TRUE(EtwEventsEnabled());
    // Capture-state requests and a null context change nothing.
    EtwEnableCallback(nullptr, 2, 0, 0, 0, nullptr, context);
    EtwEnableCallback(nullptr, 0, 0, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(EtwEventsEnabled());

    EtwEnableCallback(nullptr, 0, 0, 0, 0, nullptr, context);
    EXPECT_FALSE(context->enabled);
    EXPECT_EQ(context->level, 0);
    EXPECT_EQ(context->matchAnyKeyword, 0u);
    EXPECT_FALSE(EtwEventsEnabled());
    EvtIdleDetectDeinit();
    EXPECT_TRUE(events.written.empty());
}

// One call of each writer that is ever called, with the descriptor and field bytes it must write.
struct WriterCase {
    USHORT id;
    UCHAR opcode;
    std::function<void()> write;
    std::vector<std::vector<BYTE>> fields;
};

std::vector<WriterCase> WriterCases() {
    const HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1122334455667788ull));
    const HWINEVENTHOOK hook = reinterpret_cast<HWINEVENTHOOK>(static_cast<UINT_PTR>(0xAB00000000CDull));
    const HMODULE module = reinterpret_cast<HMODULE>(static_cast<UINT_PTR>(0x7FF000000000ull));
    const UINT64 timerProc = reinterpret_cast<UINT_PTR>(&SomeTimerProc);
    const UINT64 winEventProc = reinterpret_cast<UINT_PTR>(&SomeWinEventProc);
    return {
        {0, 0, [=] { EvtOnTimer(L"MaximumDelay", window, WM_TIMER, 0x1234567890ull, 77); },
         {Text(L"MaximumDelay"), Bytes<UINT64>(0x1122334455667788ull), Bytes<DWORD>(WM_TIMER),
          Bytes<UINT64>(0x1234567890ull), Bytes<DWORD>(77)}},
        {1, 1,
         [=] { EvtSetWinEventHook(hook, 0x20, 0x21, module, SomeWinEventProc, 5, 6, -3); },
         {Bytes<UINT64>(0xAB00000000CDull), Bytes<DWORD>(0x20), Bytes<DWORD>(0x21), Bytes<UINT64>(0x7FF000000000ull),
          Bytes(winEventProc), Bytes<DWORD>(5), Bytes<DWORD>(6), Bytes<LONG>(-3)}},
        {2, 1, [=] { EvtSetTimer(L"QueryInterval", 0, 5000, SomeTimerProc); },
         {Text(L"QueryInterval"), Bytes<UINT64>(0), Bytes<DWORD>(5000), Bytes(timerProc)}},
        {3, 2, [=] { EvtKillTimer(nullptr, 9); }, {Text(L"NULL"), Bytes<UINT64>(9)}},
        {4, 0, [=] { EvtOnWinEvent(hook, 0x20, window, -4, 1, 42, 1000); },
         {Bytes<UINT64>(0xAB00000000CDull), Bytes<DWORD>(0x20), Bytes<UINT64>(0x1122334455667788ull),
          Bytes<LONG>(-4), Bytes<LONG>(1), Bytes<DWORD>(42), Bytes<DWORD>(1000)}},
        {5, 2, [=] { EvtUnhookWinEvent(hook); }, {Bytes<UINT64>(0xAB00000000CDull)}},
        {6, 0, [=] { EvtState(TRUE, FALSE, TRUE); }, {Bytes<BOOL>(1), Bytes<BOOL>(0), Bytes<BOOL>(1)}},
        {7, 0, [=] { EvtIsCurrentDesktopInteractive(1.0); }, {Bytes<double>(1.0)}},
        {9, 2, [=] { EvtIdleDetectDeinit(); }, {}},
        {10, 0, [=] { EvtIsIdle(300, 90, 70, TRUE); },
         {Bytes<DWORD>(300), Bytes<DWORD>(90), Bytes<DWORD>(70), Bytes<BOOL>(1)}},
        {11, 1, [=] { EvtIdleDetectInitEx(256, 80, 75, 3, 2); },
         {Bytes<DWORD>(256), Bytes<DWORD>(80), Bytes<DWORD>(75), Bytes<DWORD>(3), Bytes<DWORD>(2)}},
    };
}

TEST_F(ProviderTest, EachWriterUsesItsDescriptorAndFieldLayout) {
    Enable();
    for (const auto& c : WriterCases()) {
        events.written.clear();
        c.write();
        ASSERT_EQ(events.written.size(), 1u) << c.id;
        const EVENT_DESCRIPTOR& d = events.written[0].descriptor;
        EXPECT_EQ(d.Id, c.id);
        EXPECT_EQ(d.Opcode, c.opcode) << c.id;
        EXPECT_EQ(d.Version, 0);
        EXPECT_EQ(d.Channel, 0);
        EXPECT_EQ(d.Level, 0);
        EXPECT_EQ(d.Task, 1);
        EXPECT_EQ(d.Keyword, 0u);
        EXPECT_THAT(events.written[0].fields, ElementsAreArray(c.fields)) << c.id;
    }
}

// The code's descriptors, and the fields each writer hands over, agree with the manifest compiled into quillon.exe.
TEST_F(ProviderTest, WritersAgreeWithTheCompiledManifest) {
    const Basalt::LoadedModule program(
        LoadLibraryExW(testsupport::WindowsPathOf(QUILLON_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(program) << GetLastError();
    const auto manifest = ReadCompiledManifest(ResourceBytes(program.Get(), L"WEVT_TEMPLATE", 1));
    ASSERT_EQ(manifest.events.size(), static_cast<size_t>(kQuillonEventCount));
    for (USHORT id = 0; id < kQuillonEventCount; ++id) {
        const auto& event = manifest.events[id];
        const EVENT_DESCRIPTOR& d = kQuillonEventDescriptors[id];
        ASSERT_EQ(event.id, id);
        EXPECT_EQ(d.Id, event.id);
        EXPECT_EQ(d.Version, event.version) << id;
        EXPECT_EQ(d.Channel, event.channel) << id;
        EXPECT_EQ(d.Level, event.level) << id;
        EXPECT_EQ(d.Opcode, event.opcode) << id;
        EXPECT_EQ(d.Task, event.task) << id;
        EXPECT_EQ(d.Keyword, event.keywords) << id;
    }

    Enable();
    for (const auto& c : WriterCases()) {
        events.written.clear();
        c.write();
        ASSERT_EQ(events.written.size(), 1u) << c.id;
        const auto& written = events.written[0].fields;
        const auto& fields = manifest.events[c.id].fields;
        ASSERT_EQ(written.size(), fields.size()) << c.id;
        for (size_t f = 0; f < fields.size(); ++f) {
            SCOPED_TRACE(testing::Message() << "event " << c.id << " field " << f);
            if (fields[f].inType == 0x01) {
                ASSERT_GE(written[f].size(), 2u);
                EXPECT_EQ(written[f].size() % 2, 0u);
                EXPECT_EQ(written[f][written[f].size() - 1], 0);
                EXPECT_EQ(written[f][written[f].size() - 2], 0);
            } else {
                EXPECT_EQ(written[f].size(), NaturalSize(fields[f].inType));
            }
        }
    }
}

}  // namespace
