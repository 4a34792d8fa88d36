#pragma once

#include "DeviceListing.h"

#include <string>
#include <utility>
#include <vector>

// What the mixing library asks of its connection to a sound server, whichever
// server it is: locking its loop, connecting, telling a live connection from
// a lost one, and saying why a call failed.
//
// Every method except the constructor and destructor is called with the loop
// locked, from a thread other than the loop thread.
class ServerConnection {
  public:
    using Direction = DeviceListing::Direction;
    using Device = DeviceListing::Device;
    // The client's properties, name and value (application.name, ...).
    using Properties = std::vector<std::pair<std::string, std::string>>;

    virtual ~ServerConnection() = default;
    ServerConnection(const ServerConnection &) = delete;
    ServerConnection &operator=(const ServerConnection &) = delete;

    virtual void lock() = 0;
    virtual void unlock() = 0;

    // Connects without ever starting a server; true once ready. A ready
    // connection is kept as it is. Says nothing on failure: see report().
    virtual bool connect() = 0;
    virtual void disconnect() = 0;
    // True while connected and answering.
    virtual bool ready() const = 0;
    // True when a connection was made and then lost or gave up.
    virtual bool broken() const = 0;
    // Treats the server as gone after it failed to answer in time, so that
    // the next calls fail at once instead of each waiting out the timeout.
    void giveUp() { unresponsive_ = true; }

    // Says on standard error that `what` failed and why, in the server's own
    // words: one line per call, so call it once per failed operation.
    void report(const std::string &what) const;

  protected:
    // `client`: the properties the client names itself with to the server.
    explicit ServerConnection(const Properties &client);

    // Why the connection or its last call failed, as the server said it; ""
    // when there is no connection to ask.
    virtual std::string failure() const = 0;

    // Why the connection failed, for a report.
    std::string reason() const;

    bool unresponsive_ = false;

  private:
    std::string clientName_; // what a report begins with
};
