#include "VirtualDisplay.h"

VirtualDisplay::VirtualDisplay()
{
    // -displayfd: the server picks a free display and writes its number.
    server_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-dpi", "96",
                           "-nolisten", "tcp", "-noreset"});
    if (!server_.waitForStarted(5000))
        return;
    QByteArray number;
    while (!number.contains('\n') && server_.waitForReadyRead(10000))
        number += server_.readAllStandardOutput();
    if (number.contains('\n'))
        name_ = ":" + QString::fromLatin1(number).trimmed();
}

VirtualDisplay::~VirtualDisplay()
{
    if (server_.state() == QProcess::NotRunning)
        return;
    server_.terminate();
    if (!server_.waitForFinished(5000)) {
        server_.kill();
        server_.waitForFinished(5000);
    }
}

QProcessEnvironment VirtualDisplay::programEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", name_);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.remove("WAYLAND_DISPLAY");
    return environment;
}

std::optional<QString> VirtualDisplay::xdotool(const QStringList &arguments, int timeoutMs) const
{
    QProcess tool;
    tool.setProcessEnvironment(programEnvironment());
    tool.start("xdotool", arguments);
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished(5000);
        return std::nullopt;
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}
