// The UserMode command walk in-process, against the registry of this test's own prefix and the command double: a
// command's values are read as they are stored, plain or as records; a REG_BINARY value that is no sound record holds
// its command.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/basalt/RegValueCodec.h"
#include "tests/support/CommandJournal.h"
#include "tests/support/ScrambledRecord.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WinePaths.h"
#include "welkin/welkinmodule.h"

namespace {

using testsupport::ScratchRegistry;

constexpr wchar_t kUserMode[] = L"Software\\Torvex\\Halvard\\Oem\\Manage\\UserMode";
constexpr wchar_t kCommand[] = L"Software\\Torvex\\Halvard\\Oem\\Manage\\UserMode\\cmd";
constexpr wchar_t kHalvardOem[] = L"Software\\Torvex\\Halvard\\Oem";
// Exit code 2 keeps the command after its start: what the walk wrote back can be read, and only a start that was
// waited for sees the code.
constexpr wchar_t kArguments[] = L"--exit 2 /ran";

using testsupport::Narrow;

enum class Form {
    Record,
    PlainText,        // REG_SZ
    PlainExpandText,  // REG_EXPAND_SZ
    PlainNumber,      // REG_DWORD
    FlippedRecord,    // one byte of the enciphered payload changed
    CutRecord,        // the last bytes missing
    NoRecord,         // REG_BINARY bytes that were never a record
};

bool IsNumber(const std::wstring& name) { return name == L"bootcount" || name == L"wait"; }

constexpr const wchar_t* kValueNames[] = {L"runcmd", L"bootcount", L"curdir", L"cmdargs", L"wait"};

std::vector<BYTE> Raw(const std::wstring& key, const wchar_t* name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    ScratchRegistry::Read(HKEY_LOCAL_MACHINE, key, name, type, data);
    return data;
}

// Every value of a command as stored.
std::map<std::wstring, std::vector<BYTE>> AllRaw(const std::wstring& key) {
    std::map<std::wstring, std::vector<BYTE>> values;
    for (const wchar_t* name : kValueNames) values[name] = Raw(key, name);
    return values;
}

class UserModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, L"Software\\Torvex");
        SetEnvironmentVariableW(L"WELKIN_COMMAND_JOURNAL", journal_.c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"WELKIN_COMMAND_JOURNAL", nullptr);
        ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, L"Software\\Torvex");
        DeleteFileW(journal_.c_str());
    }

    // One value of the command in the given form; text values are stored with their terminator.
    void Store(const std::wstring& key, const wchar_t* name, Form form, const std::wstring& text, DWORD number) {
        const std::string ansi = Narrow(text);
        const bool isNumber = IsNumber(name);
        const DWORD type = isNumber ? REG_DWORD : REG_SZ;
        std::vector<BYTE> record = isNumber ? testsupport::ScrambledRecord(type, &number, sizeof number)
                                            : testsupport::ScrambledRecord(type, ansi.c_str(),
                                                                           static_cast<DWORD>(ansi.size() + 1));
        switch (form) {
            case Form::Record: break;
            case Form::PlainText: registry_.SetString(HKEY_LOCAL_MACHINE, key, name, text); return;
            case Form::PlainExpandText:
                registry_.SetString(HKEY_LOCAL_MACHINE, key, name, text, testsupport::RegView::Default,
                                    REG_EXPAND_SZ);
                return;
            case Form::PlainNumber: registry_.SetDword(HKEY_LOCAL_MACHINE, key, name, number); return;
            case Form::FlippedRecord: record.back() ^= 0x01; break;
            case Form::CutRecord: record.resize(record.size() - 2); break;
            case Form::NoRecord: record = {0x31, 0x00, 0x00, 0x00}; break;
        }
        registry_.SetBinary(HKEY_LOCAL_MACHINE, key, name, record);
    }

    // A command that runs the command double in `folder_` and is waited for; `form` for the one value named, records
    // for the rest. With a count of 1 the walk writes 0 and starts it at once, so a held command is told from one
    // that was read (also from one whose start failed) by its count.
    void AddCommand(const wchar_t* key, const wchar_t* formOf, Form form, DWORD bootCount = 1) {
        auto formFor = [&](const wchar_t* name) {
            return formOf && std::wstring(formOf) == name ? form : Form::Record;
        };
        Store(key, L"runcmd", formFor(L"runcmd"), command_, 0);
        Store(key, L"bootcount", formFor(L"bootcount"), L"", bootCount);
        Store(key, L"curdir", formFor(L"curdir"), folder_.Path(), 0);
        Store(key, L"cmdargs", formFor(L"cmdargs"), kArguments, 0);
        Store(key, L"wait", formFor(L"wait"), L"", 1);
    }

    std::vector<testsupport::CommandStart> Starts() const { return testsupport::ReadCommandStarts(journal_); }
    // A REG_DWORD record; 99 when it is not one.
    static DWORD DwordRecord(const wchar_t* key, const wchar_t* name) {
        DWORD type = 0, number = 99, size = sizeof number;
        if (QzRegReadValueExW(HKEY_LOCAL_MACHINE, key, name, &type, reinterpret_cast<BYTE*>(&number), &size,
                              kQzRegRecord) != 0 ||
            type != REG_DWORD)
            return 99;
        return number;
    }
    static DWORD CountRecord() { return DwordRecord(kCommand, L"bootcount"); }
    // The run flag, written as 1 after each start attempt; empty when it was never written.
    static std::optional<DWORD> RunFlag() {
        DWORD type = 0;
        std::vector<BYTE> data;
        if (!ScratchRegistry::Read(HKEY_LOCAL_MACHINE, kHalvardOem, L"OEMMgr", type, data)) return std::nullopt;
        return DwordRecord(kHalvardOem, L"OEMMgr");
    }

    ScratchRegistry registry_;
    testsupport::TempFolder folder_;
    const std::wstring journal_ = folder_.File(L"journal.txt");
    const std::wstring command_ = testsupport::WindowsPathOf(COMMAND_DOUBLE_EXE);
};

