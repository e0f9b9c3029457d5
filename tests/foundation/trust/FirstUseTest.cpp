// The process-wide validation client is made once, by whichever check comes first, even when several threads check
// modules at the same moment. A program of its own: nothing else may have made the client before.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "foundation/trust/ModuleTrust.h"
#include "tests/foundation/trust/TrustTestFiles.h"
#include "tests/foundation/trust/ValidationDouble.h"

namespace {

TEST(ValidationClientFirstUse, ConcurrentFirstChecksMakeOneClient) {
    trusttest::ValidationDouble service;
    service.Install(L"15.5", trusttest::SignedFolder(L"good"));
    service.SetMode(trusttest::ValidationDouble::kVouchAll);
    service.ClearJournal();

    const std::wstring file = trusttest::SignedFile(L"good", L"trust_payload");
    constexpr int kThreads = 8;
    std::vector<DWORD> results(kThreads, 99);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] { results[i] = VerifyModuleTrust(file.c_str()); });
    }
    for (std::thread& t : threads) t.join();

    EXPECT_THAT(results, ::testing::Each(0u));
    const std::vector<std::wstring> journal = service.Journal();
    EXPECT_EQ(std::count(journal.begin(), journal.end(), L"get KqvValidationControl2"), 1);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), L"512 " + file), kThreads);
}

}  // namespace
