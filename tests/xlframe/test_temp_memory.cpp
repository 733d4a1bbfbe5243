#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "xlframe/platform.hpp"
#include "xlframe/xl_oper.hpp"

namespace xlframe {
namespace {

bool allZero(const void* memory, std::size_t bytes) {
    const auto* p = static_cast<const unsigned char*>(memory);
    for (std::size_t i = 0; i < bytes; ++i)
        if (p[i] != 0) return false;
    return true;
}

TEST(TempMemory, BlocksGrowByTheRuleAndTheOutermostEntryKeepsOnlyTheNewest) {
    TempMemory::FreeAll();
    EXPECT_EQ(TempMemory::ArenaSize(), 0u);
    {
        TempMemory::EntryGuard guard;
        EXPECT_EQ(TempMemory::ArenaSize(), 0u);  // nothing asked yet
        TempMemory::GetMemory(100);              // 112 bytes used of the first block
        EXPECT_EQ(TempMemory::ArenaSize(), 8192u);
        TempMemory::GetMemory(8192);  // max(112 + 8192 + 4096, 1.5 x 8192) = 12400
        EXPECT_EQ(TempMemory::ArenaSize(), 8192u + 12400u);
        TempMemory::GetMemory(12400 - 8192);  // fits exactly
        EXPECT_EQ(TempMemory::ArenaSize(), 8192u + 12400u);
        TempMemory::GetMemory(16);  // max(12400 + 16 + 4096, 18600) = 18600
        EXPECT_EQ(TempMemory::ArenaSize(), 8192u + 12400u + 18600u);
    }
    {
        TempMemory::EntryGuard guard;
        EXPECT_EQ(TempMemory::ArenaSize(), 18600u);
        {
            TempMemory::EntryGuard nested;  // not outermost: keeps everything
            TempMemory::GetMemory(18601);
            EXPECT_EQ(TempMemory::ArenaSize(), 18600u + 27900u);
        }
    }
    TempMemory::FreeAll();
    EXPECT_EQ(TempMemory::ArenaSize(), 0u);
}

TEST(TempMemory, MemoryIsAlignedAndZeroFilledAlsoWhenReused) {
    TempMemory::FreeAll();
    std::vector<std::pair<void*, std::size_t>> first;
    {
        TempMemory::EntryGuard guard;
        for (std::size_t bytes : {1u, 3u, 24u, 32u, 100u, 5000u}) {
            void* p = TempMemory::GetMemory(bytes);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u) << bytes;
            EXPECT_TRUE(allZero(p, bytes)) << bytes;
            std::memset(p, 0xAB, bytes);
            first.emplace_back(p, bytes);
        }
    }
    TempMemory::EntryGuard again;
    for (const auto& [old, bytes] : first) {
        void* p = TempMemory::GetMemory(bytes);
        EXPECT_TRUE(allZero(p, bytes)) << bytes;
    }
    auto* a = static_cast<unsigned char*>(TempMemory::GetUninitialisedMemory(40));
    auto* b = static_cast<unsigned char*>(TempMemory::GetMemory(40));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 16, 0u);
    EXPECT_GE(b, a + 40);
    EXPECT_TRUE(allZero(b, 40));
}

TEST(TempMemory, NestedEntriesKeepTheOuterCallsRecords) {
    TempMemory::EntryGuard outer;
    const XlfOper kept(std::string("still here"));
    for (int i = 0; i < 3; ++i) {
        TempMemory::EntryGuard inner;
        const XlfOper other(std::string(1000, 'x'));
    }
    EXPECT_STREQ(kept.ReadString(), "still here");
}

