#pragma once
// The machine the language-map readers look at: a KVR install folder of the test's own (HKLM "SOFTWARE\Torvex\KVR"
// "Install Dir") to put maps in, and the language-selector double in the platform folder with its settings.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempFolder.h"

namespace langmaptest {

class LangMapMachine : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a map enciphered as the suite does (or raw bytes) into the KVR install folder; returns its path.
    std::wstring WriteMap(const wchar_t* fileName, const std::string& xml) const;
    std::wstring WriteRaw(const wchar_t* fileName, const std::string& bytes) const;
    const std::wstring& KVRFolder() const { return kvr_.Path(); }
    // A setting of the language-selector double (tests/doubles/PomvekIds.h).
    void SetSelector(const wchar_t* name, DWORD value);
    std::vector<std::string> SelectorCalls() const;
    void DisableSelectorJournal();
    // Where the no-map build of the double was copied (not the platform folder).
    std::wstring NoMapSelector() const { return kvr_.File(L"nomap\\Pomvek.dll"); }

    testsupport::ScratchRegistry registry_;

private:
    testsupport::TempFolder kvr_;
    std::wstring journal_;
};

// The XML of a map with the given termsinfo and languagemapping contents.
std::string MapXml(const std::string& inner);

}  // namespace langmaptest
