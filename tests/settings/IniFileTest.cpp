#include "IniFile.h"
#include "FileReplacement.h"
#include "IniText.h"
#include "TempFolder.h"

#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <tuple>
#include <utility>

namespace {

struct Edit {
    const char *before;
    const char *section;
    const char *key;
    const char *value;
    const char *after;
};

TEST(IniText, ChangesOnlyTheLineOfTheKeyOrAddsOne)
{
    const Edit edits[] = {
        // in place, spelling and blanks around the value kept, CRLF kept
        {"; radios\r\n[Other]\r\nINPUT1=9\r\n[settings]\r\n input1 = 5 \r\nMODE=1\r\n", "SETTINGS",
         "INPUT1", "7",
         "; radios\r\n[Other]\r\nINPUT1=9\r\n[settings]\r\n input1 = 7 \r\nMODE=1\r\n"},
        // after the section's last key, not after its trailing comment or blank
        {"[SETTINGS]\nA=1\n\n; next\n[X]\nB=2", "SETTINGS", "B", "3",
         "[SETTINGS]\nA=1\nB=3\n\n; next\n[X]\nB=2"},
        // an empty section without a line ending, and an empty value
        {"[SETTINGS]", "settings", "A", "1", "[SETTINGS]\nA=1\n"},
        {"[[\n[S\r", "s", "k", "1", "[[\n[S\r\nk=1\n"},
        {"\xEF\xBB\xBF[S]\r\nK=1", "S", "K", "2", "\xEF\xBB\xBF[S]\r\nK=2"},
        {"[S]\nA=\n", "S", "A", "2", "[S]\nA=2\n"},
        // a missing section goes to the end, in the text's line ending
        {"# x\r\n[A]\r\nK=1", "S", "K", "2", "# x\r\n[A]\r\nK=1\r\n[S]\r\nK=2\r\n"},
        {"", "S", "K", "-1", "[S]\nK=-1\n"},
        // the first of two sections or keys of one name counts; comments and
        // keys above every section are nobody's
        {"K=0\n[S]\n;K=1\nk=2\nK=3\n[s]\nK=4\n", "S", "K", "5",
         "K=0\n[S]\n;K=1\nk=5\nK=3\n[s]\nK=4\n"},
    };
    for (const auto &e : edits) {
        IniText text(e.before);
        text.setValue(e.section, e.key, e.value);
        EXPECT_EQ(text.text(), e.after) << e.before;
        EXPECT_EQ(text.value(e.section, e.key), e.value) << e.before;
    }
}

TEST(IniText, ReadsNamesWithoutCaseAndValuesWithoutBlanksOrOnePairOfQuotes)
{
    const IniText text("K=0\n[ Settings ]\n\tMode =  3 \t\nEMPTY=\nnoequals\n[Next\nB=x=y\n"
                       "Q1= \"3\" \nQ2='-1'\nQ3=\"\"\"\"\nQ4=\"3'\nQ5=\"\nQ6=\" 3\"\n");
    EXPECT_EQ(text.value("SETTINGS", "MODE"), "3");
    const std::pair<const char *, const char *> quoted[] = {
        {"Q1", "3"}, {"Q2", "-1"}, {"Q3", "\"\""}, {"Q4", "\"3'"}, {"Q5", "\""}, {"Q6", " 3"}};
    for (const auto &[key, value] : quoted)
        EXPECT_EQ(text.value("NEXT", key), value) << key;
    EXPECT_EQ(text.value("settings", "empty"), "");
    EXPECT_EQ(text.value("NEXT", "B"), "x=y");
    EXPECT_FALSE(text.value("SETTINGS", "B"));
    EXPECT_FALSE(text.value("SETTINGS", "NOEQUALS"));
    EXPECT_FALSE(text.value("MISSING", "MODE"));
}

TEST(IniText, RefusesWhatTheFormatCannotHold)
{
    IniText text;
    for (const auto &[section, key, value] : {std::tuple{"S]", "K", "1"},
                                              {"S", "K=", "1"},
                                              {"S", "[K", "1"},
                                              {"S", ";K", "1"},
                                              {"S", " K", "1"},
                                              {"", "K", "1"},
                                              {"S", "K", "1\n2"},
                                              {"S", "K", " 1"},
                                              {"S", "K", "\"1\""}})
        EXPECT_THROW(text.setValue(section, key, value), std::invalid_argument) << section << key;
    EXPECT_EQ(text.text(), "");
}

class IniFileTest : public ::testing::Test {
  protected:
    TempFolder folder;
    std::filesystem::path path = folder / "KALDRA.INI";
    IniFile file{path};
};

TEST_F(IniFileTest, MissingFileReadsAsDefaultAndIsCreatedByAWrite)
{
    EXPECT_EQ(file.readString("SETTINGS", "MODE", "0"), "0");
    ASSERT_TRUE(file.writeString("SETTINGS", "MODE", "4"));
    EXPECT_EQ(readFile(path), "[SETTINGS]\nMODE=4\n");
    EXPECT_EQ(file.readString("settings", "mode", "0"), "4");
}

TEST_F(IniFileTest, WriteKeepsPermissionsAndSkipsTheDiskWhenNothingChanges)
{
    writeFile(path, "[SETTINGS]\nMODE=1\n");
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    ASSERT_TRUE(file.writeString("SETTINGS", "MODE", "2"));
    struct stat first {};
    ASSERT_EQ(stat(path.c_str(), &first), 0);
    EXPECT_EQ(first.st_mode & 07777, 0640U);

    ASSERT_TRUE(file.writeString("SETTINGS", "MODE", "2"));
    struct stat second {};
    ASSERT_EQ(stat(path.c_str(), &second), 0);
    EXPECT_EQ(second.st_ino, first.st_ino);
}

TEST_F(IniFileTest, ReadOnlyFileIsRefusedAndKeepsItsContents)
{
    // No write bit for anyone: refused even for a process the system would let write.
    writeFile(path, "[SETTINGS]\nMODE=1\n");
    std::filesystem::permissions(path, std::filesystem::perms(0444));
    EXPECT_FALSE(file.writeString("SETTINGS", "MODE", "2"));
    EXPECT_FALSE(file.writeString("SETTINGS", "MODE", "1"));
    EXPECT_EQ(readFile(path), "[SETTINGS]\nMODE=1\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

TEST_F(IniFileTest, MissingFolderIsRefused)
{
    IniFile nowhere(folder / "missing" / "KALDRA.INI");
    EXPECT_FALSE(nowhere.writeString("SETTINGS", "MODE", "2"));
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

TEST_F(IniFileTest, AFolderOrAPipeInPlaceOfTheFileReadsAsDefaultAndIsRefused)
{
    const auto pipe = folder / "pipe.ini";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
    std::filesystem::create_directory(path);
    for (const auto &notAFile : {path, pipe}) {
        IniFile odd(notAFile);
        EXPECT_EQ(odd.readString("SETTINGS", "MODE", "0"), "0");
        EXPECT_FALSE(odd.writeString("SETTINGS", "MODE", "2"));
    }
}

TEST_F(IniFileTest, WriteThroughASymbolicLinkReplacesItsTarget)
{
    const auto real = folder / "real.ini";
    writeFile(real, "[SETTINGS]\nMODE=1\n");
    std::filesystem::create_symlink(real, path);
    ASSERT_TRUE(file.writeString("SETTINGS", "MODE", "3"));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(readFile(real), "[SETTINGS]\nMODE=3\n");

    // A link whose file is not there yet (a relative one, through a second link).
    const auto chained = folder / "chained.ini";
    std::filesystem::create_symlink("later.ini", chained);
    std::filesystem::create_symlink("chained.ini", folder / "first.ini");
    ASSERT_TRUE(IniFile(folder / "first.ini").writeString("SETTINGS", "MODE", "4"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "first.ini"));
    EXPECT_TRUE(std::filesystem::is_symlink(chained));
    EXPECT_EQ(readFile(folder / "later.ini"), "[SETTINGS]\nMODE=4\n");

    std::filesystem::create_symlink("loop.ini", folder / "loop.ini");
    EXPECT_FALSE(IniFile(folder / "loop.ini").writeString("SETTINGS", "MODE", "4"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "loop.ini"));
}

TEST_F(IniFileTest, CrashBeforeTheRenameLeavesTheOldFileAndHarmsNoLaterWrite)
{
    writeFile(path, "[SETTINGS]\nMODE=1\n");
    EXPECT_EXIT(
        {
            FileReplacement replacement(path);
            replacement.write("[SETTINGS]\nMO");
            std::_Exit(7);
        },
        ::testing::ExitedWithCode(7), "");
    EXPECT_EQ(readFile(path), "[SETTINGS]\nMODE=1\n");
    ASSERT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2);

    ASSERT_TRUE(file.writeString("SETTINGS", "MODE", "2"));
    EXPECT_EQ(readFile(path), "[SETTINGS]\nMODE=2\n");
    // The stale temporary file stays; this write left none of its own.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2);
}

} // namespace
