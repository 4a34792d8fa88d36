// Feeds arbitrary bytes, cut into chunks, from two clients to the OTRSP line
// reader and device, checking what must always hold.

#include "OtrspDevice.h"
#include "OtrspLineReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool isRouteCommand(const std::string &text)
{
    for (const char *command : {"RX1", "RX2", "RX1S", "RX2S", "RX1R", "RX2R"})
        if (text == command)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    OtrspDevice device;
    const int clients[2] = {device.addClient(), device.addClient()};
    OtrspLineReader readers[2];
    std::size_t at = 0;
    // Each chunk: one byte picks the client and the length, then the bytes.
    while (at < size) {
        const std::uint8_t head = data[at++];
        const int which = head & 1;
        const std::size_t length = std::min<std::size_t>(head >> 1, size - at);
        const std::string_view chunk(reinterpret_cast<const char *>(data + at), length);
        at += length;
        for (const std::string &line : readers[which].feed(chunk)) {
            require(line.size() <= OtrspLineReader::kMaxLineLength);
            const OtrspOutcome outcome = device.handleLine(clients[which], line);
            require(outcome.answer.empty() || outcome.answer.back() == '\r');
            for (const OtrspEvent &event : outcome.events)
                require(event.client != clients[which] && event.text.front() == '$' &&
                        event.text.back() == '\r');
            require(isRouteCommand(device.routeCommand()));
            require(device.transmitFocus() == 1 || device.transmitFocus() == 2);
        }
    }
    return 0;
}
