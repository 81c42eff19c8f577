// Plain operations on one block of planar stereo audio (two channel
// pointers), shared by the engine and the inner instances' runner.
#pragma once

#include <cstddef>
#include <cstring>

namespace StereoBlock
{
inline void zero(float* const* channels, int n)
{
    if (n <= 0)
        return;
    for (int c = 0; c < 2; ++c)
        std::memset(channels[c], 0, sizeof(float) * static_cast<std::size_t>(n));
}

// Channels may be the same buffers (nothing to do) or overlap.
inline void copy(float* const* to, const float* const* from, int n)
{
    if (n <= 0)
        return;
    for (int c = 0; c < 2; ++c)
        if (to[c] != from[c])
            std::memmove(to[c], from[c], sizeof(float) * static_cast<std::size_t>(n));
}
} // namespace StereoBlock
