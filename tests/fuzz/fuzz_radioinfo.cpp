// Feeds arbitrary bytes as RadioInfo datagrams, twice each, checking that a
// datagram never asks for a route its twin already asked for.

#include "RadioInfoReader.h"

#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    RadioInfoReader reader;
    const QByteArrayView datagram(data, static_cast<qsizetype>(size));
    const RadioInfoReader::Outcome first = reader.read(datagram);
    const RadioInfoReader::Outcome again = reader.read(datagram);
    if (again.route || first.radioInfo != again.radioInfo)
        std::abort();
    if (!first.problem.isEmpty() && (first.radioInfo || first.route))
        std::abort();
    return 0;
}
