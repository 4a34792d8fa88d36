#pragma once

#include <filesystem>
#include <string_view>

// Replaces the contents of a file so that a crash or a power cut at any moment
// leaves either the old contents or the new ones, never a mix: the new bytes go
// to a temporary file in the same folder, which is flushed to the disk and then
// renamed over the target; the folder is flushed after the rename.
//
// The replacement keeps the target's permission bits (and its owner, where the
// process may set it); a new file gets the permissions a newly created file
// gets (0666 less the umask). Temporary files are named ".NAME.PID-N.tmp" and
// never reused, so one left behind by a crash harms no later replacement.
//
// Every failure throws std::system_error; the target is then untouched, and the
// temporary file is removed when the object is destroyed without commit().
class FileReplacement {
  public:
    // Creates the temporary file beside `target`, which need not exist.
    explicit FileReplacement(std::filesystem::path target);
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;
    ~FileReplacement();

    // Appends `bytes` to the new contents.
    void write(std::string_view bytes);
    // Flushes the new contents and puts them in the target's place.
    void commit();

  private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
    bool committed_ = false;
};
