#include "CommandClient.h"

#include "RuntimeFolder.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QStringList>

namespace {

constexpr int kConnectMilliseconds = 1000;
constexpr int kAnswerMilliseconds = 3000;

} // namespace

int sendToRunningProgram(const QString &text, std::ostream &out, std::ostream &err)
{
    const RuntimeFolder runtime = kaldraRuntimeFolder();
    if (runtime.path.empty()) {
        err << "kaldra: " << runtime.note.toLocal8Bit().constData() << '\n';
        return 1;
    }
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString((runtime.path / kCommandSocketName).string()));
    if (!socket.waitForConnected(kConnectMilliseconds)) {
        err << "kaldra: no KALDRA is running (nothing answers on "
            << (runtime.path / kCommandSocketName).string() << ")\n";
        return 1;
    }

    // One line per word, then the empty line that ends the batch.
    QByteArray batch;
    for (const QString &line : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        batch += line.toUtf8() + '\r';
    batch += '\r';
    socket.write(batch);

    // The program closes the connection once it has answered the whole batch.
    QByteArray answers;
    const QDeadlineTimer deadline(kAnswerMilliseconds);
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        answers += socket.readAll();
    }
    answers += socket.readAll();
    if (socket.state() == QLocalSocket::ConnectedState) {
        err << "kaldra: the running KALDRA did not finish answering\n";
        return 1;
    }
    for (const QByteArray &answer : answers.split('\r'))
        if (!answer.isEmpty())
            out << answer.constData() << '\n';
    return 0;
}
