#include "BurstMeter.h"

#include <gtest/gtest.h>

// A graph's cycle is taken every cycle; a stall's backlog once, and a few
// late fills in a row, are not taken for a cycle. A cycle once seen is kept
// when requests go small again.
TEST(BurstMeter, ReportsTheBurstThatRecursNotAStall)
{
    BurstMeter pulls;
    pulls.moved(200);
    for (int request = 0; request < 8; ++request)
        pulls.moved(7);
    for (int late = 0; late < 5; ++late) {
        pulls.moved(40);
        pulls.moved(7);
    }
    EXPECT_EQ(pulls.recurringFrames(), 7u);
    for (int cycle = 0; cycle < 8; ++cycle)
        pulls.moved(37);
    for (int request = 0; request < 20; ++request)
        pulls.moved(7);
    EXPECT_EQ(pulls.recurringFrames(), 37u);
}
