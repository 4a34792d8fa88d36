#include "ErrorBoxMessage.h"

#include <gtest/gtest.h>

namespace {

TEST(ErrorBoxMessage, AddsAFullStopAfterCharactersAboveThePoint)
{
    EXPECT_EQ(errorBoxMessage("Unable to write to /x/KALDRA.INI"),
              "Unable to write to /x/KALDRA.INI.");
    EXPECT_EQ(errorBoxMessage("'ABC' is not a valid integer value"),
              "'ABC' is not a valid integer value.");
    EXPECT_EQ(errorBoxMessage("code 7"), "code 7.");
    EXPECT_EQ(errorBoxMessage("caf\xE9"), "caf\xE9.");
    EXPECT_EQ(errorBoxMessage("'X'"), "'X'"); // "'" lies below "."
    for (const char *unchanged : {"", "Done.", "Stop!", "trailing ", "a-", "(a)", "a,"})
        EXPECT_EQ(errorBoxMessage(unchanged), unchanged);
}

} // namespace
