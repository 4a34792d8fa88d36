#include "AudioEngine.h"
#include "RecordingAudioLibrary.h"
#include "SettingsError.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

std::string stateName(TSO2RState state)
{
    static constexpr std::array<const char *, 6> names = {"ddOff",  "ddRight", "ddCenter",
                                                          "ddLeft", "ddSwap",  "ddMute"};
    return names.at(state);
}

// The window's side, logged into the library's calls so that one sequence
// shows audio calls, state changes and writes in their order.
class RecordingHost : public AudioEngineHost {
  public:
    explicit RecordingHost(Calls &calls) : calls_(calls) {}

    TSO2RState state = ddOff;
    TSO3RState secondRadio = ddRadio2;
    TSO2RState last = ddCenter;
    int failingWrite = 0; // the write that throws, counted from 1; 0: none

    TSO2RState SO2R() const override { return state; }
    TSO3RState SO3R() const override { return secondRadio; }
    TSO2RState LastSO2R() const override { return last; }
    void SetLastSO2R(TSO2RState value) override
    {
        calls_.push_back("SetLastSO2R(" + stateName(value) + ")");
        last = value;
    }
    void SetSO2R(TSO2RState value) override
    {
        calls_.push_back("SetSO2R(" + stateName(value) + ")");
        state = value;
    }
    void ShowMode() override { calls_.push_back("ShowMode"); }
    void WriteSettings() override
    {
        calls_.push_back("WriteSettings");
        if (failingWrite != 0 && --failingWrite == 0)
            throw SettingsError("Cannot write the settings file");
    }
    void EndOnAudioFailure(const std::string &message, bool errorIcon) override
    {
        calls_.push_back("EndOnAudioFailure(" + message + "," + std::to_string(errorIcon) + ")");
    }

  private:
    Calls &calls_;
};

class AudioEngineTest : public testing::Test {
  protected:
    AudioEngineTest()
    {
        engine.Input1Device = 0;
        engine.Input2Device = 1;
        engine.Input3Device = 2;
        engine.OutputDevice = 3;
    }

    Calls takeCalls() { return std::exchange(library.calls, {}); }

    // A power-on whose mixer gets handle `mixer` and its captures the next two.
    static Calls powerOnCalls(AudioHandle mixer, int secondDevice)
    {
        const std::string m = std::to_string(mixer);
        const std::string c1 = std::to_string(mixer + 1);
        const std::string c2 = std::to_string(mixer + 2);
        return {"GetVersion()",
                "Init(3,7000,0)",
                "MixerStreamCreate(7000,2,0)",
                "RecordInit(0)",
                "RecordStart(7000,2,0)",
                "MixerStreamAddChannel(" + m + "," + c1 + ",65536)",
                "RecordInit(" + std::to_string(secondDevice) + ")",
                "RecordStart(7000,2,0)",
                "MixerStreamAddChannel(" + m + "," + c2 + ",65536)",
                "ChannelPlay(" + m + ",0)",
                "SetSO2R(ddCenter)",
                "MixerChannelGetMatrix(" + c1 + ")",
                "MixerChannelSetMatrix(" + c1 + ",1,1,0,0)",
                "MixerChannelGetMatrix(" + c2 + ")",
                "MixerChannelSetMatrix(" + c2 + ",0,0,1,1)",
                "SetSO2R(ddCenter)",
                "WriteSettings",
                "ShowMode",
                "WriteSettings"};
    }

    static Calls powerOffCalls(AudioHandle mixer)
    {
        return {"SetSO2R(ddOff)",
                "ChannelStop(" + std::to_string(mixer) + ")",
                "MixerChannelRemove(" + std::to_string(mixer + 1) + ")",
                "MixerChannelRemove(" + std::to_string(mixer + 2) + ")",
                "RecordFree()",
                "Free()",
                "WriteSettings"};
    }

    RecordingAudioLibrary library;
    RecordingHost host{library.calls};
    AudioEngine engine{library, host};
};

TEST_F(AudioEngineTest, PowerOnCapturesTheSecondRadioChosen)
{
    engine.TogglePower();
    EXPECT_EQ(takeCalls(), powerOnCalls(1, 1));
    EXPECT_TRUE(engine.AudioStarted());
    EXPECT_EQ(engine.MixerStream(), 1U);
    EXPECT_EQ(engine.Capture1(), 2U);
    EXPECT_EQ(engine.Capture2(), 3U);
    EXPECT_EQ(engine.Capture3(), 0U);
    EXPECT_TRUE(library.playing.at(1));

    engine.TogglePower();
    takeCalls();
    host.secondRadio = ddRadio3;
    engine.TogglePower();
    EXPECT_EQ(takeCalls(), powerOnCalls(4, 2));
    EXPECT_EQ(engine.Capture3(), 6U);
    EXPECT_EQ(engine.Capture2(), 3U) << "radio 2's handle is left as it was";
}

// From powered-off, toggling twice is the restart that opens the devices and
// closes them again.
TEST_F(AudioEngineTest, PowerOffReleasesAndTheNextPowerOnComesUpOnRig12)
{
    engine.TogglePower();
    engine.TogglePower();
    Calls restart = powerOnCalls(1, 1);
    const Calls off = powerOffCalls(1);
    restart.insert(restart.end(), off.begin(), off.end());
    EXPECT_EQ(takeCalls(), restart);
    EXPECT_EQ(host.state, ddOff);
    EXPECT_TRUE(engine.AudioStarted());

    engine.TogglePower();
    engine.SetRoute(AudioEngine::Route::Rig1);
    engine.TogglePower();
    takeCalls();
    engine.TogglePower();
    EXPECT_EQ(takeCalls(), powerOnCalls(7, 1));
    EXPECT_EQ(host.state, ddCenter);
}