// A steady load settles on one block that holds a whole call.
TEST(TempMemory, ManyCallsOfOneSizeDoNotGrowTheArena) {
    CellMatrix cells(100, 3);
    for (std::size_t r = 0; r < 100; ++r) {
        cells(r, 0) = static_cast<double>(r);
        if (r % 10 == 0) cells(r, 1) = "label " + std::to_string(r);
        cells(r, 2) = true;
    }
    TempMemory::FreeAll();
    std::size_t afterTen = 0, largest = 0;
    std::size_t oneCall = 0;
    for (int call = 1; call <= 10000; ++call) {
        TempMemory::EntryGuard guard;
        const XlfOper record(cells);
        ASSERT_TRUE(record.IsMulti());
        if (call == 1) oneCall = TempMemory::ArenaSize();
        if (call == 10) afterTen = TempMemory::ArenaSize();
        if (call >= 10) largest = std::max(largest, TempMemory::ArenaSize());
    }
    EXPECT_EQ(TempMemory::ArenaSize(), afterTen);
    EXPECT_EQ(largest, afterTen);
    EXPECT_LE(afterTen, oneCall);
    // The settled block is at most one growth step beyond what the first call took in all.
    EXPECT_LE(afterTen, oneCall + oneCall / 2 + 4096);
    TempMemory::FreeAll();
}

TEST(PlatformThreads, IdsAreDistinctEndedThreadsAreNotAliveAndSlotsArePerThread) {
    const platform::ThreadId self = platform::currentThreadId();
    EXPECT_TRUE(platform::isThreadAlive(self));
    platform::TlsSlot slot;
    int mine = 1, theirs = 2;
    slot.set(&mine);
    platform::ThreadId other = 0;
    std::atomic<bool> seenAlive{false};
    void* seen = &mine;
    std::thread([&] {
        other = platform::currentThreadId();
        seenAlive = platform::isThreadAlive(other);
        seen = slot.get();
        slot.set(&theirs);
    }).join();
    EXPECT_NE(other, self);
    EXPECT_TRUE(seenAlive);
    EXPECT_FALSE(platform::isThreadAlive(other));
    EXPECT_EQ(seen, nullptr);
    EXPECT_EQ(slot.get(), &mine);
}

#if !defined(_WIN32)
TEST(PlatformCodePage, PosixCodePageIsUtf8) {
    const std::string utf8 = "\xC3\xA4 \xE2\x82\xAC \xF0\x9F\x98\x80";
    const std::u16string wide = u"\u00E4 \u20AC \U0001F600";
    EXPECT_EQ(platform::ansiToWide(utf8), wide);
    EXPECT_EQ(platform::wideToAnsi(wide), utf8);
    EXPECT_EQ(platform::ansiToWide(""), u"");
}
#endif

TEST(PlatformMemory, LargeAllocationHintKeepsTheContents) {
    for (std::size_t bytes : {std::size_t{1} << 10, std::size_t{24} << 20}) {
        std::vector<unsigned char> block(bytes);
        for (std::size_t i = 0; i < bytes; ++i) block[i] = static_cast<unsigned char>(i * 7 + 3);
        platform::adviseLargeAllocation(block.data(), bytes);
        bool same = true;
        for (std::size_t i = 0; i < bytes; ++i) same = same && block[i] == static_cast<unsigned char>(i * 7 + 3);
        EXPECT_TRUE(same) << bytes;
    }
    platform::adviseLargeAllocation(nullptr, std::size_t{64} << 20);  // nothing to advise: no harm
}

TEST(CellMatrixStorage, AdoptsPrebuiltCellsOfTheRightCount) {
    std::vector<impl::CellValueImpl> cells;
    cells.emplace_back(1.5);
    cells.emplace_back(std::string("x"));
    cells.emplace_back(true);
    cells.emplace_back();
    const CellMatrix m(std::make_unique<impl::CellMatrixImpl>(2, 2, std::move(cells)));
    ASSERT_EQ(m.Rows(), 2u);
    ASSERT_EQ(m.Columns(), 2u);
    EXPECT_EQ(m(0, 0).GetNumber(), 1.5);
    EXPECT_EQ(m(0, 1).GetString(), "x");
    EXPECT_TRUE(m(1, 0).GetBoolean());
    EXPECT_TRUE(m(1, 1).IsEmpty());
    EXPECT_THROW(impl::CellMatrixImpl(2, 2, std::vector<impl::CellValueImpl>(3)), std::length_error);
    const CellMatrix none{std::unique_ptr<CellMatrix_pimpl_abstract>()};
    EXPECT_EQ(none.Rows(), 0u);
    EXPECT_EQ(none.Columns(), 0u);
}

}  // namespace
}  // namespace xlframe
