// Channels freed while the server's graph runs them, over and over, as
// power-off, a restart and the release at exit free them: a stream that its
// server thread still runs after what it reads has gone shows up under the
// sanitizers (this program runs under AddressSanitizer and ThreadSanitizer
// in CI) as a use after free or a race.
#include "Backends.h"
#include "PipeWireAudioLibrary.h"
#include "PulseAudioLibrary.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kRate = 7000;
// Capture devices sorted by name: the monitors of radio 1 and radio 2.
constexpr int kRadio1Monitor = 1;
constexpr int kRadio2Monitor = 2;

class StreamTeardown : public ::testing::TestWithParam<Backend> {};

INSTANTIATE_ON_EACH_BACKEND(StreamTeardown);

TEST_P(StreamTeardown, ChannelsFreedWhileTheGraphRunsThemTwoHundredTimes)
{
    SKIP_UNLESS_SERVED(GetParam());
    const auto makeLibrary = [&]() -> std::unique_ptr<AudioLibrary> {
        if (GetParam() == Backend::PulseAudio)
            return std::make_unique<PulseAudioLibrary>();
        return std::make_unique<PipeWireAudioLibrary>();
    };
    auto library = makeLibrary();
    const RoutingMatrix routes[][2] = {
        {{1, 1, 0, 0}, {0, 0, 1, 1}}, {{1, 1, 1, 1}, {0, 0, 0, 0}}, {{0, 0, 0, 0}, {1, 1, 1, 1}}};
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(::testing::Message() << "round " << round);
        AudioLibrary &audio = *library;
        ASSERT_TRUE(audio.Init(-1, kRate, 0));
        const AudioHandle mixer = audio.MixerStreamCreate(kRate, 2, 0);
        ASSERT_NE(mixer, 0u);
        AudioHandle radios[2] = {};
        for (int radio = 0; radio < 2; ++radio) {
            ASSERT_TRUE(audio.RecordInit(radio == 0 ? kRadio1Monitor : kRadio2Monitor));
            radios[radio] = audio.RecordStart(kRate, 2, 0);
            ASSERT_NE(radios[radio], 0u);
            ASSERT_TRUE(
                audio.MixerStreamAddChannel(mixer, radios[radio], AudioLibrary::kMatrixMixing));
        }
        ASSERT_TRUE(audio.ChannelPlay(mixer, false));
        // Long enough for the server to link the streams and run them.
        for (const auto &route : routes) {
            ASSERT_TRUE(audio.MixerChannelSetMatrix(radios[0], route[0]));
            ASSERT_TRUE(audio.MixerChannelSetMatrix(radios[1], route[1]));
            std::this_thread::sleep_for(10ms);
        }
        // Power-off frees the captures first, a restart the mixer first; at
        // exit the library's destructor frees both, every eighth round.
        if (round % 8 == 7) {
            library.reset();
            library = makeLibrary();
        } else if (round % 2 == 0) {
            ASSERT_TRUE(audio.RecordFree());
            ASSERT_TRUE(audio.Free());
        } else {
            ASSERT_TRUE(audio.Free());
            ASSERT_TRUE(audio.RecordFree());
        }
    }
}

} // namespace
