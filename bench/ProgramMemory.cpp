#include "ProgramMemory.h"

#include "StepDeadline.h"
#include "VirtualDisplay.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

const char *const kSettings = "[SETTINGS]\n"
                              "INPUT1=1\n"
                              "INPUT2=2\n"
                              "INPUT3=3\n"
                              "OUTPUT=-1\n"
                              "MODE=4\n";

// Long enough for the memory to level off: the server's pool pages that the
// captures map come in over the first seconds.
constexpr unsigned long kPoweredOnMs = 10000;
constexpr std::chrono::seconds kLimit{90};

// VmRSS of `pid` in MiB; throws when /proc does not tell.
double residentMib(qint64 pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    throw std::runtime_error("/proc gives no VmRSS for the program");
}

// The program powered on through `backend` ("PulseAudio" or "PipeWire", as
// it says on starting); its resident MiB.
double poweredOnResidentMib(const VirtualDisplay &display, const QString &backend)
{
    QTemporaryDir folder;
    QFile settings(QDir(folder.path()).filePath("KALDRA.INI"));
    if (!folder.isValid() || !settings.open(QIODevice::WriteOnly) || settings.write(kSettings) < 0)
        throw std::runtime_error("no settings folder");
    settings.close();

    QProcessEnvironment environment = display.programEnvironment();
    // Its command socket in the folder, where `--send` finds it.
    environment.insert("XDG_RUNTIME_DIR", folder.path());
    if (backend == "PipeWire")
        environment.remove("PULSE_SERVER");
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(folder.path());
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(KALDRA_PROGRAM, QStringList{});
    const auto stop = [&program] {
        program.terminate();
        if (!program.waitForFinished(5000))
            program.kill();
        program.waitForFinished(5000);
    };
    try {
        QByteArray said;
        const QByteArray expected = "sound through " + backend.toLatin1();
        while (!said.contains(expected) && program.waitForReadyRead(20000))
            said += program.readAll();
        if (!said.contains(expected))
            throw std::runtime_error("the program did not say \"" + expected.toStdString() +
                                     "\": " + said.toStdString());
        // Its command socket opens a while after it names its sound server.
        bool delivered = false;
        QByteArray refused;
        for (int attempt = 0; attempt < 50 && !delivered; ++attempt) {
            QProcess sender;
            sender.setProcessEnvironment(environment);
            sender.setProcessChannelMode(QProcess::MergedChannels);
            sender.start(KALDRA_PROGRAM, {"--send", "VPOWER"});
            delivered = sender.waitForFinished(10000) && sender.exitCode() == 0;
            refused = sender.readAll();
            if (!delivered)
                QThread::msleep(200);
        }
        if (!delivered)
            throw std::runtime_error("kaldra --send VPOWER failed: " + refused.toStdString());
        QThread::msleep(kPoweredOnMs);
        if (program.state() != QProcess::Running)
            throw std::runtime_error("the program ended: " + program.readAll().toStdString());
        const double resident = residentMib(program.processId());
        stop();
        return resident;
    } catch (...) {
        stop();
        throw;
    }
}

} // namespace

int runProgramMemory()
{
    StepDeadline deadline("the program's memory", kLimit);
    try {
        deadline.step("starting Xvfb");
        const VirtualDisplay display;
        if (!display.isRunning())
            throw std::runtime_error("Xvfb did not start (scripts/setup.sh installs it)");
        deadline.step("the program on the pulse protocol");
        std::printf("program_rss_mb=%.1f\n", poweredOnResidentMib(display, "PulseAudio"));
        if (std::getenv("PIPEWIRE_RUNTIME_DIR") != nullptr) {
            deadline.step("the program on PipeWire's own API");
            std::printf("native_program_rss_mb=%.1f\n", poweredOnResidentMib(display, "PipeWire"));
        }
        return 0;
    } catch (const std::exception &error) {
        std::printf("# the program's memory measured nothing: %s\n", error.what());
        return 1;
    }
}
