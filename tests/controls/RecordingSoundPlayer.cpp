#include "RecordingSoundPlayer.h"

void RecordingSoundPlayer::PlayFile(const QString &path)
{
    calls << QStringLiteral("file ") + path;
}

void RecordingSoundPlayer::StopFile()
{
    calls << QStringLiteral("stop");
}

void RecordingSoundPlayer::PlayBeep(Beep kind)
{
    switch (kind) {
    case Beep::Ok:
        calls << QStringLiteral("beep ok");
        break;
    case Beep::Hand:
        calls << QStringLiteral("beep hand");
        break;
    case Beep::Question:
        calls << QStringLiteral("beep question");
        break;
    case Beep::Exclamation:
        calls << QStringLiteral("beep exclamation");
        break;
    }
}
