#include "IniFile.h"

#include "FileReplacement.h"
#include "IniText.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// The whole file; nothing when it cannot be read. Only a regular file is read:
// a pipe or a device named as the settings file would block or never end.
std::optional<std::string> readAll(const std::filesystem::path &path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string contents{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        return std::nullopt;
    return contents;
}

// The file a write replaces: `path` itself, or the file its symbolic links
// lead to, which need not exist yet. Nothing for links that go round in a
// circle or cannot be read.
std::optional<std::filesystem::path> writeTarget(std::filesystem::path path)
{
    // As many links as the system itself follows before it gives up.
    for (int links = 0; links < 40; ++links) {
        std::error_code error;
        if (!std::filesystem::is_symlink(path, error))
            return path;
        const std::filesystem::path next = std::filesystem::read_symlink(path, error);
        if (error)
            return std::nullopt;
        path = path.parent_path() / next; // an absolute `next` replaces the folder
    }
    return std::nullopt;
}

bool isReadOnly(const std::filesystem::path &path, const struct stat &status)
{
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.c_str(), W_OK) != 0;
}

} // namespace

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const
{
    if (const auto contents = readAll(path_)) {
        if (auto value = IniText(*contents).value(section, key))
            return *value;
    }
    return std::string(defaultValue);
}

bool IniFile::writeString(std::string_view section, std::string_view key, std::string_view value)
{
    const auto found = writeTarget(path_);
    if (!found)
        return false;
    const std::filesystem::path &target = *found;
    IniText text;
    struct stat status {};
    if (stat(target.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode) || isReadOnly(target, status))
            return false;
        auto contents = readAll(target);
        if (!contents)
            return false;
        text = IniText(std::move(*contents));
    } else if (errno != ENOENT) {
        return false;
    }
    const std::string before = text.text();
    text.setValue(section, key, value);
    if (text.text() == before)
        return true;
    try {
        FileReplacement replacement(target);
        replacement.write(text.text());
        replacement.commit();
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}
