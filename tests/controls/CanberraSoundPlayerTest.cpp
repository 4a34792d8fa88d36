#include "CanberraSoundPlayer.h"
#include "ServerProbe.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

constexpr std::uint32_t kRecordRate = 8000;

// A mono 16-bit WAV file of a 440 Hz tone at half of full scale.
bool writeTone(const QString &path, double seconds)
{
    constexpr std::uint32_t rate = 22050;
    const auto frames = static_cast<std::uint32_t>(seconds * rate);
    QByteArray data;
    const auto put = [&data](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            data.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    data.append("RIFF");
    put(36 + 2 * frames, 4);
    data.append("WAVEfmt ");
    put(16, 4);
    put(1, 2); // PCM
    put(1, 2); // mono
    put(rate, 4);
    put(2 * rate, 4);
    put(2, 2);
    put(16, 2);
    data.append("data");
    put(2 * frames, 4);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double phase = 2 * std::numbers::pi * 440.0 * i / rate;
        put(static_cast<std::uint16_t>(static_cast<std::int16_t>(16384 * std::sin(phase))), 2);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

double rms(const std::vector<float> &samples, std::size_t from = 0)
{
    double sum = 0.0;
    for (std::size_t i = from; i < samples.size(); ++i)
        sum += double(samples[i]) * samples[i];
    return samples.size() > from ? std::sqrt(sum / double(samples.size() - from)) : 0.0;
}

// Against the private sound server of scripts/sound-server.sh, whose default
// playback device is the "Headphones" null sink.
TEST(CanberraSoundPlayer, AFileIsHeardOnTheOutputUntilStopped)
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        GTEST_SKIP() << "PULSE_SERVER is not set: run under scripts/sound-server.sh";
    QTemporaryDir folder;
    const QString tone = folder.filePath("tone.wav");
    ASSERT_TRUE(writeTone(tone, 5.0));
    ServerProbe probe;
    CanberraSoundPlayer player;

    player.PlayFile(tone);
    // The first sound waits for the player to reach the server.
    bool heard = false;
    for (int attempt = 0; attempt < 8 && !heard; ++attempt)
        heard = rms(probe.record("headphones.monitor", 0.25, kRecordRate)) > 0.1;
    EXPECT_TRUE(heard) << "the file is not played";

    player.StopFile();
    const std::vector<float> afterStop = probe.record("headphones.monitor", 1.0, kRecordRate);
    ASSERT_FALSE(afterStop.empty());
    EXPECT_LT(rms(afterStop, afterStop.size() / 2), 0.001) << "the file plays on after a stop";
}

} // namespace
