#include "tests/welkin/LangMapFixture.h"

#include <shlobj.h>

#include "tests/doubles/PomvekIds.h"
#include "tests/support/CommandJournal.h"
#include "tests/support/LangMapFile.h"
#include "tests/support/WinePaths.h"

namespace langmaptest {

using testsupport::RegView;

void LangMapMachine::SetUp() {
    registry_.SetString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex\\KVR", L"Install Dir", kvr_.Path(), RegView::Wow64);
    wchar_t common[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, SHGFP_TYPE_CURRENT, common));
    const std::wstring platform = std::wstring(common) + L"\\Torvex\\Platform";
    SHCreateDirectoryExW(nullptr, platform.c_str(), nullptr);
    // The selector stays loaded once a lookup has loaded it: copy it only while it is not in the process.
    if (!GetModuleHandleW((platform + L"\\Pomvek.dll").c_str())) {
        ASSERT_TRUE(CopyFileW(testsupport::WindowsPathOf(POMVEK_DLL).c_str(), (platform + L"\\Pomvek.dll").c_str(),
                              FALSE))
            << GetLastError();
    }
    kvr_.Write(L"nomap\\placeholder", "");
    ASSERT_TRUE(CopyFileW(testsupport::WindowsPathOf(POMVEK_NOMAP_DLL).c_str(), NoMapSelector().c_str(), FALSE));
    journal_ = kvr_.File(L"selector.txt");
    registry_.SetString(HKEY_LOCAL_MACHINE, doubles::kPomvekDoubleKey, L"Journal", journal_, RegView::Wow64);
}

void LangMapMachine::TearDown() {
    testsupport::ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, doubles::kPomvekDoubleKey, RegView::Wow64);
    testsupport::ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex", RegView::Wow64);
}

std::wstring LangMapMachine::WriteMap(const wchar_t* fileName, const std::string& xml) const {
    return WriteRaw(fileName, testsupport::EncipheredLangMap(xml));
}

std::wstring LangMapMachine::WriteRaw(const wchar_t* fileName, const std::string& bytes) const {
    return kvr_.Write(fileName, bytes);
}

void LangMapMachine::SetSelector(const wchar_t* name, DWORD value) {
    registry_.SetDword(HKEY_LOCAL_MACHINE, doubles::kPomvekDoubleKey, name, value, RegView::Wow64);
}

void LangMapMachine::DisableSelectorJournal() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, doubles::kPomvekDoubleKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == 0) {
        RegDeleteValueW(key, L"Journal");
        RegCloseKey(key);
    }
}

std::vector<std::string> LangMapMachine::SelectorCalls() const { return testsupport::ReadJournalLines(journal_); }

std::string MapXml(const std::string& inner) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><packageinfo buildkey=\"BK-1\"><packagedetails>" + inner +
           "</packagedetails></packageinfo>";
}

}  // namespace langmaptest
