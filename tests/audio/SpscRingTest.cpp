#include "SpscRing.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

namespace {

TEST(SpscRing, KeepsOrderAcrossWrapAroundAndRefusesBeyondItsBounds)
{
    SpscRing<int> ring(5);
    ASSERT_EQ(ring.capacity(), 8U);

    std::vector<int> out(8);
    int next = 0;
    int expected = 0;
    // Chunk sizes that do not divide the capacity: every slot boundary is crossed.
    for (int round = 0; round < 100; ++round) {
        const std::size_t chunk = 1 + static_cast<std::size_t>(round) % 7;
        std::vector<int> in(chunk);
        std::iota(in.begin(), in.end(), next);
        ASSERT_EQ(ring.write(in.data(), chunk), chunk);
        next += static_cast<int>(chunk);

        ASSERT_EQ(ring.peek(out.data(), 1), 1U);
        ASSERT_EQ(out[0], expected);
        ASSERT_EQ(ring.read(out.data(), chunk), chunk);
        for (std::size_t i = 0; i < chunk; ++i)
            ASSERT_EQ(out[i], expected++);
    }

    std::vector<int> many(10, 1);
    EXPECT_EQ(ring.write(many.data(), many.size()), 8U);
    EXPECT_EQ(ring.writable(), 0U);
    EXPECT_EQ(ring.read(out.data(), 8), 8U);
    EXPECT_EQ(ring.read(out.data(), 1), 0U);
}

TEST(SpscRing, HandsEveryItemAcrossThreadsInOrder)
{
    SpscRing<int> ring(64);
    constexpr int kItems = 100000;
    std::thread producer([&] {
        int next = 0;
        std::vector<int> chunk(37);
        while (next < kItems) {
            const std::size_t count = std::min<std::size_t>(chunk.size(), kItems - next);
            std::iota(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count), next);
            next += static_cast<int>(ring.write(chunk.data(), count));
        }
    });
    std::vector<int> chunk(23);
    int expected = 0;
    while (expected < kItems) {
        const std::size_t count = ring.read(chunk.data(), chunk.size());
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_EQ(chunk[i], expected++);
    }
    producer.join();
}

} // namespace
