#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

// A private X server (Xvfb) of its own for a test, and the xdotool commands
// that click and type on it as a user would. The server goes with the object.
class VirtualDisplay {
  public:
    // Starts the server; isRunning() tells whether it came up.
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;

    bool isRunning() const { return !name_.isEmpty(); }
    // This process's environment for a Qt program that runs on this display.
    QProcessEnvironment programEnvironment() const;

    // Runs xdotool with `arguments` on this display; its output, or nullopt
    // when it failed or took longer than `timeoutMs`.
    std::optional<QString> xdotool(const QStringList &arguments, int timeoutMs = 10000) const;

  private:
    QProcess server_;
    QString name_; // ":N", for DISPLAY
};
