#pragma once

#include <cstdint>
#include <string_view>

// Converts a settings value to a signed 32-bit integer. The text is upper-cased
// first (ASCII letters), then must be: optional leading blanks (space or tab),
// an optional "-" or "+", and either decimal digits whose value lies within the
// signed 32-bit range, or one to eight hexadecimal digits after "$", "X" or
// "0X", taken as a 32-bit pattern ("$FFFFFFFF" is -1). A sign in front of a
// hexadecimal pattern negates the pattern, wrapping at 32 bits ("-$FFFFFFFF" is
// 1). Nothing may follow the digits.
//
// Throws SettingsError "'%s' is not a valid integer value", with the
// upper-cased text in place of %s, for anything else, an empty text included.
// Control characters in that text are shown as \xNN (a NUL as \x00), so the
// message carries the whole value.
std::int32_t convertToInteger(std::string_view text);
