#include "IniText.h"

#include "AsciiCase.h"

#include <stdexcept>
#include <vector>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool hasBlankEdge(std::string_view s)
{
    return !s.empty() && (isBlank(s.front()) || isBlank(s.back()));
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The platform's service drops one pair of quote marks around a value, so a
// hand-edited INPUT1="3" reads as 3.
bool isQuoted(std::string_view value)
{
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
           value.back() == value.front();
}

enum class LineKind { Other, Section, Key };

// One line of the text, as offsets into it.
struct Line {
    std::size_t begin = 0;
    std::size_t contentEnd = 0; // where the line ending starts
    std::size_t end = 0;        // past the line ending
    LineKind kind = LineKind::Other;
    std::string_view name;      // section or key name, trimmed
    std::size_t valueBegin = 0; // a key's trimmed value, as offsets
    std::size_t valueEnd = 0;
};

Line parseLine(std::string_view text, std::size_t begin, std::size_t contentEnd, std::size_t end)
{
    Line line;
    line.begin = begin;
    line.contentEnd = contentEnd;
    line.end = end;
    const std::string_view content = text.substr(begin, contentEnd - begin);
    const std::string_view body = trimmed(content);
    if (body.starts_with('[')) {
        line.kind = LineKind::Section;
        line.name = trimmed(body.substr(1, body.find(']') - 1));
        return line;
    }
    const std::size_t equals = content.find('=');
    if (body.starts_with(';') || equals == std::string_view::npos)
        return line;
    line.kind = LineKind::Key;
    line.name = trimmed(content.substr(0, equals));
    const std::string_view afterEquals = content.substr(equals + 1);
    const std::string_view value = trimmed(afterEquals);
    line.valueBegin =
        begin + equals + 1 + static_cast<std::size_t>(value.data() - afterEquals.data());
    line.valueEnd = line.valueBegin + value.size();
    return line;
}

std::vector<Line> parseLines(std::string_view text)
{
    std::vector<Line> lines;
    // A byte-order mark, as some editors put in front of UTF-8 text, belongs
    // to no line; nothing is ever inserted in front of it.
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    std::size_t begin = text.starts_with(byteOrderMark) ? byteOrderMark.size() : 0;
    while (begin < text.size()) {
        const std::size_t newline = text.find('\n', begin);
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
        std::size_t contentEnd = newline == std::string_view::npos ? text.size() : newline;
        // A "\r" at the very end is the start of an ending, cut short.
        if (contentEnd > begin && text[contentEnd - 1] == '\r')
            --contentEnd;
        lines.push_back(parseLine(text, begin, contentEnd, end));
        begin = end;
    }
    return lines;
}

// The line of the first section named `section`, and the lines of its keys.
struct SectionLines {
    const Line *header = nullptr;
    std::vector<const Line *> keys;
};

SectionLines findSection(const std::vector<Line> &lines, std::string_view section)
{
    SectionLines found;
    for (const Line &line : lines) {
        if (line.kind == LineKind::Section) {
            if (found.header != nullptr)
                break;
            if (equalIgnoringCase(line.name, section))
                found.header = &line;
        } else if (line.kind == LineKind::Key && found.header != nullptr) {
            found.keys.push_back(&line);
        }
    }
    return found;
}

const Line *findKey(const SectionLines &section, std::string_view key)
{
    for (const Line *line : section.keys)
        if (equalIgnoringCase(line->name, key))
            return line;
    return nullptr;
}

// What completes a line's ending: the text's own ending for a line without
// one, "\n" after a lone "\r" (so that the line keeps its meaning).
std::string_view completion(const Line &line, std::string_view text, std::string_view eol)
{
    const std::string_view ending = text.substr(line.contentEnd, line.end - line.contentEnd);
    if (ending.empty())
        return eol;
    return ending == "\r" ? "\n" : "";
}

std::string_view lineEnding(std::string_view text)
{
    const std::size_t newline = text.find('\n');
    return (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r') ? "\r\n"
                                                                                           : "\n";
}

bool hasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

void checkWritable(std::string_view section, std::string_view key, std::string_view value)
{
    const bool badSection = section.empty() || hasBlankEdge(section) || hasLineBreak(section) ||
                            section.find(']') != std::string_view::npos;
    const bool badKey = key.empty() || hasBlankEdge(key) || hasLineBreak(key) ||
                        key.find('=') != std::string_view::npos || key.starts_with('[') ||
                        key.starts_with(';');
    if (badSection || badKey || !IniText::canHold(value))
        throw std::invalid_argument("an INI file cannot hold this section, key or value");
}

} // namespace

bool IniText::canHold(std::string_view value)
{
    return !hasBlankEdge(value) && !hasLineBreak(value) && !isQuoted(value);
}

std::optional<std::string> IniText::value(std::string_view section, std::string_view key) const
{
    const std::vector<Line> lines = parseLines(text_);
    const Line *line = findKey(findSection(lines, section), key);
    if (line == nullptr)
        return std::nullopt;
    std::string_view value(text_);
    value = value.substr(line->valueBegin, line->valueEnd - line->valueBegin);
    if (isQuoted(value))
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

void IniText::setValue(std::string_view section, std::string_view key, std::string_view value)
{
    checkWritable(section, key, value);
    const std::vector<Line> lines = parseLines(text_);
    const SectionLines found = findSection(lines, section);
    if (const Line *line = findKey(found, key)) {
        text_.replace(line->valueBegin, line->valueEnd - line->valueBegin, value);
        return;
    }
    const std::string eol(lineEnding(text_));
    std::string added;
    std::size_t at = text_.size();
    if (found.header != nullptr) {
        const Line *last = found.keys.empty() ? found.header : found.keys.back();
        at = last->end;
        added += completion(*last, text_, eol);
    } else {
        if (!lines.empty())
            added += completion(lines.back(), text_, eol);
        added.append("[").append(section).append("]").append(eol);
    }
    added.append(key).append("=").append(value).append(eol);
    text_.insert(at, added);
}
