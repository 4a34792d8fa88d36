#pragma once

#include "OtrspOutcome.h"
#include "RemoteRoute.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

// The OTRSP device that loggers talk to as to an SO2R box, without any input
// or output of its own: lines in, answers, events and requests out. The state
// (route with its focus digit, transmit focus, AUX values, latch, mono) is the
// one device's; whether events are on is each client's, off when it comes.
//
// Commands, letters in any case: RX1 RX2 RX1S RX2S RX1R RX2R, TX1 TX2, AUX1n
// AUX2n, ERX1 ERX0 ETX1 ETX0, VLATCH1 VLATCH0 VMONO1 VMONO0, and KALDRA's own
// VMUTE and VPOWER (toggles). Queries: ? ?NAME ?RX ?TX ?AUX1 ?AUX2 ?VLATCH
// ?VMONO. Anything else is ignored. A change one client makes is an event for
// every other client that has its events on.
class OtrspDevice {
  public:
    int addClient();
    void removeClient(int client);

    // One line from `client`, without its end.
    OtrspOutcome handleLine(int client, std::string_view line);

    // The route the headphones now play. byOperator: the operator made the
    // change, so every client with RX events on is told.
    std::vector<OtrspEvent> showRoute(RemoteRoute route, bool byOperator);

    RemoteRoute route() const { return route_; }
    std::string routeCommand() const; // the route as an RX command: "RX2S"
    int transmitFocus() const { return transmitFocus_; }
    bool latch() const { return latch_; }
    void setLatch(bool on) { latch_ = on; } // the operator's own switch
    bool mono() const { return mono_; }

  private:
    struct Client {
        bool routeEvents = false;
        bool transmitEvents = false;
    };

    std::vector<OtrspEvent> eventsFor(int except, bool Client::*wants,
                                      const std::string &text) const;

    std::map<int, Client> clients_;
    int nextClient_ = 1;
    RemoteRoute route_ = RemoteRoute::Stereo;
    int focus_ = 1; // the digit of RX1S, RX2R: which radio has the focus
    int transmitFocus_ = 1;
    int aux_[2] = {0, 0};
    bool latch_ = false;
    bool mono_ = false;
};
