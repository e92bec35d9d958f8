// Global memory blocks: lock/unlock, resizing, handle validation, sizes, fault injection.
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>
#include <win/fault_injection.h>
#include <win/global_memory.h>

namespace {

TEST(GlobalMemory, FixedBlockIsItsOwnAddressAndZeroed)
{
    HGLOBAL h = GlobalAlloc(GPTR, 100);
    ASSERT_NE(h, nullptr);
    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    EXPECT_EQ(static_cast<void*>(p), h);
    EXPECT_EQ(GlobalSize(h), 100u);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(p[i], 0) << i;
    EXPECT_EQ(GlobalUnlock(h), FALSE);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, MovableBlockCountsLocksAndKeepsHandleWhenGrown)
{
    HGLOBAL h = GlobalAlloc(GHND, 16);
    ASSERT_NE(h, nullptr);
    auto* p = static_cast<char*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_NE(static_cast<void*>(p), h);
    std::memcpy(p, "0123456789abcdef", 16);
    EXPECT_EQ(GlobalLock(h), p);
    EXPECT_EQ(GlobalLockCount(h), 2u);
    EXPECT_EQ(GlobalUnlock(h), TRUE); // still locked once
    // Locked: growing without GMEM_MOVEABLE is refused and the block is untouched.
    EXPECT_EQ(GlobalReAlloc(h, 64, GMEM_ZEROINIT), nullptr);
    EXPECT_EQ(GlobalSize(h), 16u);
    EXPECT_EQ(GlobalUnlock(h), FALSE); // now unlocked
    EXPECT_EQ(GlobalUnlock(h), FALSE); // nothing to unlock

    EXPECT_EQ(GlobalReAlloc(h, 64, GMEM_ZEROINIT), h);
    EXPECT_EQ(GlobalSize(h), 64u);
    auto* q = static_cast<char*>(GlobalLock(h));
    EXPECT_EQ(std::memcmp(q, "0123456789abcdef", 16), 0);
    for (int i = 16; i < 64; ++i)
        ASSERT_EQ(q[i], 0) << i;
    GlobalUnlock(h);

    EXPECT_EQ(GlobalReAlloc(h, 4, 0), h); // shrinking keeps the first bytes
    EXPECT_EQ(GlobalSize(h), 4u);
    EXPECT_EQ(std::memcmp(GlobalLock(h), "0123", 4), 0);
    GlobalUnlock(h);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, FixedBlockGrowsOnlyWhenAllowedToMove)
{
    HGLOBAL h = GlobalAlloc(GMEM_FIXED, 8);
    ASSERT_NE(h, nullptr);
    std::memcpy(h, "abcdefgh", 8);
    EXPECT_EQ(GlobalReAlloc(h, 4096, 0), nullptr);
    EXPECT_EQ(GlobalSize(h), 8u);
    HGLOBAL moved = GlobalReAlloc(h, 4096, GMEM_MOVEABLE);
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(std::memcmp(moved, "abcdefgh", 8), 0);
    if (moved != h) {
        EXPECT_EQ(GlobalSize(h), 0u); // the old handle is gone
        EXPECT_EQ(GlobalFree(h), h);
    }
    EXPECT_EQ(GlobalFree(moved), nullptr);
}

TEST(GlobalMemory, BadHandlesFailCleanly)
{
    HGLOBAL freed = GlobalAlloc(GHND, 10);
    ASSERT_NE(freed, nullptr);
    ASSERT_EQ(GlobalFree(freed), nullptr);
    int local = 0;
    HGLOBAL inside = GlobalAlloc(GMEM_FIXED, 32);
    const HGLOBAL bad[] = {nullptr, &local, freed, static_cast<char*>(inside) + 1};
    for (HGLOBAL h : bad) {
        SCOPED_TRACE(h);
        EXPECT_EQ(GlobalLock(h), nullptr);
        EXPECT_EQ(GlobalUnlock(h), FALSE);
        EXPECT_EQ(GlobalSize(h), 0u);
        EXPECT_EQ(GlobalReAlloc(h, 10, GMEM_MOVEABLE), nullptr);
        EXPECT_EQ(GlobalFree(h), h);
    }
    GlobalFree(inside);
}

TEST(GlobalMemory, RefusesZeroAndImpossibleSizes)
{
    const SIZE_T sizes[] = {0, SIZE_MAX, SIZE_MAX / 2, SIZE_T(1) << 50};
    for (SIZE_T size : sizes) {
        EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, size), nullptr) << size;
        EXPECT_EQ(GlobalAlloc(GPTR, size), nullptr) << size;
    }
    HGLOBAL h = GlobalAlloc(GHND, 10);
    EXPECT_EQ(GlobalReAlloc(h, 0, GMEM_MOVEABLE), nullptr);
    EXPECT_EQ(GlobalReAlloc(h, SIZE_MAX, GMEM_MOVEABLE), nullptr);
    EXPECT_EQ(GlobalSize(h), 10u);
    GlobalFree(h);
}

TEST(GlobalMemory, FaultInjectionFailsAfterTheGivenCount)
{
    WinFailAllocationsAfter(2);
    HGLOBAL a = GlobalAlloc(GHND, 8);
    HGLOBAL b = GlobalAlloc(GPTR, 8);
    HGLOBAL c = GlobalAlloc(GHND, 8);
    HGLOBAL d = GlobalAlloc(GHND, 8);
    WinFailAllocationsAfter(-1);
    HGLOBAL e = GlobalAlloc(GHND, 8);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(d, nullptr);
    EXPECT_NE(e, nullptr);
    for (HGLOBAL h : {a, b, e})
        GlobalFree(h);

    WinFailAllocationsAfter(0);
    EXPECT_EQ(GlobalAlloc(GHND, 8), nullptr);
    WinFailAllocationsAfter(-1);
}

TEST(GlobalMemory, ConcurrentUseKeepsBlocksApart)
{
    auto work = [](int seed, bool* ok) {
        for (int i = 0; i < 2000; ++i) {
            HGLOBAL h = GlobalAlloc((i & 1) ? GHND : GPTR, 16 + (i % 7));
            auto* p = static_cast<int*>(GlobalLock(h));
            if (!p) {
                *ok = false;
                return;
            }
            *p = seed * 100000 + i;
            if ((i % 3) == 0)
                h = GlobalReAlloc(h, 200, GMEM_MOVEABLE);
            if (*static_cast<int*>(GlobalLock(h)) != seed * 100000 + i)
                *ok = false;
            GlobalUnlock(h);
            GlobalUnlock(h);
            if (GlobalFree(h) != nullptr)
                *ok = false;
        }
    };
    bool ok[4] = {true, true, true, true};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(work, t, &ok[t]);
    for (auto& t : threads)
        t.join();
    for (bool b : ok)
        EXPECT_TRUE(b);
}

} // namespace
