#include "DriveSearch.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace
{
// Rise per dB of drive assumed before two points give a better figure:
// unlimited material rises 1 LU per dB, limited material less.
constexpr double kAssumedSlope = 0.8;
// Outside the bracket no step goes further than this (dB).
constexpr double kLongestStep = 12.0;
// Bracket width (dB) below which the drive cannot be placed more finely.
constexpr double kNarrowest = 0.002;

struct Point
{
    double drive;
    double error; // measured - target
};
} // namespace

DriveSearch::Result DriveSearch::run(const std::function<double(double)>& measure, double target,
                                     double firstGuess) const
{
    Result best;
    std::optional<Point> below, above, last;
    double drive = std::clamp(firstGuess, lowest, highest);
    for (;;)
    {
        const double measured = measure(drive);
        const Point point{drive, measured - target};
        ++best.passes;
        if (best.passes == 1 || std::fabs(point.error) < std::fabs(best.measured - target))
        {
            best.drive = drive;
            best.measured = measured;
        }
        if (std::fabs(point.error) <= tolerance)
        {
            best.reached = true;
            return best;
        }
        if (best.passes >= maxPasses)
            return best;
        if (point.error < 0.0)
        {
            below = point;
            if (drive >= highest)
                return best; // out of reach: louder than the loudest drive
        }
        else
        {
            above = point;
            if (drive <= lowest)
                return best; // out of reach: quieter than the softest drive
        }

        double next;
        if (below && above)
        {
            if (above->drive - below->drive < kNarrowest)
                return best;
            next = below->drive - below->error * (above->drive - below->drive) / (above->error - below->error);
            const double margin = 0.01 * (above->drive - below->drive);
            if (!(next > below->drive + margin && next < above->drive - margin))
                next = 0.5 * (below->drive + above->drive);
        }
        else
        {
            double slope = kAssumedSlope;
            if (last && std::fabs(point.drive - last->drive) > 1e-9)
            {
                const double seen = (point.error - last->error) / (point.drive - last->drive);
                if (seen > 0.05)
                    slope = seen;
            }
            const double step = std::clamp(-point.error / slope, -kLongestStep, kLongestStep);
            next = std::clamp(drive + step, lowest, highest);
        }
        last = point;
        drive = next;
    }
}
