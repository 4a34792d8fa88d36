#include "PlaybackWriteRule.h"

#include <gtest/gtest.h>

namespace {

// Plays the server's side of a 49-frame buffer with a 14-frame reserve: the
// queue holds what was written minus what was played, and the server asks
// for the rest of its buffer, and after an underflow for what it played past
// the end of the queue too.
struct Server {
    static constexpr std::size_t kBuffer = 49;
    PlaybackWriteRule rule;
    long queued = 0;

    Server() { rule.configure(kBuffer, 14); }
    std::size_t write(std::size_t ready)
    {
        const std::size_t frames =
            rule.framesToMix(static_cast<std::size_t>(static_cast<long>(kBuffer) - queued), ready);
        queued += static_cast<long>(frames);
        return frames;
    }
    void play(long frames) { queued -= frames; }
};

} // namespace

// What the inputs have leaves at once, up to what the server asks for; a late
// capture is waited for while the queue lasts, and only the part below the
// reserve is filled without it.
TEST(PlaybackWriteRule, WaitsForLateCapturesDownToTheReserve)
{
    Server server;
    EXPECT_EQ(server.write(1000), 49u);
    EXPECT_EQ(server.write(1000), 0u); // full
    server.play(7);
    EXPECT_EQ(server.write(3), 3u); // only what is ready
    EXPECT_EQ(server.queued, 45);

    server.play(30); // 15 left: still above the reserve, so wait
    EXPECT_EQ(server.write(0), 0u);
    server.play(8); // 7 left: fill up to the reserve, no further
    EXPECT_EQ(server.write(0), 7u);
    EXPECT_EQ(server.queued, 14);
    EXPECT_EQ(server.write(100), 35u); // the capture came: full again
}

// After an underflow the server asks for more than its buffer; what is ready
// goes at once, and with nothing ready no more than the reserve is mixed
// without it.
TEST(PlaybackWriteRule, RefillsFromWhatIsReadyAfterAnUnderflow)
{
    Server server;
    server.write(1000);
    server.play(49 + 10); // played 10 frames of silence past the end
    EXPECT_EQ(server.write(1000), 59u);

    server.write(1000);
    server.play(49 + 10);
    EXPECT_EQ(server.write(0), 14u);
}
