#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
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
        // A size whose rounding up would wrap around is refused, never served small.
        EXPECT_THROW(TempMemory::GetMemory(std::numeric_limits<std::size_t>::max() - 3), std::bad_alloc);
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
    for (int round = 0; round < 2; ++round) {  // the second round reuses the first one's block
        TempMemory::EntryGuard guard;
        for (std::size_t bytes : {1u, 3u, 24u, 32u, 100u, 5000u}) {
            void* p = TempMemory::GetMemory(bytes);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u) << bytes;
            EXPECT_TRUE(allZero(p, bytes)) << bytes;
            std::memset(p, 0xAB, bytes);
        }
    }
    TempMemory::EntryGuard again;
    auto* a = static_cast<unsigned char*>(TempMemory::GetUninitialisedMemory(40));
    auto* b = static_cast<unsigned char*>(TempMemory::GetMemory(40));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 16, 0u);
    EXPECT_GE(b, a + 40);
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

TEST(PlatformThreads, IdsAreDistinctEndedThreadsAreNotAliveAndSlotsArePerThread) {
    const platform::ThreadId self = platform::currentThreadId();
    EXPECT_TRUE(platform::isThreadAlive(self));
    platform::TlsSlot slot;
    int mine = 1, theirs = 2;
    slot.set(&mine);
    platform::ThreadId other = 0;
    bool seenAlive = false;
    void* seen = &mine;
    std::thread([&] {
        other = platform::currentThreadId(), seenAlive = platform::isThreadAlive(other), seen = slot.get();
        slot.set(&theirs);
    }).join();
    EXPECT_NE(other, self);
    EXPECT_TRUE(seenAlive && !platform::isThreadAlive(other));
    EXPECT_EQ(seen, nullptr);
    EXPECT_EQ(slot.get(), &mine);
}

TEST(PlatformMemory, LargeAllocationHintKeepsTheContents) {
    std::vector<unsigned char> block(std::size_t{24} << 20, 7);
    platform::adviseLargeAllocation(block.data(), block.size());
    EXPECT_EQ(std::count(block.begin(), block.end(), 7), static_cast<std::ptrdiff_t>(block.size()));
    platform::adviseLargeAllocation(nullptr, std::size_t{64} << 20);  // nothing to advise: no harm
}

TEST(CellMatrixStorage, AdoptsPrebuiltCellsOfTheRightCount) {
    std::vector<impl::CellValueImpl> cells(4);
    cells[1] = std::string("x");
    const CellMatrix m(std::make_unique<impl::CellMatrixImpl>(2, 2, std::move(cells)));
    ASSERT_EQ(m.Rows() * m.Columns(), 4u);
    EXPECT_EQ(m(0, 1).GetString(), "x");
    EXPECT_TRUE(m(1, 1).IsEmpty());
    EXPECT_THROW(impl::CellMatrixImpl(2, 2, std::vector<impl::CellValueImpl>(3)), std::length_error);
    const CellMatrix none{std::unique_ptr<CellMatrix_pimpl_abstract>()};
    EXPECT_EQ(none.Rows() + none.Columns(), 0u);
}

}  // namespace
}  // namespace xlframe
