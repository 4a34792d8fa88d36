#include "PlaybackQueue.h"

#include <gtest/gtest.h>

namespace {

// A server buffer of 140 frames, kept at 49, raised 7 at a time, waiting for
// late captures down to 14, stepping down after 700 quiet frames.
PlaybackQueue::Sizes sizes()
{
    PlaybackQueue::Sizes sizes;
    sizes.buffer = 140;
    sizes.level = 49;
    sizes.step = 7;
    sizes.reserve = 14;
    sizes.quietSpell = 700;
    return sizes;
}

// Plays the server's side: the queue holds what was written minus what was
// played, and the server asks for the rest of its buffer.
struct Server {
    PlaybackQueue queue;
    std::size_t queued = 0;

    PlaybackQueue::Plan write(std::size_t ready)
    {
        const PlaybackQueue::Plan plan = queue.plan(sizes().buffer - queued, ready);
        queued += plan.silence + plan.mixed;
        return plan;
    }
    void play(std::size_t frames) { queued -= std::min(queued, frames); }
};

} // namespace

TEST(PlaybackQueue, WritesNothingUntilConfigured)
{
    PlaybackQueue queue;
    const PlaybackQueue::Plan plan = queue.plan(1000, 1000);
    EXPECT_EQ(plan.silence + plan.mixed, 0u);
}

// What the inputs have leaves at once, up to the level; a late capture is
// waited for while the queue lasts, and only the part below the reserve is
// filled without it.
TEST(PlaybackQueue, KeepsItsLevelAndWaitsForLateCapturesDownToTheReserve)
{
    Server server;
    server.queue.configure(sizes());
    EXPECT_EQ(server.write(1000).mixed, 49u);
    EXPECT_EQ(server.write(1000).mixed, 0u); // full at the level
    server.play(7);
    EXPECT_EQ(server.write(3).mixed, 3u); // only what is ready
    EXPECT_EQ(server.queued, 45u);

    server.play(30); // 15 left: still above the reserve, so wait
    EXPECT_EQ(server.write(0).mixed, 0u);
    server.play(8); // 7 left: fill up to the reserve, no further
    EXPECT_EQ(server.write(0).mixed, 7u);
    EXPECT_EQ(server.queued, 14u);
    EXPECT_EQ(server.write(100).mixed, 35u); // the capture came: back to the level
    EXPECT_EQ(server.queue.level(), 49u);
}

// Each underflow raises the level a step, up to the server's buffer, and the
// step is taken at once as silence; quiet spells bring it back a step at a
// time, never below where it started, and an underflow restarts the spell.
TEST(PlaybackQueue, UnderflowsRaiseTheLevelAndQuietSpellsLowerIt)
{
    Server server;
    server.queue.configure(sizes());
    server.write(1000);
    server.play(1000); // the machine stalled: the queue ran dry
    server.queue.underflow();
    EXPECT_EQ(server.queue.level(), 56u);
    const PlaybackQueue::Plan plan = server.write(1000);
    EXPECT_EQ(plan.silence, 7u);
    EXPECT_EQ(plan.mixed, 49u);

    for (int i = 0; i < 20; ++i)
        server.queue.underflow();
    EXPECT_EQ(server.queue.level(), 140u);
    EXPECT_EQ(server.write(1000).silence, 84u);

    auto playQuietly = [&](std::size_t frames) {
        for (std::size_t played = 0; played < frames; played += 7) {
            server.play(7);
            server.write(1000);
        }
    };
    playQuietly(693);
    EXPECT_EQ(server.queue.level(), 140u);
    playQuietly(7);
    EXPECT_EQ(server.queue.level(), 133u);
    playQuietly(350);
    server.queue.underflow(); // back up a step, and the spell starts over
    EXPECT_EQ(server.queue.level(), 140u);
    playQuietly(693);
    EXPECT_EQ(server.queue.level(), 140u);

    playQuietly(700 * 20);
    EXPECT_EQ(server.queue.level(), 49u);
    EXPECT_LE(server.queued, 49u);
}
