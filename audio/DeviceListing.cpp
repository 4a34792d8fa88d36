#include "DeviceListing.h"

#include <algorithm>
#include <utility>

void DeviceListing::add(Device device)
{
    if (!ended_)
        devices_.push_back(std::move(device));
}

void DeviceListing::finish(bool failed)
{
    ended_ = true;
    failed_ = failed_ || failed;
}

std::optional<std::vector<DeviceListing::Device>> DeviceListing::devices() const
{
    if (!ended_ || failed_)
        return std::nullopt;
    auto sorted = devices_;
    std::ranges::sort(sorted, {}, &Device::name);
    return sorted;
}
