#include "IntegerConversion.h"
#include "ErrorBoxMessage.h"
#include "SettingsError.h"

#include <gtest/gtest.h>

namespace {

struct Accepted {
    const char *text;
    std::int32_t value;
};

TEST(IntegerConversion, AcceptsDecimalAndHexadecimalForms)
{
    const Accepted cases[] = {
        {"0", 0},
        {"-1", -1},
        {"+7", 7},
        {"007", 7},
        {"  \t12", 12},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"$1f", 31},
        {"x10", 16},
        {"0x7FFFFFFF", 2147483647},
        {"$FFFFFFFF", -1},
        {"$80000000", -2147483647 - 1},
        {"$00000001", 1},
        {"-$FFFFFFFF", 1},
        {"-0X1", -1},
        {"-$80000000", -2147483647 - 1},
        {" +X0", 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(convertToInteger(c.text), c.value) << c.text;
    }
}

TEST(IntegerConversion, RefusesEverythingElseWithTheUpperCasedText)
{
    const char *const cases[] = {
        "",     " ",          "-",   "+",          "--1",         "- 1",
        "1 ",   "1.0",        "1e3", "2147483648", "-2147483649", "99999999999999999999",
        "$",    "0X",         "X",   "$123456789", "$0000000001", "$G",
        "0$1",  "00X1",       "$-1", "$ 1",        "1X",          "abc",
        "\xE9", "4294967296", "1\n",
    };
    for (const char *text : cases) {
        EXPECT_THROW(convertToInteger(text), SettingsError) << text;
    }
    try {
        convertToInteger("0x12g");
        FAIL();
    } catch (const SettingsError &e) {
        EXPECT_STREQ(e.what(), "'0X12G' is not a valid integer value");
    }
}

TEST(ErrorBoxMessage, AddsAFullStopAfterCharactersAboveThePoint)
{
    EXPECT_EQ(errorBoxMessage("Unable to write to /x/KALDRA.INI"),
              "Unable to write to /x/KALDRA.INI.");
    EXPECT_EQ(errorBoxMessage("'ABC' is not a valid integer value"),
              "'ABC' is not a valid integer value.");
    EXPECT_EQ(errorBoxMessage("code 7"), "code 7.");
    EXPECT_EQ(errorBoxMessage("caf\xE9"), "caf\xE9.");
    EXPECT_EQ(errorBoxMessage("'X'"), "'X'"); // "'" lies below "."
    for (const char *unchanged : {"", "Done.", "Stop!", "trailing ", "a-", "(a)", "a,"}) {
        EXPECT_EQ(errorBoxMessage(unchanged), unchanged);
    }
}

} // namespace
