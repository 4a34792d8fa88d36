// Feeds arbitrary bytes to the RadioInfo reader as a series of datagrams, each
// read twice, checking that a datagram never asks for a route its twin just
// asked for. The XML parser is not instrumented, so the fuzzer cannot find the
// element names itself: half the datagrams are the fuzzer's bytes put into the
// fields of a RadioInfo datagram, the rest are taken as they are.

#include "RadioInfoReader.h"

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// "stereo|focus|active|transmitting|tail" into a RadioInfo datagram.
QByteArray inTemplate(const QByteArray &bytes)
{
    QList<QByteArray> fields = bytes.split('|');
    while (fields.size() < 5)
        fields.append(QByteArray());
    return "<?xml version=\"1.0\"?><RadioInfo><IsStereo>" + fields[0] +
           "</IsStereo><FocusRadioNr>" + fields[1] + "</FocusRadioNr><ActiveRadioNr>" + fields[2] +
           "</ActiveRadioNr><IsTransmitting>" + fields[3] + "</IsTransmitting>" + fields[4] +
           "</RadioInfo>";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    RadioInfoReader reader;
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    for (const QByteArray &part : input.split('\n')) {
        const bool templated = !part.isEmpty() && (part[0] & 1);
        const QByteArray datagram = templated ? inTemplate(part.mid(1)) : part;
        const RadioInfoReader::Outcome first = reader.read(datagram);
        const RadioInfoReader::Outcome again = reader.read(datagram);
        require(!again.route && first.radioInfo == again.radioInfo);
        require(first.problem.isEmpty() || (!first.radioInfo && !first.route));
    }
    return 0;
}
