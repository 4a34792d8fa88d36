#include "OtrspLineReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ReaderCase {
    const char *name;
    std::vector<std::string> chunks;
    std::vector<std::string> lines;
};

const std::string kLongest(OtrspLineReader::kMaxLineLength, 'A');

const ReaderCase kReaderCases[] = {
    {"CarriageReturn", {"RX1\r"}, {"RX1"}},
    {"LineFeed", {"RX1\n?\n"}, {"RX1", "?"}},
    {"CarriageReturnLineFeedIsOneEnd", {"RX1\r\n?\r\n"}, {"RX1", "?"}},
    {"EndSplitAcrossChunks", {"RX", "1\r", "\nRX2\r"}, {"RX1", "RX2"}},
    {"EmptyLinesKept", {"\r\r", "\n\n"}, {"", "", ""}},
    {"NoEndNoLine", {"RX1"}, {}},
    {"BinaryBytesKept", {std::string("\x00\xff\x1b", 3) + "\r"}, {std::string("\x00\xff\x1b", 3)}},
    {"LongestLineKept", {kLongest + "\r"}, {kLongest}},
    {"LongerLineDiscardedToItsEnd", {kLongest + "B", "CD\rRX1\r"}, {"RX1"}},
    {"HundredKilobytesWithoutEnd", {std::string(100'000, 'x'), "\r?NAME\r"}, {"?NAME"}},
};

void PrintTo(const ReaderCase &readerCase, std::ostream *out)
{
    *out << readerCase.name;
}

class OtrspLineReaderTest : public testing::TestWithParam<ReaderCase> {};

TEST_P(OtrspLineReaderTest, CutsLines)
{
    OtrspLineReader reader;
    std::vector<std::string> lines;
    for (const std::string &chunk : GetParam().chunks)
        for (std::string &line : reader.feed(chunk))
            lines.push_back(std::move(line));
    EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Lines, OtrspLineReaderTest, testing::ValuesIn(kReaderCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
