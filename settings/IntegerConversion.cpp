#include "IntegerConversion.h"

#include "AsciiCase.h"
#include "SettingsError.h"

#include <optional>
#include <string>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::optional<std::uint32_t> hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<std::uint32_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<std::uint32_t>(c - 'A' + 10);
    return std::nullopt;
}

// Everything after the sign; the magnitude as an unsigned 32-bit pattern.
std::optional<std::uint32_t> hexPattern(std::string_view digits)
{
    if (digits.empty() || digits.size() > 8)
        return std::nullopt;
    std::uint32_t pattern = 0;
    for (char c : digits) {
        const auto digit = hexDigitValue(c);
        if (!digit)
            return std::nullopt;
        pattern = (pattern << 4) | *digit;
    }
    return pattern;
}

std::optional<std::int32_t> decimalValue(std::string_view digits, bool negative)
{
    if (digits.empty())
        return std::nullopt;
    // 2^31 is the largest magnitude, reached only by the negative end.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::optional<std::int32_t> convert(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::optional<std::uint32_t> pattern;
    if (text.starts_with('$') || text.starts_with('X'))
        pattern = hexPattern(text.substr(1));
    else if (text.starts_with("0X"))
        pattern = hexPattern(text.substr(2));
    else
        return decimalValue(text, negative);
    if (!pattern)
        return std::nullopt;
    // Unsigned arithmetic wraps, and the conversion to signed is modular.
    return static_cast<std::int32_t>(negative ? 0U - *pattern : *pattern);
}

// The text as the error box can show it whole: a NUL would end the message
// there, and other control characters would garble it.
std::string shownSafely(std::string_view text)
{
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            shown.append("\\x").append(1, kHexDigits[byte >> 4]).append(1, kHexDigits[byte & 0xF]);
        else
            shown += c;
    }
    return shown;
}

} // namespace

std::int32_t convertToInteger(std::string_view text)
{
    const std::string upper = upperCased(text);
    if (const auto value = convert(upper))
        return *value;
    throw SettingsError("'" + shownSafely(upper) + "' is not a valid integer value");
}
