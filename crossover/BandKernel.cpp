#include "crossover/BandKernel.h"

#include <algorithm>
#include <cstring>

void BandKernel::setChannelCount(int c)
{
    c = std::clamp(c, 0, kMaxChannels);
    const int previous = std::clamp(channelCount, 0, kMaxChannels);
    const int length = channels[0].count<float>();
    for (int j = previous; j < c; ++j) {
        GrowableBuffer& target = channels[j];
        target.resize(length * static_cast<int>(sizeof(float)));
        const int filled = target.size();
        if (filled == 0)
            continue;
        if (previous == 0) {
            std::memset(target.data(), 0, static_cast<std::size_t>(filled));
            continue;
        }
        const GrowableBuffer& source = channels[(j - previous) % previous];
        const int copied = std::min(filled, source.size());
        if (copied > 0)
            std::memcpy(target.data(), source.data(), static_cast<std::size_t>(copied));
        if (copied < filled)
            std::memset(target.as<char>() + copied, 0, static_cast<std::size_t>(filled - copied));
    }
    for (int j = c; j < previous; ++j)
        channels[j].release();
    channelCount = c;
}

int BandKernel::tapCount(int channel) const
{
    if (channel < 0 || channel >= kMaxChannels)
        return 0;
    return channels[channel].count<float>();
}

float* BandKernel::taps(int channel)
{
    if (channel < 0 || channel >= kMaxChannels)
        return nullptr;
    return channels[channel].size() > 0 ? channels[channel].as<float>() : nullptr;
}

const float* BandKernel::taps(int channel) const
{
    if (channel < 0 || channel >= kMaxChannels)
        return nullptr;
    return channels[channel].size() > 0 ? channels[channel].as<float>() : nullptr;
}
