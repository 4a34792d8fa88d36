#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

// A private-profile (INI) file on disk, with the semantics of IniText. Every
// read reads the file afresh; every write goes through to the disk at once and
// atomically (FileReplacement), so a crash never leaves a torn file. Not
// thread-safe: one thread (the user-interface thread) uses a file.
class IniFile {
  public:
    explicit IniFile(std::filesystem::path path) : path_(std::move(path)) {}

    // The value of `key` in `section`, or `defaultValue` when the file, the
    // section or the key is missing (or the file cannot be read).
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;

    // Sets `key` in `section` to `value`, creating the file when it is missing
    // and keeping every other line as it was. When the value is already there,
    // the file is left alone (no disk write); a read-only or unreadable file,
    // or a path that is not a regular file, is still refused then, but the
    // folder is not asked whether it could take a new file.
    //
    // Returns false, with the file untouched, when the write is refused:
    // - the folder does not exist or is not writable, the path is not a
    //   regular file, the file cannot be read (its other lines would be lost),
    //   or the new contents cannot reach the disk (a full disk);
    // - the file is read-only. That is judged by its permission bits, so that
    //   it also holds for a privileged process that the system would let write
    //   anyway: a file with no write bit for anyone is read-only, as is one the
    //   process itself may not write (the atomic rename would otherwise
    //   replace a file the operator protected).
    // A symbolic link is followed: its target is replaced, or created when it
    // is missing, and the link is kept.
    // Throws std::invalid_argument for names or values IniText cannot hold.
    bool writeString(std::string_view section, std::string_view key, std::string_view value);

  private:
    std::filesystem::path path_;
};
