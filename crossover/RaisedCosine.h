// The fade shape of every live change: a raised-cosine rise from 0 (at or
// before frame 0) to 1 (at fadeFrames and after).
#pragma once

#include <cmath>

inline double raisedCosineRise(long long framesIn, int fadeFrames)
{
    if (framesIn <= 0)
        return 0.0;
    if (framesIn >= fadeFrames)
        return 1.0;
    return 0.5 - 0.5 * std::cos(3.14159265358979323846 * static_cast<double>(framesIn) / fadeFrames);
}
