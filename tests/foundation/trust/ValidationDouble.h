#pragma once
// Drives the validation-service double (tests/doubles) and the system-core registry values that lead to it.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/doubles/DoubleIds.h"
#include "tests/support/CommandJournal.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempFolder.h"

namespace trusttest {

inline constexpr wchar_t kDunmoreKey[] = L"Software\\Torvex\\Dunmore";

class ValidationDouble {
public:
    enum Mode : DWORD { kRefuse = 0, kVouchAll = 1, kVouchListed = 2, kVouchSigned = 3 };

    ValidationDouble() {
        registry_.Create(HKEY_LOCAL_MACHINE, doubles::kValidationDoubleKey, testsupport::RegView::Wow64);
        registry_.SetString(HKEY_LOCAL_MACHINE, doubles::kValidationDoubleKey, L"Journal", journal_,
                            testsupport::RegView::Wow64);
    }
    void Set(const wchar_t* name, DWORD value) {
        registry_.SetDword(HKEY_LOCAL_MACHINE, doubles::kValidationDoubleKey, name, value, testsupport::RegView::Wow64);
    }
    void SetMode(Mode mode) { Set(L"Mode", mode); }
    void Vouch(const std::vector<std::wstring>& paths) {
        std::wstring multi;
        for (const std::wstring& p : paths) multi += p + L'\0';
        registry_.SetString(HKEY_LOCAL_MACHINE, doubles::kValidationDoubleKey, L"Paths", multi,
                            testsupport::RegView::Wow64, REG_MULTI_SZ);
        SetMode(kVouchListed);
    }
    // The system-core component: version text and install folder (either may be absent).
    void Install(const wchar_t* versionText, const std::wstring& installDir) {
        registry_.Create(HKEY_LOCAL_MACHINE, kDunmoreKey, testsupport::RegView::Wow64);
        if (versionText)
            registry_.SetString(HKEY_LOCAL_MACHINE, kDunmoreKey, L"dunmore_version", versionText,
                                testsupport::RegView::Wow64);
        if (!installDir.empty())
            registry_.SetString(HKEY_LOCAL_MACHINE, kDunmoreKey, L"szInstallDir64", installDir,
                                testsupport::RegView::Wow64);
    }
    void Uninstall() { testsupport::ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, kDunmoreKey, testsupport::RegView::Wow64); }

    // The requests the double has seen, one line each ("get <name>" or "<flags> <path>"); cleared by ClearJournal.
    std::vector<std::wstring> Journal() const {
        std::vector<std::wstring> lines;
        for (const std::string& line : testsupport::ReadJournalLines(journal_)) {
            std::wstring& wide = lines.emplace_back();
            for (char c : line) wide.push_back(static_cast<unsigned char>(c));
        }
        return lines;
    }
    void ClearJournal() const { DeleteFileW(journal_.c_str()); }

private:
    testsupport::TempFolder folder_;
    std::wstring journal_ = folder_.File(L"journal.txt");
    testsupport::ScratchRegistry registry_;
};

}  // namespace trusttest
