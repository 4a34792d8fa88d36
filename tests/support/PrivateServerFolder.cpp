#include "PrivateServerFolder.h"

#include <cstdlib>
#include <filesystem>

PrivateServerFolder::PrivateServerFolder()
{
    char pattern[] = "/tmp/kaldra-e2e.XXXXXX";
    if (mkdtemp(pattern) != nullptr)
        path_ = pattern;
}

PrivateServerFolder::~PrivateServerFolder()
{
    if (path_.empty())
        return;
    script("stop");
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

int PrivateServerFolder::script(const std::string &command, const std::string &sink) const
{
    return std::system((std::string(KALDRA_SOUND_SERVER) + " " + command + " " + path_ + " " +
                        sink + " >/dev/null")
                           .c_str());
}
