#include "ServerConnection.h"

#include <algorithm>
#include <cstdio>

ServerConnection::ServerConnection(const Properties &client) : clientName_("sound")
{
    // Both servers' client libraries name this property alike.
    const auto named =
        std::ranges::find(client, std::string("application.name"), &Properties::value_type::first);
    if (named != client.end())
        clientName_ = named->second;
}

std::string ServerConnection::reason() const
{
    if (unresponsive_)
        return "the sound server did not answer in time";
    std::string why = failure();
    return why.empty() ? "no connection to the sound server" : why;
}

void ServerConnection::report(const std::string &what) const
{
    std::fprintf(stderr, "%s: %s failed: %s\n", clientName_.c_str(), what.c_str(),
                 reason().c_str());
}
