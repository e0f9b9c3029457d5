// Finding, refusing, loading and binding a service library, through fake module and file wrappers.
#include <gtest/gtest.h>

#include <memory>

#include "clients/support/ModuleStatus.h"
#include "clients/support/SharedLibrary.h"
#include "foundation/basalt/ObfuscatedRegKey.h"
#include "tests/clients/support/SupportFakes.h"
#include "tests/support/RecordingLogger.h"
#include "tests/support/ScratchRegistry.h"

namespace {

using orvantest::FakeDlls;
using orvantest::FixedVersion;
using orvantest::ListedFiles;

void* CreateNothing(uint32_t) { return nullptr; }

class SharedLibraryTest : public testsupport::LoggingFixture {
protected:
    void SetUp() override {
        LoggingFixture::SetUp();
        dlls->exports = orvantest::ServiceExports(&CreateNothing);
    }

    std::unique_ptr<Orvan::SharedLibrary> Load(const std::wstring& fileName, std::list<std::wstring> folders,
                                               std::shared_ptr<Basalt::FileVersionInfo> version = nullptr) {
        auto search = std::make_shared<Orvan::PathSearch>(files);
        return std::make_unique<Orvan::SharedLibrary>(Orvan::LibraryLocation{fileName, std::move(folders)},
                                                      std::make_shared<Orvan::DllLoader>(dlls), nullptr, search,
                                                      std::move(version));
    }
    // A block-list entry as the suite writes it: a scrambled string value.
    void Block(const std::wstring& fileName, const wchar_t* name, const wchar_t* data) {
        const std::wstring key = L"SOFTWARE\\Torvex\\Fenwk\\List\\" + fileName;
        registry.Create(HKEY_LOCAL_MACHINE, key);
        Basalt::CObfuscatedRegKey writer;
        ASSERT_EQ(ERROR_SUCCESS, writer.Open(HKEY_LOCAL_MACHINE, key.c_str(), KEY_READ | KEY_WRITE));
        ASSERT_EQ(ERROR_SUCCESS, writer.SetStringValue(name, data));
    }

    std::shared_ptr<FakeDlls> dlls = std::make_shared<FakeDlls>();
    std::shared_ptr<ListedFiles> files = std::make_shared<ListedFiles>(
        std::set<std::wstring>{L"C:\\second\\other.dll", L"C:\\third\\other.dll", L"C:\\second\\Corlune.dll",
                               L"C:\\Second\\Other.DLL"});
    testsupport::ScratchRegistry registry;
};

TEST_F(SharedLibraryTest, FirstFolderThatHoldsTheFileIsLoadedAndBound) {
    const auto library = Load(L"other.dll", {L"C:\\first", L"C:\\second", L"C:\\third"}, std::make_shared<FixedVersion>(L""));
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\second\\other.dll"}), dlls->loaded);
    EXPECT_EQ(reinterpret_cast<void*>(&CreateNothing), reinterpret_cast<void*>(library->getEntryPoints()->CreateObject));
    EXPECT_NE(nullptr, library->getEntryPoints()->GetVersionNum);
}

TEST_F(SharedLibraryTest, DestructionFreesTheModule) {
    Load(L"other.dll", {L"C:\\second"}, std::make_shared<FixedVersion>(L"")).reset();
    EXPECT_EQ(1, dlls->freed);
}

TEST_F(SharedLibraryTest, AnAlreadyLoadedModuleIsSharedWithoutLoadingAgain) {
    dlls->alreadyLoaded = true;
    Load(L"other.dll", {L"C:\\second"}, std::make_shared<FixedVersion>(L""));
    EXPECT_TRUE(dlls->loaded.empty());
}

TEST_F(SharedLibraryTest, FailuresOfTheConstructorThrowAndLeaveNothingLoaded) {
    EXPECT_THROW(Load(L"absent.dll", {L"C:\\second"}), Orvan::ModuleException);
    EXPECT_TRUE(Logged(L"Failed to find valid path for library: absent.dll."));

    dlls->loadSucceeds = false;
    EXPECT_THROW(Load(L"other.dll", {L"C:\\second"}, std::make_shared<FixedVersion>(L"")), Orvan::ModuleException);
    EXPECT_TRUE(Logged(L"Failed to load library: other.dll."));
    EXPECT_TRUE(Logged(L"Failed to load library: other.dll. Throwing ModuleException."));
    EXPECT_EQ(0, dlls->freed);
}

TEST_F(SharedLibraryTest, AMissingExportAloneUnloadsAndThrows) {
    for (const char* missing : {"CreateObject", "ReleaseObject", "GetVersionStr", "GetVersionNum"}) {
        dlls->exports = orvantest::ServiceExports(&CreateNothing);
        dlls->exports.erase(missing);
        const int freedBefore = dlls->freed;
        try {
            Load(L"other.dll", {L"C:\\second"}, std::make_shared<FixedVersion>(L""));
            ADD_FAILURE() << missing;
        } catch (const Orvan::ModuleException& error) {
            EXPECT_STREQ("Failed to import functions from library", error.what());
        }
        EXPECT_EQ(freedBefore + 1, dlls->freed) << missing;
        EXPECT_TRUE(Logged(L"Failed to load " + std::wstring(missing, missing + strlen(missing)) +
                           L" function from library: other.dll."));
    }
}

TEST_F(SharedLibraryTest, BlockListRefusesExactlyTheListedVersion) {
    const struct {
        const wchar_t* name;
        const wchar_t* data;
        bool blocked;
    } cases[] = {
        {L"1.2.3.4", L"1.2.3.4", true},
        {L"1.2.3.4", L"1.2.3.5", false},
        {L"1.2.3.5", L"1.2.3.4", false},
    };
    for (const auto& c : cases) {
        testsupport::ScratchRegistry::Wipe(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Torvex\\Fenwk\\List");
        Block(L"other.dll", c.name, c.data);
        dlls->loaded.clear();
        auto version = std::make_shared<FixedVersion>(L"1.2.3.4");
        if (c.blocked) {
            EXPECT_THROW(Load(L"Other.DLL", {L"C:\\Second"}, version), Orvan::ModuleException);
            EXPECT_TRUE(dlls->loaded.empty());
            EXPECT_TRUE(Logged(L"Blocked library: C:\\Second\\Other.DLL."));
        } else {
            EXPECT_NO_THROW(Load(L"Other.DLL", {L"C:\\Second"}, version)) << c.name << L" " << c.data;
        }
        EXPECT_EQ(L"c:\\second\\other.dll", version->loadedPath);
    }
}

TEST_F(SharedLibraryTest, TheSuitesOwnLibrariesAreNeverVersionBlocked) {
    Block(L"corlune.dll", L"1.2.3.4", L"1.2.3.4");
    Block(L"other.dll", L"1.2.3.4", L"1.2.3.4");
    auto version = std::make_shared<FixedVersion>(L"1.2.3.4");
    const auto library = Load(L"Corlune.dll", {L"C:\\second"}, version);
    for (const wchar_t* name : {L"Corlune.dll", L"CORLUNE.DLL", L"corlune.dll"})
        EXPECT_FALSE(library->isBlockedLibrary(L"C:\\second", name)) << name;
    EXPECT_TRUE(version->loadedPath.empty());
    EXPECT_TRUE(library->isBlockedLibrary(L"C:\\second", L"other.dll")) << "the list itself is read";
}

}  // namespace
