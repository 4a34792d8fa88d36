#include "RigAddress.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool sameWord(std::string_view word, std::string_view lowerCase)
{
    return std::ranges::equal(word, lowerCase, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

RigAddress::Parsed refused(const char *problem)
{
    return {std::nullopt, QString::fromLatin1(problem) +
                              QStringLiteral(" (rigctld HOST:PORT or flrig HOST:PORT)")};
}

} // namespace

RigAddress::Parsed RigAddress::parse(std::string_view value)
{
    while (!value.empty() && isBlank(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && isBlank(value.back()))
        value.remove_suffix(1);
    const auto blank = std::ranges::find_if(value, isBlank);
    const std::string_view program(value.begin(), blank);
    std::string_view where(blank, value.end());
    while (!where.empty() && isBlank(where.front()))
        where.remove_prefix(1);

    RigAddress address;
    if (sameWord(program, "rigctld"))
        address.program = Program::Rigctld;
    else if (sameWord(program, "flrig"))
        address.program = Program::Flrig;
    else
        return refused("names no program");
    if (where.empty())
        return refused("has no HOST:PORT");
    if (std::ranges::any_of(where, isBlank))
        return refused("has more than the program and HOST:PORT");
    const std::size_t colon = where.rfind(':');
    if (colon == std::string_view::npos)
        return refused("has no :PORT");
    if (colon == 0)
        return refused("has no HOST");
    const std::string_view digits = where.substr(colon + 1);
    unsigned port = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        port == 0 || port > 65535)
        return refused("has no port number from 1 to 65535");
    address.host = std::string(where.substr(0, colon));
    address.port = static_cast<quint16>(port);
    return {address, {}};
}

std::string RigAddress::hostAndPort() const
{
    return host + ':' + std::to_string(port);
}

QString RigAddress::text() const
{
    return QString::fromLatin1(program == Program::Flrig ? "flrig " : "rigctld ") +
           QString::fromStdString(hostAndPort());
}
