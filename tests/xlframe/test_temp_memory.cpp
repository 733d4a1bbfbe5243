#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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
#include "xlframe/scratch_blocks.hpp"
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

constexpr std::size_t MiB = std::size_t{1} << 20;

// Which kept block a request gets: the smallest one that fits, and none twice its size or more.
TEST(ScratchBlocks, ARequestTakesTheSmallestKeptBlockThatFitsWithoutWastingHalf) {
    struct Case {
        std::vector<std::size_t> kept;  // MiB, given back in this order
        std::size_t asked;              // bytes
        int gets;                       // index into kept, or -1 for a new block
    };
    const Case cases[] = {
        {{2}, 2 * MiB, 0},
        {{2}, 1 * MiB, 0},              // exactly half: still taken
        {{2}, 1 * MiB - 1, -1},         // less than half: a new block
        {{2}, 2 * MiB + 1, -1},         // too small
        {{4, 3, 2}, 3 * MiB / 2, 2},    // the smallest of those that fit
        {{2, 3, 4}, 5 * MiB / 2, 1},
        {{8, 5}, 4 * MiB, 1},
        {{}, 2 * MiB, -1},
    };
    for (const Case& c : cases) {
        ScratchBlocks::releaseAll();
        std::vector<void*> given;
        std::size_t keptBytes = 0;
        for (const std::size_t m : c.kept) given.push_back(ScratchBlocks::take(m * MiB)), keptBytes += m * MiB;
        for (void* p : given) ScratchBlocks::give(p);
        ASSERT_EQ(ScratchBlocks::keptBytes(), keptBytes);
        void* got = ScratchBlocks::take(c.asked);
        std::memset(got, 0x5A, c.asked);  // all of it is usable
        const auto at = std::find(given.begin(), given.end(), got);
        EXPECT_EQ(at == given.end() ? -1 : static_cast<int>(at - given.begin()), c.gets) << c.asked;
        EXPECT_EQ(ScratchBlocks::keptBytes(), keptBytes - (c.gets < 0 ? 0 : c.kept[static_cast<std::size_t>(c.gets)] * MiB));
        ScratchBlocks::give(got);
    }
    ScratchBlocks::releaseAll();
    EXPECT_EQ(ScratchBlocks::keptBytes(), 0u);
}

// What is kept stays within its bound of bytes and of blocks; the rest is freed.
TEST(ScratchBlocks, KeptBlocksStayWithinTheirBound) {
    ScratchBlocks::releaseAll();
    std::vector<void*> blocks;
    for (int i = 0; i < 6; ++i) blocks.push_back(ScratchBlocks::take(100 * MiB));
    for (void* p : blocks) ScratchBlocks::give(p);
    EXPECT_EQ(ScratchBlocks::keptBytes(), 200 * MiB);  // a third would pass 256 MiB
    ScratchBlocks::releaseAll();
    blocks.clear();
    for (int i = 0; i < 40; ++i) blocks.push_back(ScratchBlocks::take(MiB));
    for (void* p : blocks) ScratchBlocks::give(p);
    EXPECT_EQ(ScratchBlocks::keptBytes(), 32 * MiB);  // 32 blocks at most
    ScratchBlocks::releaseAll();
    EXPECT_EQ(ScratchBlocks::keptBytes(), 0u);
}

#if defined(__SANITIZE_ADDRESS__)
// A kept block reads as freed memory would, and a taken one only as far as asked for.
TEST(ScratchBlocks, AddressSanitizerCatchesUseAfterGivingBackAndPastTheRequest) {
    ScratchBlocks::releaseAll();
    auto* p = static_cast<unsigned char*>(ScratchBlocks::take(2 * MiB));
    ScratchBlocks::give(p);
    EXPECT_DEATH(static_cast<volatile unsigned char*>(p)[10] = 1, "use-after-poison");
    auto* q = static_cast<unsigned char*>(ScratchBlocks::take(3 * MiB / 2));
    ASSERT_EQ(q, p);  // the kept block again
    q[3 * MiB / 2 - 1] = 1;
    EXPECT_DEATH(static_cast<volatile unsigned char*>(q)[3 * MiB / 2] = 1, "use-after-poison");
    ScratchBlocks::give(q);
    ScratchBlocks::releaseAll();
}
#endif

// Threads taking and giving back at once never hold one block together.
TEST(ScratchBlocksThreads, NoBlockIsHeldByTwoThreadsAtOnce) {
    ScratchBlocks::releaseAll();
    std::atomic<int> clashes{0};
    std::vector<std::thread> threads;
    for (unsigned char t = 1; t <= 4; ++t) {
        threads.emplace_back([t, &clashes] {
            for (int round = 0; round < 50; ++round) {
                const std::size_t bytes = (1 + static_cast<std::size_t>(round % 3)) * MiB;
                auto* p = static_cast<unsigned char*>(ScratchBlocks::take(bytes));
                std::memset(p, t, bytes);
                std::this_thread::yield();
                if (std::count(p, p + bytes, t) != static_cast<std::ptrdiff_t>(bytes)) ++clashes;
                ScratchBlocks::give(p);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(clashes.load(), 0);
    ScratchBlocks::releaseAll();
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