TEST_F(UserModeTest, ValueStoredPlainIsReadAndOneThatIsNoSoundRecordHoldsTheCommand) {
    struct Case {
        const char* name;
        const wchar_t* value;  // the one value in `form`; the others are records
        Form form;
        bool runs;
    };
    const Case cases[] = {
        {"all records", nullptr, Form::Record, true},
        {"program plain", L"runcmd", Form::PlainText, true},
        {"program plain, expandable", L"runcmd", Form::PlainExpandText, true},
        {"boot count plain", L"bootcount", Form::PlainNumber, true},
        {"working folder plain", L"curdir", Form::PlainText, true},
        {"working folder plain, expandable", L"curdir", Form::PlainExpandText, true},
        {"arguments plain", L"cmdargs", Form::PlainText, true},
        {"wait switch plain", L"wait", Form::PlainNumber, true},
        {"program a flipped record", L"runcmd", Form::FlippedRecord, false},
        {"program a cut record", L"runcmd", Form::CutRecord, false},
        {"program no record", L"runcmd", Form::NoRecord, false},
        {"boot count a flipped record", L"bootcount", Form::FlippedRecord, false},
        {"boot count a cut record", L"bootcount", Form::CutRecord, false},
        {"boot count no record", L"bootcount", Form::NoRecord, false},
        {"working folder a flipped record", L"curdir", Form::FlippedRecord, false},
        {"working folder a cut record", L"curdir", Form::CutRecord, false},
        {"working folder no record", L"curdir", Form::NoRecord, false},
        {"arguments a flipped record", L"cmdargs", Form::FlippedRecord, false},
        {"arguments a cut record", L"cmdargs", Form::CutRecord, false},
        {"arguments no record", L"cmdargs", Form::NoRecord, false},
        {"wait switch a flipped record", L"wait", Form::FlippedRecord, false},
        {"wait switch a cut record", L"wait", Form::CutRecord, false},
        {"wait switch no record", L"wait", Form::NoRecord, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AddCommand(kCommand, c.value, c.form);
        const auto stored = AllRaw(kCommand);

        EXPECT_EQ(-1, CwelkinModule().ApplyUserModeSettings(kUserMode));  // started and asks again, or held
        EXPECT_TRUE(ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, kCommand));
        const auto starts = Starts();
        if (c.runs) {
            EXPECT_EQ(1u, starts.size());  // waited for: the exit code kept it
            for (const auto& start : starts) {
                EXPECT_EQ(" --exit 2 /ran", start.commandLine);
                EXPECT_NE(std::string::npos, start.folder.find(Narrow(folder_.Path().substr(2))));
            }
            EXPECT_EQ(0u, CountRecord());  // written back as a record, also when it was plain
            EXPECT_EQ(1u, RunFlag());
        } else {
            EXPECT_TRUE(starts.empty());
            EXPECT_FALSE(RunFlag().has_value());  // written after every start attempt: none was made
            // Nothing rewritten; the values read only once the command is due come after its count went down.
            auto expected = stored;
            const std::wstring value = c.value;
            if (value == L"curdir" || value == L"cmdargs" || value == L"wait") {
                const DWORD zero = 0;
                expected[L"bootcount"] = testsupport::ScrambledRecord(REG_DWORD, &zero, sizeof zero);
            }
            EXPECT_EQ(expected, AllRaw(kCommand));
        }
        TearDown();
        SetUp();
    }
}

TEST_F(UserModeTest, PlainBootCountIsCountedDownAsARecord) {
    AddCommand(kCommand, L"bootcount", Form::PlainNumber, 2);
    EXPECT_EQ(0, CwelkinModule().ApplyUserModeSettings(kUserMode));
    EXPECT_TRUE(Starts().empty());
    EXPECT_EQ(1u, CountRecord());
}

// The other family's commands are deleted unrun when their program reads, plain or as a record; one whose program
// is no sound record stays, like an empty one.
TEST_F(UserModeTest, OtherFamilysCommandIsDeletedWhenItsProgramReads) {
    struct Case {
        const char* name;
        Form form;
        bool deleted;
    };
    const Case cases[] = {
        {"record", Form::Record, true},
        {"plain", Form::PlainText, true},
        {"plain, expandable", Form::PlainExpandText, true},
        {"a flipped record", Form::FlippedRecord, false},
        {"a cut record", Form::CutRecord, false},
        {"no record", Form::NoRecord, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AddCommand(kCommand, L"runcmd", c.form);
        CwelkinModule().DeleteAlternareUserModeSettings(kUserMode);
        EXPECT_EQ(!c.deleted, ScratchRegistry::KeyExists(HKEY_LOCAL_MACHINE, kCommand));
        EXPECT_TRUE(Starts().empty());
        TearDown();
        SetUp();
    }
}

}  // namespace
