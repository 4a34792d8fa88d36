#include "OtrspDevice.h"

#include "AsciiCase.h"

#include <charconv>

namespace {

constexpr int kMaxAuxValue = 255;

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

// "1" or "0" after `prefix`: the flag, or nothing for anything else.
std::optional<bool> flagAfter(std::string_view command, std::string_view prefix)
{
    if (command.size() != prefix.size() + 1 || command.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    if (command.back() == '1')
        return true;
    if (command.back() == '0')
        return false;
    return std::nullopt;
}

std::string flagText(std::string_view name, bool on)
{
    return std::string(name) + (on ? "1\r" : "0\r");
}

} // namespace

int OtrspDevice::addClient()
{
    const int client = nextClient_++;
    clients_[client] = Client{};
    return client;
}

void OtrspDevice::removeClient(int client)
{
    clients_.erase(client);
}

std::string OtrspDevice::routeCommand() const
{
    std::string command = "RX" + std::to_string(focus_);
    if (route_ == RemoteRoute::Stereo)
        command += 'S';
    else if (route_ == RemoteRoute::Reverse)
        command += 'R';
    return command;
}

std::vector<OtrspEvent> OtrspDevice::eventsFor(int except, bool Client::*wants,
                                               const std::string &text) const
{
    std::vector<OtrspEvent> events;
    for (const auto &[client, flags] : clients_)
        if (client != except && flags.*wants)
            events.push_back({client, text});
    return events;
}

std::vector<OtrspEvent> OtrspDevice::showRoute(RemoteRoute route, bool byOperator)
{
    route_ = route;
    if (route == RemoteRoute::Rig1)
        focus_ = 1;
    else if (route == RemoteRoute::Rig2)
        focus_ = 2;
    if (!byOperator)
        return {};
    return eventsFor(0, &Client::routeEvents, "$" + routeCommand() + "\r");
}

OtrspOutcome OtrspDevice::handleLine(int client, std::string_view line)
{
    OtrspOutcome outcome;
    const std::string command = upperCased(trimmed(line));
    const auto clientFlags = clients_.find(client);

    if (command == "?")
        outcome.answer = "?\r";
    else if (command == "?NAME")
        outcome.answer = "NAMEKALDRA\r";
    else if (command == "?RX")
        outcome.answer = routeCommand() + "\r";
    else if (command == "?TX")
        outcome.answer = "TX" + std::to_string(transmitFocus_) + "\r";
    else if (command == "?AUX1" || command == "?AUX2")
        outcome.answer = command.substr(1) + std::to_string(aux_[command.back() - '1']) + "\r";
    else if (command == "?VLATCH")
        outcome.answer = flagText("VLATCH", latch_);
    else if (command == "?VMONO")
        outcome.answer = flagText("VMONO", mono_);
    else if (command == "VMUTE")
        outcome.muteToggle = true;
    else if (command == "VPOWER")
        outcome.powerToggle = true;
    else if (const auto on = flagAfter(command, "VLATCH"))
        latch_ = *on;
    else if (const auto on = flagAfter(command, "VMONO"))
        mono_ = *on;
    else if (const auto on = flagAfter(command, "ERX")) {
        if (clientFlags != clients_.end())
            clientFlags->second.routeEvents = *on;
    } else if (const auto on = flagAfter(command, "ETX")) {
        if (clientFlags != clients_.end())
            clientFlags->second.transmitEvents = *on;
    } else if (command == "TX1" || command == "TX2") {
        transmitFocus_ = command.back() - '0';
        outcome.transmitFocus = transmitFocus_;
        outcome.events = eventsFor(client, &Client::transmitEvents, "$" + command + "\r");
    } else if ((command.size() == 3 || command.size() == 4) && command.starts_with("RX") &&
               (command[2] == '1' || command[2] == '2')) {
        const char kind = command.size() == 4 ? command[3] : ' ';
        const int focus = command[2] - '0';
        std::optional<RemoteRoute> route;
        if (kind == ' ')
            route = focus == 1 ? RemoteRoute::Rig1 : RemoteRoute::Rig2;
        else if (kind == 'S')
            route = RemoteRoute::Stereo;
        else if (kind == 'R')
            route = RemoteRoute::Reverse;
        if (route) {
            route_ = *route;
            focus_ = focus;
            outcome.route = route;
            outcome.events = eventsFor(client, &Client::routeEvents, "$" + routeCommand() + "\r");
        }
    } else if (command.size() > 4 && command.size() <= 7 && command.starts_with("AUX") &&
               (command[3] == '1' || command[3] == '2')) {
        int value = -1;
        const char *digits = command.data() + 4;
        const char *end = command.data() + command.size();
        const auto [stop, error] = std::from_chars(digits, end, value);
        if (error == std::errc{} && stop == end && value >= 0 && value <= kMaxAuxValue)
            aux_[command[3] - '1'] = value;
    }
    return outcome;
}
