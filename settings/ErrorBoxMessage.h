#pragma once

#include <string>
#include <string_view>

// The text the application's error box shows for an error's message: the
// message with a full stop added when its last character lies above "." in the
// character set (a letter, a digit, "/", ":", any byte above 127), so that
// "Unable to write to /x/KALDRA.INI" gains one while a message ending in ".",
// "!", a blank, a quote mark or ")" is left alone. An empty message stays empty.
std::string errorBoxMessage(std::string_view message);
