#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Cuts the bytes of one OTRSP client into lines. A line ends in CR, LF or
// CR LF (one end, not two). A line longer than kMaxLineLength bytes is
// discarded up to its end, so memory stays bounded whatever arrives; any byte
// value is taken as it is.
class OtrspLineReader {
  public:
    static constexpr std::size_t kMaxLineLength = 256;

    // The lines that `bytes` completes, without their ends; empty lines
    // included (the command socket ends a batch with one).
    std::vector<std::string> feed(std::string_view bytes);

  private:
    std::string partial_;
    bool discarding_ = false;          // the line now arriving is too long
    bool afterCarriageReturn_ = false; // a LF right now ends no further line
};
