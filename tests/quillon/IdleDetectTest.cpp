// The idle test against scripted counters: disk counting, the eased disk threshold, the opening order and its
// failures, the sample verdicts and the teardown.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "QuillonFakes.h"
#include "quillon/IdleDetect.h"

using quillontest::BusySample;
using quillontest::FakePdh;
using quillontest::IdleSample;
using quillontest::Sample;
using ::testing::ElementsAre;

namespace {

constexpr PDH_STATUS kNegativeDenominator = 0x800007D6;
constexpr PDH_STATUS kNegativeTimebase = 0x800007D7;
constexpr PDH_STATUS kNegativeValue = 0x800007D8;
constexpr PDH_STATUS kInvalidData = 0xC0000BC6;
constexpr PDH_STATUS kNoData = 0x800007D5;

struct DiskCase {
    const char* name;
    std::vector<std::wstring> instances;
    DWORD expected;
};

TEST(PhysicalDiskCount, CountsTheDisksBesideTotal) {
    const DiskCase cases[] = {
        {"one name", {L"_Total"}, 1},
        {"one disk", {L"0 C:", L"_Total"}, 1},
        {"two disks", {L"0 C:", L"1 D:", L"_Total"}, 2},
        {"four disks", {L"0 C:", L"1 D:", L"2 E:", L"3 F:", L"_Total"}, 4},
        {"empty list", {}, 1},
    };
    for (const auto& c : cases) {
        FakePdh pdh;
        pdh.diskInstances = c.instances;
        EXPECT_EQ(GetPhysicalDiskCount(pdh), c.expected) << c.name;
        // Detail level 100 is the novice level; the instance list does not depend on it.
        EXPECT_THAT(pdh.enumDetailLevels, ElementsAre(100u, 100u)) << c.name;
        EXPECT_THAT(pdh.calls, ElementsAre(L"lookup 234", L"enum PhysicalDisk", L"enum PhysicalDisk")) << c.name;
    }
}

TEST(PhysicalDiskCount, FailuresFallBackToOneDisk) {
    struct Case {
        const char* name;
        std::function<void(FakePdh&)> script;
    };
    const Case cases[] = {
        {"object name unknown", [](FakePdh& p) { p.lookupStatus[234] = 0xC0000BB8; }},
        {"sizing call succeeds", [](FakePdh& p) { p.enumSizeStatus = ERROR_SUCCESS; }},
        {"sizing call fails", [](FakePdh& p) { p.enumSizeStatus = 0xC0000BB8; }},
        {"listing fails", [](FakePdh& p) { p.enumStatus = 0xC0000BB8; }},
    };
    for (const auto& c : cases) {
        FakePdh pdh;
        pdh.diskInstances = {L"0 C:", L"1 D:", L"2 E:", L"_Total"};
        c.script(pdh);
        EXPECT_EQ(GetPhysicalDiskCount(pdh), 1u) << c.name;
    }
}

TEST(IdleDetectInit, EasesTheDiskThresholdByTheDiskCount) {
    struct Case {
        DWORD idleTimeDisk;
        std::vector<std::wstring> instances;
        DWORD expected;
    };
    const Case cases[] = {
        {50, {L"0 C:", L"_Total"}, 50},
        {50, {L"0 C:", L"1 D:", L"_Total"}, 75},
        {60, {L"0 C:", L"1 D:", L"2 E:", L"3 F:", L"_Total"}, 90},
        // Above 100 the difference wraps before the division: 100 - 0xFFFFFFCE / 2.
        {150, {L"0 C:", L"1 D:", L"_Total"}, 100u - 0xFFFFFFCEu / 2u},
    };
    for (const auto& c : cases) {
        FakePdh pdh;
        pdh.diskInstances = c.instances;
        IdleDetectContext context{};
        ASSERT_EQ(IdleDetectInit(context, pdh, 256, 80, c.idleTimeDisk, 1), S_OK);
        EXPECT_EQ(context.diskThreshold, c.expected) << c.idleTimeDisk;
        EXPECT_EQ(context.memoryThreshold, 256u);
        EXPECT_EQ(context.processorThreshold, 80u);
        IdleDetectDeinit(context);
    }
}

TEST(IdleDetectInit, AddsTheCountersByIndexThenTakesAFirstSample) {
    FakePdh pdh;
    IdleDetectContext context{};
    ASSERT_EQ(IdleDetectInit(context, pdh, 256, 80, 50, 1), S_OK);
    EXPECT_THAT(pdh.calls,
                ElementsAre(L"lookup 234", L"enum PhysicalDisk", L"enum PhysicalDisk", L"open",
                            L"lookup 4", L"lookup 1382", L"path \\Memory\\Available MBytes",
                            L"add \\Memory\\Available MBytes",
                            L"lookup 238", L"lookup 1746", L"path \\Processor(_Total)\\% Idle Time",
                            L"add \\Processor(_Total)\\% Idle Time",
                            L"lookup 234", L"lookup 1482", L"path \\PhysicalDisk(_Total)\\% Idle Time",
                            L"add \\PhysicalDisk(_Total)\\% Idle Time", L"collect"));
    IdleDetectDeinit(context);
}

TEST(IdleDetectInit, TheFirstFailureEndsTheOpeningAsAnHresultAndLeavesWhatWasOpened) {
    const std::wstring memory = L"\\Memory\\Available MBytes";
    const std::wstring processor = L"\\Processor(_Total)\\% Idle Time";
    struct Case {
        const char* name;
        std::function<void(FakePdh&)> script;
        HRESULT expected;
        std::wstring failingCall;  // the last call: nothing is released after it
        bool queryOpened;
        int countersAdded;
    };
    const Case cases[] = {
        {"query does not open", [](FakePdh& p) { p.openStatus = 0xC0000BBC; }, static_cast<HRESULT>(0xC0000BBC),
         L"open", false, 0},
        {"memory object unknown", [](FakePdh& p) { p.lookupStatus[4] = 0xC0000BB8; },
         static_cast<HRESULT>(0xC0000BB8), L"lookup 4", true, 0},
        {"positive status", [](FakePdh& p) { p.lookupStatus[1382] = ERROR_ACCESS_DENIED; },
         static_cast<HRESULT>(0x80070005), L"lookup 1382", true, 0},
        {"path cannot be made", [](FakePdh& p) { p.makePathStatus = 0xC0000BBD; },
         static_cast<HRESULT>(0xC0000BBD), L"path " + memory, true, 0},
        {"processor counter refused", [&](FakePdh& p) { p.addStatus[processor] = 0xC0000BB9; },
         static_cast<HRESULT>(0xC0000BB9), L"add " + processor, true, 1},
        {"first sample fails", [](FakePdh& p) { p.firstCollect = kNoData; }, static_cast<HRESULT>(kNoData),
         L"collect", true, 3},
    };
    for (const auto& c : cases) {
        FakePdh pdh;
        c.script(pdh);
        IdleDetectContext context{};
        EXPECT_EQ(IdleDetectInit(context, pdh, 256, 80, 50, 1), c.expected) << c.name;
        ASSERT_FALSE(pdh.calls.empty()) << c.name;
        EXPECT_EQ(pdh.calls.back(), c.failingCall) << c.name;
        EXPECT_EQ(pdh.removed, 0) << c.name;
        EXPECT_EQ(pdh.closed, 0) << c.name;
        EXPECT_EQ(context.query != nullptr, c.queryOpened) << c.name;
        EXPECT_EQ(context.memoryCounter != nullptr, c.countersAdded >= 1) << c.name;
        EXPECT_EQ(context.processorCounter != nullptr, c.countersAdded >= 2) << c.name;
        EXPECT_EQ(context.diskCounter != nullptr, c.countersAdded >= 3) << c.name;
    }
}

class IsIdleTest : public ::testing::Test {
protected:
    void Open(DWORD idleCountRequired, std::deque<Sample> samples) {
        pdh.samples = std::move(samples);
        ASSERT_EQ(IdleDetectInit(context, pdh, 256, 80, 50, idleCountRequired), S_OK);
        pdh.calls.clear();
    }
    void TearDown() override { IdleDetectDeinit(context); }

