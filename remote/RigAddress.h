#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>

// Where a rig's transmit state is read: a Hamlib rigctld or an flrig,
// written "rigctld HOST:PORT" or "flrig HOST:PORT" in the settings file.
struct RigAddress {
    enum class Program { Rigctld, Flrig };

    Program program = Program::Rigctld;
    std::string host;
    quint16 port = 0;

    struct Parsed;
    // The program's name in any case, one or more blanks, HOST:PORT; nothing
    // else. Never throws.
    static Parsed parse(std::string_view value);

    std::string hostAndPort() const; // "HOST:PORT", as Hamlib takes it
    QString text() const;            // "rigctld HOST:PORT", as the operator wrote it
};

struct RigAddress::Parsed {
    std::optional<RigAddress> address;
    QString problem; // why the value was refused, in words; empty when read
};
