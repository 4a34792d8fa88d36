#include "ErrorBoxMessage.h"

std::string errorBoxMessage(std::string_view message)
{
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
        text += '.';
    return text;
}
