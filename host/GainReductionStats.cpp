#include "GainReductionStats.h"

#include <algorithm>

void GainReductionStats::add(const std::array<float, GainReductionSummary::kInstances>& blockDb, std::int64_t frames)
{
    if (frames <= 0)
        return;
    totalFrames += frames;
    for (std::size_t i = 0; i < blockDb.size(); ++i)
    {
        weighted[i] += static_cast<double>(blockDb[i]) * static_cast<double>(frames);
        largest[i] = std::max(largest[i], static_cast<double>(blockDb[i]));
        if (blockDb[i] > kLimitingDb)
            limitingFrames[i] += frames;
    }
}

GainReductionSummary GainReductionStats::summary() const
{
    GainReductionSummary s;
    s.present = totalFrames > 0;
    for (std::size_t i = 0; s.present && i < weighted.size(); ++i)
    {
        s.meanDb[i] = weighted[i] / static_cast<double>(totalFrames);
        s.maxDb[i] = largest[i];
        s.limitingShare[i] = static_cast<double>(limitingFrames[i]) / static_cast<double>(totalFrames);
    }
    return s;
}
