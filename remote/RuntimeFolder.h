#pragma once

#include <QString>

#include <filesystem>

// KALDRA's private folder for its command socket and its pseudo-terminal's
// link: $XDG_RUNTIME_DIR/kaldra, or /tmp/kaldra-UID when XDG_RUNTIME_DIR is not
// set. Made with mode 0700 when missing; a folder that another user owns or
// that others may enter is refused.
struct RuntimeFolder {
    std::filesystem::path path; // empty when it cannot be used
    QString note;               // why it is not the usual one, or why it cannot be used
};

RuntimeFolder kaldraRuntimeFolder();

// The command socket that `kaldra --send` reaches, inside the runtime folder.
inline constexpr const char *kCommandSocketName = "command";
