#pragma once

#include "SoundPlayer.h"

#include <QStringList>

// A sound player that plays nothing and records every request, in order, as
// "file <path>", "stop" or "beep <kind>" (kind: ok, hand, question, exclamation).
class RecordingSoundPlayer final : public SoundPlayer {
  public:
    void PlayFile(const QString &path) override;
    void StopFile() override;
    void PlayBeep(Beep kind) override;

    QStringList calls;
};