    FakePdh pdh;
    IdleDetectContext context{};
};

TEST_F(IsIdleTest, ABusySampleRestartsTheConsecutiveCount) {
    Open(3, {IdleSample(), IdleSample(), BusySample(), IdleSample(), IdleSample(), IdleSample()});
    std::vector<bool> verdicts;
    for (int i = 0; i < 6; ++i) verdicts.push_back(IsIdle(context));
    EXPECT_THAT(verdicts, ElementsAre(false, false, false, false, false, true));
}

TEST_F(IsIdleTest, NoneRequiredSucceedsOnTheFirstIdleSample) {
    Open(0, {BusySample(), IdleSample()});
    EXPECT_FALSE(IsIdle(context));
    EXPECT_TRUE(IsIdle(context));
}

TEST_F(IsIdleTest, OneCollectionAndThreeReadsPerSample) {
    Open(1, {IdleSample()});
    EXPECT_TRUE(IsIdle(context));
    EXPECT_THAT(pdh.calls, ElementsAre(L"collect", L"read \\Memory\\Available MBytes 33024",
                                       L"read \\Processor(_Total)\\% Idle Time 33024",
                                       L"read \\PhysicalDisk(_Total)\\% Idle Time 33024"));
}

TEST(IsIdle, EachValueMustExceedItsThresholdAsAnUnsignedNumber) {
    struct Case {
        const char* name;
        std::function<void(Sample&)> change;
        bool idle;
    };
    const Case cases[] = {
        {"all above", [](Sample&) {}, true},
        {"memory equal", [](Sample& s) { s.memory.value = 256; }, false},
        {"memory one above", [](Sample& s) { s.memory.value = 257; }, true},
        {"processor equal", [](Sample& s) { s.processor.value = 80; }, false},
        {"disk equal", [](Sample& s) { s.disk.value = 50; }, false},
        {"negative memory reads as a huge number", [](Sample& s) { s.memory.value = -1; }, true},
        {"negative denominator reads 0", [](Sample& s) { s.memory.status = kNegativeDenominator; }, false},
        {"negative time base reads 0", [](Sample& s) { s.processor.status = kNegativeTimebase; }, false},
        {"negative value reads 0", [](Sample& s) { s.disk.status = kNegativeValue; }, false},
    };
    for (const auto& c : cases) {
        Sample sample = IdleSample();
        c.change(sample);
        FakePdh pdh;
        pdh.samples = {sample};
        IdleDetectContext context{};
        ASSERT_EQ(IdleDetectInit(context, pdh, 256, 80, 50, 1), S_OK);
        EXPECT_EQ(IsIdle(context), c.idle) << c.name;
        EXPECT_EQ(context.consecutiveIdleCount, c.idle ? 1u : 0u) << c.name;
        IdleDetectDeinit(context);
    }
}

TEST(IsIdle, AFailedCollectionOrReadCountsAsIdleAndLeavesTheCount) {
    struct Case {
        const char* name;
        std::function<void(Sample&)> change;
    };
    const Case cases[] = {
        {"collection fails", [](Sample& s) { s.collect = kNoData; }},
        {"memory invalid", [](Sample& s) { s.memory.status = kInvalidData; }},
        {"disk invalid", [](Sample& s) { s.disk.status = kInvalidData; }},
    };
    for (const auto& c : cases) {
        Sample broken = BusySample();
        c.change(broken);
        FakePdh pdh;
        pdh.samples = {IdleSample(), broken};
        IdleDetectContext context{};
        ASSERT_EQ(IdleDetectInit(context, pdh, 256, 80, 50, 5), S_OK);
        EXPECT_FALSE(IsIdle(context));
        EXPECT_TRUE(IsIdle(context)) << c.name;
        EXPECT_EQ(context.consecutiveIdleCount, 1u) << c.name;
        IdleDetectDeinit(context);
    }
}

TEST(IdleDetectDeinit, RemovesWhatWasOpenedOnce) {
    FakePdh pdh;
    IdleDetectContext context{};
    ASSERT_EQ(IdleDetectInit(context, pdh, 256, 80, 50, 1), S_OK);
    pdh.calls.clear();
    EXPECT_EQ(IdleDetectDeinit(context), 0u);
    EXPECT_THAT(pdh.calls, ElementsAre(L"remove \\Memory\\Available MBytes", L"remove \\Processor(_Total)\\% Idle Time",
                                       L"remove \\PhysicalDisk(_Total)\\% Idle Time", L"close"));
    IdleDetectDeinit(context);
    EXPECT_EQ(pdh.removed, 3);
    EXPECT_EQ(pdh.closed, 1);
}

}  // namespace
