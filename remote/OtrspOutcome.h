#pragma once

#include "RemoteRoute.h"

#include <optional>
#include <string>
#include <vector>

// A line the OTRSP device sends to one client without being asked: "$RX1S\r".
struct OtrspEvent {
    int client;
    std::string text;
};

// What one OTRSP line did: the answer to the client that sent it, the events
// other clients are sent, and what the program is asked to do.
struct OtrspOutcome {
    std::string answer; // ends in CR; empty when the line asks for none
    std::vector<OtrspEvent> events;
    std::optional<RemoteRoute> route;
    std::optional<int> transmitFocus; // 1 or 2
    bool muteToggle = false;
    bool powerToggle = false;
};