TEST_F(AudioEngineTest, BeforeTheFirstPowerOnMuteDoesNothingAndPowerOffOnlySetsOff)
{
    engine.ToggleMute();
    EXPECT_EQ(takeCalls(), Calls{});

    host.state = ddLeft; // left by a settings read that failed at start-up
    engine.TogglePower();
    EXPECT_EQ(takeCalls(), Calls{"SetSO2R(ddOff)"});
    EXPECT_FALSE(engine.AudioStarted());
}

TEST_F(AudioEngineTest, EachRouteSetsBothCapturesMatrices)
{
    host.secondRadio = ddRadio3;
    engine.TogglePower();
    takeCalls();
    struct Case {
        AudioEngine::Route route;
        RoutingMatrix first, second;
        TSO2RState state;
    };
    const Case cases[] = {
        {AudioEngine::Route::Rig1, {1, 1, 1, 1}, {0, 0, 0, 0}, ddLeft},
        {AudioEngine::Route::Rig2, {0, 0, 0, 0}, {1, 1, 1, 1}, ddRight},
        {AudioEngine::Route::Rig12, {1, 1, 0, 0}, {0, 0, 1, 1}, ddCenter},
        {AudioEngine::Route::Reverse, {0, 0, 1, 1}, {1, 1, 0, 0}, ddSwap},
    };
    for (const Case &c : cases) {
        engine.SetRoute(c.route);
        EXPECT_EQ(library.matrices.at(2), c.first) << stateName(c.state);
        EXPECT_EQ(library.matrices.at(3), c.second) << stateName(c.state);
        EXPECT_EQ(host.state, c.state);
        EXPECT_EQ(takeCalls().back(), "WriteSettings");
    }
}

TEST_F(AudioEngineTest, UnmuteResumesTheRouteThatWasMuted)
{
    engine.TogglePower();
    engine.SetRoute(AudioEngine::Route::Rig2);
    takeCalls();

    engine.ToggleMute();
    EXPECT_EQ(takeCalls(), (Calls{"SetLastSO2R(ddRight)", "ChannelPause(2)", "ChannelPause(3)",
                                  "SetSO2R(ddMute)", "WriteSettings"}));
    EXPECT_FALSE(library.playing.at(2));
    EXPECT_FALSE(library.playing.at(3));
    EXPECT_TRUE(library.playing.at(1)) << "mute pauses the captures, not the mixer";

    engine.ToggleMute();
    EXPECT_EQ(takeCalls(),
              (Calls{"ChannelPlay(2,0)", "ChannelPlay(3,0)", "SetSO2R(ddRight)", "WriteSettings"}));
    EXPECT_EQ(library.matrices.at(2), (RoutingMatrix{0, 0, 0, 0}));
    EXPECT_EQ(library.matrices.at(3), (RoutingMatrix{1, 1, 1, 1}));

    engine.ToggleMute();
    takeCalls();
    engine.TogglePower();
    EXPECT_EQ(takeCalls(), powerOffCalls(1)) << "power goes off from mute too";
}

TEST_F(AudioEngineTest, RouteChosenWhileMutedIsHeardOnlyAfterTwoMoreToggles)
{
    engine.TogglePower();
    engine.ToggleMute();
    engine.SetRoute(AudioEngine::Route::Rig1);
    EXPECT_EQ(host.state, ddLeft);
    EXPECT_FALSE(library.playing.at(2));
    takeCalls();

    engine.ToggleMute();
    EXPECT_EQ(takeCalls(), (Calls{"SetLastSO2R(ddLeft)", "ChannelPause(2)", "ChannelPause(3)",
                                  "SetSO2R(ddMute)", "WriteSettings"}));
    engine.ToggleMute();
    EXPECT_EQ(takeCalls(),
              (Calls{"ChannelPlay(2,0)", "ChannelPlay(3,0)", "SetSO2R(ddLeft)", "WriteSettings"}));
    EXPECT_EQ(library.matrices.at(2), (RoutingMatrix{1, 1, 1, 1}));
}

TEST_F(AudioEngineTest, LibraryFailuresAtPowerOnEndTheProcessWithoutWriting)
{
    library.version = 0x02050000;
    engine.TogglePower();
    EXPECT_EQ(takeCalls(),
              (Calls{"GetVersion()",
                     "EndOnAudioFailure(An incorrect version of the audio library was loaded,1)"}));
    EXPECT_TRUE(engine.AudioStarted());
    engine.ReleaseAtShutdown();
    EXPECT_EQ(takeCalls(), (Calls{"RecordFree()", "Free()"}));

    library.version = 0x0204ffff; // only the high 16 bits count
    library.initSucceeds = false;
    engine.TogglePower();
    EXPECT_EQ(takeCalls(), (Calls{"GetVersion()", "Init(3,7000,0)",
                                  "EndOnAudioFailure(Can't initialize device,0)"}));
}

TEST_F(AudioEngineTest, WriteFailingInsidePowerOnLeavesTheGraphPlaying)
{
    host.failingWrite = 1;
    EXPECT_THROW(engine.TogglePower(), SettingsError);
    Calls expected = powerOnCalls(1, 1);
    expected.resize(expected.size() - 2); // no status refresh, no final write
    EXPECT_EQ(takeCalls(), expected);
    EXPECT_EQ(host.state, ddCenter);
    EXPECT_TRUE(library.playing.at(1));
}

} // namespace
