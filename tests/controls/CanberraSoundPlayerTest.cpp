#include "CanberraSoundPlayer.h"

#include <gtest/gtest.h>

// Nothing can be heard here; what is checked is that requests the sound server
// cannot carry out (or that find no server at all) neither fail nor hang.
TEST(CanberraSoundPlayer, UnplayableRequestsAreSilentAndEndCleanly)
{
    qputenv("PULSE_SERVER", "unix:/nonexistent/kaldra-test-socket");
    {
        CanberraSoundPlayer player;
        player.StopFile();
        player.PlayFile(QStringLiteral("/nonexistent/sound.wav"));
        player.PlayFile(QStringLiteral("/tmp/") + QString(5000, QLatin1Char('y')) + ".wav");
        player.PlayBeep(SoundPlayer::Beep::Question);
        player.StopFile();
    }
    qunsetenv("PULSE_SERVER");
}
