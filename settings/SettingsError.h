#pragma once

#include <stdexcept>

// A settings value that does not convert, or a settings file that cannot be
// written. The message is the one the operator sees in the error box (before
// errorBoxMessage adds its full stop).
class SettingsError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};
