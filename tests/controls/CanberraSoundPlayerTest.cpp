#include "CanberraSoundPlayer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

// Nothing can be heard here; what is checked (under the sanitizers too) is that
// requests that find no sound server, no file or an overlong name neither fail
// nor hang, and that the player ends cleanly with requests still queued.
TEST(CanberraSoundPlayer, UnplayableRequestsAreSilentAndEndCleanly)
{
    qputenv("PULSE_SERVER", "unix:/nonexistent/kaldra-test-socket");
    {
        CanberraSoundPlayer player;
        player.StopFile();
        player.PlayFile(QStringLiteral("/nonexistent/sound.wav"));
        player.PlayFile(QStringLiteral("/tmp/") + QString(5000, QLatin1Char('y')) + ".wav");
        player.PlayBeep(SoundPlayer::Beep::Question);
        // Give the worker time to carry these out before more are queued and dropped.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        player.StopFile();
        player.PlayBeep(SoundPlayer::Beep::Ok);
    }
    qunsetenv("PULSE_SERVER");
}
