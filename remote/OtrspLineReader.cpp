#include "OtrspLineReader.h"

std::vector<std::string> OtrspLineReader::feed(std::string_view bytes)
{
    std::vector<std::string> lines;
    for (const char byte : bytes) {
        const bool lineFeed = byte == '\n';
        if (lineFeed && afterCarriageReturn_) {
            afterCarriageReturn_ = false;
            continue;
        }
        afterCarriageReturn_ = byte == '\r';
        if (lineFeed || afterCarriageReturn_) {
            if (!discarding_)
                lines.push_back(partial_);
            partial_.clear();
            discarding_ = false;
        } else if (!discarding_) {
            if (partial_.size() == kMaxLineLength) {
                partial_.clear();
                discarding_ = true;
            } else {
                partial_.push_back(byte);
            }
        }
    }
    return lines;
}
