#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The contents of an INI file, read and changed the way the platform's
// private-profile service does it, without touching the disk.
//
// - A line whose first non-blank character is "[" starts a section; its name
//   runs to the next "]" (or to the end of the line), without surrounding
//   blanks. A line whose first non-blank character is ";" is a comment.
// - Any other line with "=" in a section is a key: the name before the first
//   "=", the value after it, both without surrounding blanks (space, tab).
//   A value enclosed in a pair of double or single quote marks is read
//   without them (one pair only).
// - Section and key names are compared without case (ASCII letters). When a
//   name occurs twice, the first one counts, for reading and for writing.
// - Lines end in "\n" or "\r\n"; the last line may have no ending, or a
//   lone "\r". A UTF-8 byte-order mark at the start is kept and skipped.
class IniText {
  public:
    explicit IniText(std::string text = {}) : text_(std::move(text)) {}

    // The value of `key` in `section`; nothing when either is missing.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Sets `key` in `section` to `value`. An existing key keeps its line and its
    // spelling, only the text after its "=" is replaced; a missing key is added
    // after the last key of its section (right after the header of an empty
    // one); a missing section is added at the end. Every other byte stays as it
    // was, except that a last line without an ending gets one when something is
    // added after it. New lines take the ending of the text's first line ("\n"
    // in a text without any).
    //
    // Throws std::invalid_argument for names or values that the format cannot
    // hold: an empty or blank-edged section or key name, a line break, "]" in
    // a section name, "=" in a key name, a key name starting with "[" or ";",
    // or a value with surrounding blanks or quote marks (it would read back
    // without them).
    void setValue(std::string_view section, std::string_view key, std::string_view value);
    // Whether a value reads back as written (setValue refuses it otherwise).
    static bool canHold(std::string_view value);

    const std::string &text() const { return text_; }

  private:
    std::string text_;
};
