#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>

// The interpolating filters' shared kernel.
namespace WindowedSinc {

// sin(pi x) / (pi x), 1 at 0.
inline double sinc(double x)
{
    return x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}

// The taps that read a signal `fraction` (in [0, 1)) of a frame past the
// frame at tap `before`: the sinc times `window`, which is given the distance
// over half the taps' width, in [-1, 1]. Scaled to sum to 1, so that a steady
// level comes out the same at every fraction rather than flutter.
template <std::size_t Taps, typename Window>
std::array<float, Taps> taps(std::size_t before, double fraction, Window window)
{
    constexpr double kHalfWidth = Taps / 2.0;
    std::array<double, Taps> weights{};
    double sum = 0.0;
    for (std::size_t tap = 0; tap < Taps; ++tap) {
        const double distance = static_cast<double>(tap) - static_cast<double>(before) - fraction;
        weights[tap] = sinc(distance) * window(distance / kHalfWidth);
        sum += weights[tap];
    }
    std::array<float, Taps> scaled{};
    for (std::size_t tap = 0; tap < Taps; ++tap)
        scaled[tap] = static_cast<float>(weights[tap] / sum);
    return scaled;
}

} // namespace WindowedSinc
