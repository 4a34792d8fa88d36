#include "RecordingAudioLibrary.h"

#include <gtest/gtest.h>

namespace {

// The engine's tests rely on the double refusing handles the way a real
// library must: after a power-off the engine still pauses, plays and routes
// through the handles it kept.
TEST(RecordingAudioLibrary, RefusesZeroForeignAndReleasedHandles)
{
    RecordingAudioLibrary library;
    ASSERT_TRUE(library.Init(-1, 7000, 0));
    const AudioHandle mixer = library.MixerStreamCreate(7000, 2, 0);
    ASSERT_TRUE(library.RecordInit(0));
    const AudioHandle capture = library.RecordStart(7000, 2, 0);
    ASSERT_TRUE(library.MixerStreamAddChannel(mixer, capture, AudioLibrary::kMatrixMixing));
    RoutingMatrix matrix{};
    ASSERT_TRUE(library.MixerChannelGetMatrix(capture, matrix));
    EXPECT_EQ(matrix, (RoutingMatrix{1, 0, 0, 1}));

    const RoutingMatrix route = {1, 1, 0, 0};
    for (AudioHandle refused : {AudioHandle{0}, mixer + capture + 1}) {
        EXPECT_FALSE(library.ChannelPlay(refused, false));
        EXPECT_FALSE(library.ChannelPause(refused));
        EXPECT_FALSE(library.ChannelStop(refused));
        EXPECT_FALSE(library.MixerStreamAddChannel(mixer, refused, AudioLibrary::kMatrixMixing));
        EXPECT_FALSE(library.MixerChannelSetMatrix(refused, route));
        EXPECT_FALSE(library.MixerChannelRemove(refused));
    }

    // Power-off as the engine does it; then every kept handle is stale.
    library.ChannelStop(mixer);
    library.MixerChannelRemove(capture);
    library.RecordFree();
    library.Free();
    EXPECT_FALSE(library.ChannelPlay(capture, false));
    EXPECT_FALSE(library.ChannelPause(capture));
    EXPECT_FALSE(library.ChannelPlay(mixer, false));
    EXPECT_FALSE(library.MixerChannelSetMatrix(capture, route));
    EXPECT_FALSE(library.MixerChannelGetMatrix(capture, matrix));
    EXPECT_TRUE(library.Free());
    EXPECT_EQ(library.calls.back(), "Free()");
}

TEST(RecordingAudioLibrary, ScriptedFailuresGiveZeroHandlesThatAreRefused)
{
    RecordingAudioLibrary library;
    library.handlesFail = true;
    const AudioHandle capture = library.RecordStart(7000, 2, 0);
    EXPECT_EQ(capture, 0U);
    EXPECT_FALSE(library.ChannelPause(capture));
    EXPECT_EQ(library.calls,
              (std::vector<std::string>{"RecordStart(7000,2,0)", "ChannelPause(0)"}));
}

} // namespace
