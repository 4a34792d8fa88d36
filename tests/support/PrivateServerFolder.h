#pragma once

#include <string>

// A temporary folder for a private sound server of a test's own, driven
// through scripts/sound-server.sh (start, stop, unplug, plug). The server is
// stopped and the folder removed with the object.
class PrivateServerFolder {
  public:
    PrivateServerFolder();
    ~PrivateServerFolder();
    PrivateServerFolder(const PrivateServerFolder &) = delete;
    PrivateServerFolder &operator=(const PrivateServerFolder &) = delete;

    // Empty when the folder could not be made.
    const std::string &path() const { return path_; }
    // sound-server.sh COMMAND FOLDER [SINK]: its exit code.
    int script(const std::string &command, const std::string &sink = {}) const;

  private:
    std::string path_;
};
