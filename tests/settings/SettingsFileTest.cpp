#include "SettingsFile.h"
#include "SettingsError.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records what reading the settings file sets, in order.
class RecordingTarget : public SettingsTarget {
  public:
    std::vector<std::string> calls;

    void setInput1Device(std::int32_t d) override { record("INPUT1", d); }
    void setInput2Device(std::int32_t d) override { record("INPUT2", d); }
    void setInput3Device(std::int32_t d) override { record("INPUT3", d); }
    void setOutputDevice(std::int32_t d) override { record("OUTPUT", d); }
    void SetSO2R(TSO2RState s) override { record("SO2R", s); }
    void SetSO3R(TSO3RState r) override { record("SO3R", r); }
    void setDeviceIdentities(const DeviceIdentities &read) override { identities = read; }

    DeviceIdentities identities{{{"unread", ""}, {}, {}, {}}};

  private:
    void record(const char *what, int value)
    {
        calls.push_back(what + ("=" + std::to_string(value)));
    }
};

using Calls = std::vector<std::string>;

TEST(SettingsFileLocate, FindsTheFileFromTheWorkingDirectoryAndTheArguments)
{
    struct Case {
        const char *directory;
        std::vector<std::string> arguments;
        const char *file;
    } cases[] = {
        {"/logs", {}, "/logs/KALDRA.INI"},
        {"/logs/", {}, "/logs/KALDRA.INI"},
        {"/logs", {"-f", "contest.ini"}, "/logs/contest.ini"},
        {"/logs", {"-F", "sub/Cq.ini", "extra"}, "/logs/sub/Cq.ini"},
        {"/logs", {"-F", "/etc/radio.ini"}, "/etc/radio.ini"},
        {"/logs", {"-F"}, "/logs/KALDRA.INI"},
        {"/logs", {"-F", ""}, "/logs/KALDRA.INI"},
        {"/logs", {"-X", "contest.ini"}, "/logs/KALDRA.INI"},
        {"/logs", {"contest.ini", "-F", "other.ini"}, "/logs/KALDRA.INI"},
    };
    for (const auto &c : cases) {
        SettingsFile settings;
        settings.Locate(c.directory, c.arguments);
        EXPECT_EQ(settings.IniFileName(), c.file) << c.directory << " " << c.arguments.size();
    }
}

class SettingsFileTest : public ::testing::Test {
  protected:
    SettingsFileTest() { settings.Locate(folder.path(), {}); }

    Calls read()
    {
        RecordingTarget target;
        settings.Read(target);
        identities = target.identities;
        return target.calls;
    }

    // The section SETTINGS as written for `values`, default devices unnamed.
    static std::string settingsSection(const char *values)
    {
        return std::string("[SETTINGS]\n") + values;
    }
    static constexpr const char *kUnnamed = "[DEVICE NAMES]\nINPUT1=\nINPUT2=\nINPUT3=\nOUTPUT=\n"
                                            "INPUT1_PATH=\nINPUT2_PATH=\nINPUT3_PATH=\n"
                                            "OUTPUT_PATH=\n";

    TempFolder folder;
    SettingsFile settings;
    DeviceIdentities identities;
};

TEST_F(SettingsFileTest, MissingFileAppliesTheDefaults)
{
    EXPECT_EQ(read(),
              (Calls{"INPUT1=-1", "INPUT2=-1", "INPUT3=-1", "OUTPUT=-1",
                     "SO2R=" + std::to_string(ddCenter), "SO3R=" + std::to_string(ddRadio2)}));
}

TEST_F(SettingsFileTest, WritesTheSixKeysInOrder)
{
    settings.WriteINI({-1, -1, -1, -1, ddCenter, ddRadio2, {}});
    EXPECT_EQ(readFile(settings.IniFileName()),
              settingsSection("INPUT1=-1\nINPUT2=-1\nINPUT3=-1\nOUTPUT=-1\nMODE=0\nSO3R=2\n") +
                  kUnnamed);
    settings.WriteINI({0, 1, 2, 3, ddLeft, ddRadio3, {}});
    EXPECT_EQ(readFile(settings.IniFileName()),
              settingsSection("INPUT1=0\nINPUT2=1\nINPUT3=2\nOUTPUT=3\nMODE=1\nSO3R=3\n") +
                  kUnnamed);
    EXPECT_EQ(read(),
              (Calls{"INPUT1=0", "INPUT2=1", "INPUT3=2", "OUTPUT=3",
                     "SO2R=" + std::to_string(ddLeft), "SO3R=" + std::to_string(ddRadio3)}));
}

