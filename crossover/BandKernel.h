// One band's crossover kernel: up to two channels of float taps. The band
// splitter copies what it needs in setKernel() and keeps no reference to it.
// Not safe for concurrent use; used under the effect lock.
#pragma once

#include "crossover/GrowableBuffer.h"

class BandKernel
{
public:
    static constexpr int kMaxChannels = 2;

    // Design rate in Hz; informational, the splitter ignores it.
    double sampleRate = 44100.0;
    // Float taps; channel i holds channels[i].size() / 4 taps.
    GrowableBuffer channels[kMaxChannels];
    int channelCount = 1;

    // Clamps c to 0..2. New channels take channel 0's length in whole taps
    // and copy the existing channels in turn (zeros if there were none);
    // channels at index c and above are emptied and their memory released.
    // Allocates when channels are added.
    void setChannelCount(int c);

    // Tap count of a channel; 0 for an index outside 0..1.
    int tapCount(int channel) const;
    // The channel's taps, or null when it is empty or the index is out of range.
    float* taps(int channel);
    const float* taps(int channel) const;
};
