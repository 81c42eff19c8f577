#include "GainReductionHistory.h"

#include <algorithm>

GainReductionHistory::GainReductionHistory(std::int64_t stepFrames, std::int64_t latency, std::int64_t expectedFrames)
    : step(std::max<std::int64_t>(stepFrames, 1)), position(-std::max<std::int64_t>(latency, 0))
{
    points.reserve(static_cast<std::size_t>(std::max<std::int64_t>(expectedFrames, 0) / step + 2));
}

void GainReductionHistory::add(const Reading& blockDb, std::int64_t frames)
{
    const std::int64_t start = std::max<std::int64_t>(position, 0);
    position += std::max<std::int64_t>(frames, 0);
    if (position <= start)
        return; // wholly within the latency
    const auto first = static_cast<std::size_t>(start / step);
    const auto last = static_cast<std::size_t>((position - 1) / step);
    if (points.size() <= last)
        points.resize(last + 1, Reading{});
    for (std::size_t i = first; i <= last; ++i)
        for (std::size_t k = 0; k < blockDb.size(); ++k)
            points[i][k] = std::max(points[i][k], blockDb[k]);
}

std::vector<GainReductionHistory::Reading> GainReductionHistory::take(std::int64_t fileFrames)
{
    const auto steps = static_cast<std::size_t>((std::max<std::int64_t>(fileFrames, 0) + step - 1) / step);
    points.resize(std::min(points.size(), steps)); // the silence after the file
    return std::move(points);
}