TEST_F(SettingsFileTest, DeviceNamesGoBesideTheNumbersAndReadBack)
{
    // Other lines of the section stay; a name the file cannot hold is stored
    // as none rather than refused.
    writeFile(settings.IniFileName(), "[DEVICE NAMES]\n; kept\n");
    const DeviceIdentities written{{{"radio1.monitor", "pci-0000:00:14.0-usb-0:2:1.0"},
                                    {"radio2.monitor", ""},
                                    {" odd", "\"quoted\""},
                                    {"headphones", "usb-0:3"}}};
    settings.WriteINI({1, 2, -1, 0, ddCenter, ddRadio2, written});
    EXPECT_EQ(readFile(settings.IniFileName()),
              "[DEVICE NAMES]\nINPUT1=radio1.monitor\nINPUT2=radio2.monitor\nINPUT3=\n"
              "OUTPUT=headphones\nINPUT1_PATH=pci-0000:00:14.0-usb-0:2:1.0\nINPUT2_PATH=\n"
              "INPUT3_PATH=\nOUTPUT_PATH=usb-0:3\n; kept\n" +
                  settingsSection("INPUT1=1\nINPUT2=2\nINPUT3=-1\nOUTPUT=0\nMODE=0\nSO3R=2\n"));
    read();
    DeviceIdentities expected = written;
    expected[2] = {};
    EXPECT_EQ(identities, expected);

    // Without the section, every identity reads empty.
    writeFile(settings.IniFileName(), "[SETTINGS]\nINPUT1=3\n");
    EXPECT_EQ(read().front(), "INPUT1=3");
    EXPECT_EQ(identities, DeviceIdentities{});
}

TEST_F(SettingsFileTest, ModeAndSecondRadioCodesBothWays)
{
    struct Case {
        TSO2RState state;
        TSO3RState radio;
        const char *lines;
        TSO2RState readBack;
    } cases[] = {
        {ddCenter, ddRadio2, "MODE=0\nSO3R=2\n", ddCenter},
        {ddLeft, ddRadio3, "MODE=1\nSO3R=3\n", ddLeft},
        {ddRight, ddRadio2, "MODE=2\nSO3R=2\n", ddRight},
        {ddMute, ddRadio2, "MODE=3\nSO3R=2\n", ddMute},
        {ddOff, ddRadio2, "MODE=4\nSO3R=2\n", ddOff},
        {ddSwap, static_cast<TSO3RState>(7), "MODE=0\nSO3R=0\n", ddCenter},
    };
    for (const auto &c : cases) {
        settings.WriteINI({-1, -1, -1, -1, c.state, c.radio, {}});
        EXPECT_NE(readFile(settings.IniFileName()).find(c.lines + std::string("[DEVICE")),
                  std::string::npos)
            << c.lines;
        const Calls calls = read();
        ASSERT_GE(calls.size(), 5U);
        EXPECT_EQ(calls[4], "SO2R=" + std::to_string(c.readBack)) << c.lines;
    }
}

TEST_F(SettingsFileTest, CodesWithoutMeaningCallNothingAndHexadecimalConverts)
{
    writeFile(settings.IniFileName(),
              "[settings]\ninput1=$ffffffff\nOUTPUT = 0x2 \nMODE=7\nSO3R=5\n");
    EXPECT_EQ(read(), (Calls{"INPUT1=-1", "INPUT2=-1", "INPUT3=-1", "OUTPUT=2"}));
}

TEST_F(SettingsFileTest, ReadStopsAtTheFirstBadValueKeepingWhatCameBefore)
{
    const std::string good = "INPUT1=1\nINPUT2=2\nINPUT3=3\nOUTPUT=4\nMODE=2\n";
    writeFile(settings.IniFileName(), "[SETTINGS]\n" + good + "SO3R=3a\n");
    RecordingTarget target;
    try {
        settings.Read(target);
        FAIL();
    } catch (const SettingsError &e) {
        EXPECT_STREQ(e.what(), "'3A' is not a valid integer value");
    }
    EXPECT_EQ(target.calls, (Calls{"INPUT1=1", "INPUT2=2", "INPUT3=3", "OUTPUT=4",
                                   "SO2R=" + std::to_string(ddRight)}));

    writeFile(settings.IniFileName(), "[SETTINGS]\nSO3R=3\nINPUT2=\nINPUT1=7\n");
    RecordingTarget early;
    EXPECT_THROW(settings.Read(early), SettingsError);
    EXPECT_EQ(early.calls, (Calls{"INPUT1=7"}));
}

TEST_F(SettingsFileTest, RefusedWriteNamesTheFullPathAndChangesNothing)
{
    const auto expectRefused = [](SettingsFile &refusing) {
        try {
            refusing.WriteINI({});
            FAIL();
        } catch (const SettingsError &e) {
            EXPECT_EQ(e.what(), "Unable to write to " + refusing.IniFileName().string());
        }
    };
    writeFile(settings.IniFileName(), "[SETTINGS]\nMODE=1\n");
    std::filesystem::permissions(settings.IniFileName(), std::filesystem::perms(0444));
    expectRefused(settings);
    EXPECT_EQ(readFile(settings.IniFileName()), "[SETTINGS]\nMODE=1\n");

    SettingsFile nowhere;
    nowhere.Locate(folder.path(), {"-F", "missing/KALDRA.INI"});
    expectRefused(nowhere);
}

TEST_F(SettingsFileTest, WriteWithoutALocatedFileUsesTheWorkingDirectory)
{
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    SettingsFile unlocated;
    unlocated.WriteINI({});
    std::filesystem::current_path(previous);
    EXPECT_EQ(unlocated.IniFileName(), folder.path() / "KALDRA.INI");
    EXPECT_TRUE(std::filesystem::exists(folder / "KALDRA.INI"));
}

} // namespace
