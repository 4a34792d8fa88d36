#pragma once

#include <QString>

// The system sounds a button can make on a click.
//
// Rules every implementation keeps:
// - Calls come from the user-interface thread and return at once; the sound
//   plays in the background.
// - A file that is missing or cannot be played gives silence: no message and
//   no other sound in its place.
// - Names of any length are taken whole.
class SoundPlayer {
  public:
    // The kinds of system beep, after the message-box icons they go with.
    enum class Beep {
        Ok,          // a plain beep
        Hand,        // an error
        Question,    // a question
        Exclamation, // a warning
    };

    SoundPlayer() = default;
    SoundPlayer(const SoundPlayer &) = delete;
    SoundPlayer &operator=(const SoundPlayer &) = delete;
    virtual ~SoundPlayer() = default;

    // Starts playing the sound file `path`, cutting off the file that was
    // playing before (started by any caller).
    virtual void PlayFile(const QString &path) = 0;
    // Cuts off the file that is playing, if any. Beeps are not cut off.
    virtual void StopFile() = 0;
    virtual void PlayBeep(Beep kind) = 0;
};

// The player shared by every button that was given no other, through the
// system's sound service: created at the first call, ended at the program's
// exit. Sharing it lets a file started by one button be cut off by the next
// file any button plays.
SoundPlayer &SystemSoundPlayer();
