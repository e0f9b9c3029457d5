// quillon.exe's compiled event manifest, read back from the built program: the provider, its task and opcodes,
// every event with its fields in order, and the message texts, through our own reader and through the system's
// message lookup.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "EventManifestReader.h"
#include "foundation/basalt/OwnedHandle.h"
#include "tests/support/WinePaths.h"

using quillontest::CompiledManifest;
using quillontest::ReadCompiledManifest;
using quillontest::ReadMessageTable;

namespace {

constexpr BYTE kString = 0x01, kInt32 = 0x07, kUInt32 = 0x08, kUInt64 = 0x0A, kDouble = 0x0C, kBoolean = 0x0D,
               kPointer = 0x10, kHexInt64 = 0x13;
constexpr BYTE kInfo = 0, kStart = 1, kStop = 2;

struct Field {
    const wchar_t* name;
    BYTE in, out;
};
const Field Text(const wchar_t* name) { return {name, kString, kString}; }
const Field Pointer(const wchar_t* name) { return {name, kPointer, kHexInt64}; }
const Field Hex64(const wchar_t* name) { return {name, kUInt64, kHexInt64}; }
const Field U32(const wchar_t* name) { return {name, kUInt32, kUInt32}; }
const Field Bool(const wchar_t* name) { return {name, kBoolean, kBoolean}; }

struct Event {
    USHORT id;
    const wchar_t* name;
    BYTE opcode;
    std::vector<Field> fields;
};

const std::vector<Event>& ExpectedEvents() {
    static const std::vector<Event> events = {
        {0, L"EvtOnTimer", kInfo, {Text(L"Id"), Pointer(L"hwnd"), U32(L"uMsg"), Hex64(L"idEvent"), U32(L"dwTime")}},
        {1, L"EvtSetWinEventHook", kStart,
         {Pointer(L"HWINEVENTHOOK"), U32(L"eventMin"), U32(L"eventMax"), Pointer(L"hmodWinEventProc"),
          Pointer(L"lpfnWinEventProc"), U32(L"idProcess"), U32(L"idThread"), {L"dwflags", kInt32, kInt32}}},
        {2, L"EvtSetTimer", kStart, {Text(L"Id"), Hex64(L"nIDEvent"), U32(L"uElapse"), Pointer(L"lpTimerFunc")}},
        {3, L"EvtKillTimer", kStop, {Text(L"Id"), Hex64(L"uIDEvent")}},
        {4, L"EvtOnWinEvent", kInfo,
         {Pointer(L"hWinEventHook"), U32(L"event"), Pointer(L"hwnd"), U32(L"idObject"), U32(L"idChild"),
          U32(L"dwEventThread"), U32(L"dwmsEventTime")}},
        {5, L"EvtUnhookWinEvent", kStop, {Pointer(L"hWinEventHook")}},
        {6, L"EvtState", kInfo,
         {Bool(L"DesktopSwitchEventDetected"), Bool(L"SystemIdleDetected"), Bool(L"MinimumDelayPeriodPassed")}},
        {7, L"EvtIsCurrentDesktopInteractive", kInfo, {{L"io", kDouble, kDouble}}},
        {8, L"EvtIdleDetectInit", kStart, {U32(L"memoryMBytes"), U32(L"idleTimeCPU"), U32(L"idleTimeDisk")}},
        {9, L"EvtIdleDetectDeinit", kStop, {}},
        {10, L"EvtIsIdle", kInfo,
         {U32(L"memoryMBytes"), U32(L"idleTimeCPU"), U32(L"idleTimeDisk"), Bool(L"isIdle")}},
        {11, L"EvtIdleDetectInitEx", kStart,
         {U32(L"memoryMBytes"), U32(L"idleTimeCPU"), U32(L"idleTimeDisk"), U32(L"idleCountRequired"),
          U32(L"physicalDiskCount")}},
    };
    return events;
}

const wchar_t* const kOpcodeNames[] = {L"win:Info", L"win:Start", L"win:Stop"};
const wchar_t* const kOpcodeTexts[] = {L"Info", L"Start", L"Stop"};
constexpr GUID kProvider = {0xE68F1ACA, 0xB449, 0x42BB, {0x9C, 0x0E, 0xFC, 0xF0, 0xF2, 0xEF, 0xF8, 0xB3}};
constexpr GUID kTaskGuid = {0x32A89D7B, 0xE360, 0x4266, {0xA8, 0x2F, 0x39, 0x78, 0x3B, 0x2E, 0x54, 0x9F}};

class CompiledManifestTest : public ::testing::Test {
protected:
    void SetUp() override {
        program.Reset(LoadLibraryExW(testsupport::WindowsPathOf(QUILLON_EXE).c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(program) << GetLastError();
        wevt = quillontest::ResourceBytes(program.Get(), L"WEVT_TEMPLATE", 1);
        messages = quillontest::ResourceBytes(program.Get(), RT_MESSAGETABLE, 1);
        ASSERT_FALSE(wevt.empty());
        ASSERT_FALSE(messages.empty());
    }
    Basalt::LoadedModule program;
    std::vector<BYTE> wevt, messages;
};

TEST_F(CompiledManifestTest, DescribesEveryEventByNameTaskOpcodeAndFields) {
    const CompiledManifest manifest = ReadCompiledManifest(wevt);
    const auto texts = ReadMessageTable(messages);
    EXPECT_TRUE(IsEqualGUID(manifest.provider, kProvider));
    EXPECT_EQ(manifest.providerMessage, 0xFFFFFFFFu);
    ASSERT_EQ(manifest.tasks.size(), 1u);
    EXPECT_EQ(manifest.tasks[0].value, 1u);
    EXPECT_EQ(manifest.tasks[0].name, L"Quillon");
    EXPECT_TRUE(IsEqualGUID(manifest.tasks[0].guid, kTaskGuid));
    ASSERT_EQ(manifest.opcodes.size(), 3u);
    for (BYTE value = 0; value < 3; ++value) {
        EXPECT_EQ(manifest.opcodes[value].value, value);
        EXPECT_EQ(manifest.opcodes[value].task, 0) << "standard opcodes are global";
        EXPECT_EQ(manifest.opcodes[value].name, kOpcodeNames[value]);
        EXPECT_EQ(manifest.opcodes[value].message, 0x30000000u + value);
        EXPECT_EQ(texts.at(0x30000000u + value), kOpcodeTexts[value]);
    }

    ASSERT_EQ(manifest.events.size(), ExpectedEvents().size());
    for (size_t i = 0; i < manifest.events.size(); ++i) {
        const auto& got = manifest.events[i];
        const auto& want = ExpectedEvents()[i];
        SCOPED_TRACE(testing::Message() << "event " << want.id);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.version, 0);
        EXPECT_EQ(got.channel, 0);
        EXPECT_EQ(got.level, 0);
        EXPECT_EQ(got.keywords, 0u);
        EXPECT_EQ(got.task, 1);
        EXPECT_EQ(got.taskDefinition.name, L"Quillon");
        EXPECT_EQ(got.opcode, want.opcode);
        EXPECT_EQ(got.opcodeDefinition.name, kOpcodeNames[want.opcode]);
        EXPECT_EQ(got.message, 0xB0000000u + want.id);
        ASSERT_TRUE(texts.count(got.message));
        EXPECT_EQ(texts.at(got.message), want.name);
        EXPECT_EQ(got.hasTemplate, !want.fields.empty());
        ASSERT_EQ(got.fields.size(), want.fields.size());
        for (size_t f = 0; f < want.fields.size(); ++f) {
            EXPECT_EQ(got.fields[f].name, want.fields[f].name);
            EXPECT_EQ(got.fields[f].xmlName, want.fields[f].name);
            EXPECT_EQ(got.fields[f].substitution, static_cast<int>(f));
            EXPECT_EQ(got.fields[f].inType, want.fields[f].in) << f;
            EXPECT_EQ(got.fields[f].substitutionType, want.fields[f].in) << f;
            EXPECT_EQ(got.fields[f].outType, want.fields[f].out) << f;
        }
    }
}

TEST_F(CompiledManifestTest, MessageTableHoldsExactlyTheIdsThePayloadUses) {
    const CompiledManifest manifest = ReadCompiledManifest(wevt);
    std::map<DWORD, std::wstring> used;
    for (const auto& opcode : manifest.opcodes) used[opcode.message] = opcode.name.substr(4);
    for (const auto& event : manifest.events) used[event.message] = ExpectedEvents()[event.id].name;
    EXPECT_EQ(ReadMessageTable(messages), used);
}

TEST_F(CompiledManifestTest, MessageTextsReadBackThroughTheSystemLookup) {
    std::vector<std::pair<DWORD, std::wstring>> ids;
    for (BYTE value = 0; value < 3; ++value) ids.emplace_back(0x30000000u + value, kOpcodeTexts[value]);
    for (const auto& event : ExpectedEvents()) ids.emplace_back(0xB0000000u + event.id, event.name);
    for (const auto& [id, text] : ids) {
        wchar_t buffer[128] = {};
        const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                            program.Get(), id, 0, buffer, 128, nullptr);
        EXPECT_EQ(std::wstring(buffer, length), text) << std::hex << id << " error " << std::dec << GetLastError();
    }
}

TEST_F(CompiledManifestTest, TheReaderRefusesEveryCutOfThePayload) {
    // Proves the reader's bounds checks: a shortened payload whose header claims the shorter size never reads as
    // a manifest.
    for (size_t length = 8; length < wevt.size(); ++length) {
        std::vector<BYTE> cut(wevt.begin(), wevt.begin() + length);
        const DWORD claimed = static_cast<DWORD>(length);
        memcpy(cut.data() + 4, &claimed, sizeof claimed);
        EXPECT_THROW(ReadCompiledManifest(cut), std::runtime_error) << length;
    }
}

}  // namespace
