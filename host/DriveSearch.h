// Finds the drive (dB) at which a measure that rises with it (a render's
// integrated loudness) meets a target, in as few measurements as it can:
// secant steps from a first guess until the target is bracketed, then
// regula falsi inside the bracket, falling back to halving when a step
// would land at (or beyond) one of its ends.
//
// It stops within the tolerance, at the end of the drive range when the
// target lies beyond it, when the bracket has shrunk to nothing (a measure
// that jumps over the target), or after the last measurement allowed; the
// result is then the closest drive measured.
#pragma once

#include <functional>

class DriveSearch
{
public:
    struct Result
    {
        double drive = 0.0;
        double measured = 0.0; // at that drive
        int passes = 0;        // measurements made
        bool reached = false;  // within the tolerance
    };

    DriveSearch(double lowest, double highest, double tolerance, int maxPasses)
        : lowest(lowest), highest(highest), tolerance(tolerance), maxPasses(maxPasses)
    {
    }

    // `firstGuess` is clamped to the range.
    Result run(const std::function<double(double drive)>& measure, double target, double firstGuess) const;

private:
    double lowest;
    double highest;
    double tolerance;
    int maxPasses;
};
