#include "IntegerConversion.h"
#include "SettingsError.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

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
    for (const auto &c : cases)
        EXPECT_EQ(convertToInteger(c.text), c.value) << c.text;
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
    for (const char *text : cases)
        EXPECT_THROW(convertToInteger(text), SettingsError) << text;
    const auto message = [](std::string_view text) {
        try {
            convertToInteger(text);
        } catch (const SettingsError &e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(message("0x12g"), "'0X12G' is not a valid integer value");
    EXPECT_EQ(message(std::string_view("1\0002\t\x7F", 5)),
              "'1\\x002\\x09\\x7F' is not a valid integer value");
}

} // namespace
