// The drive search on measures of known shape: it must land within the
// tolerance in few measurements, and stop at once where the target is out
// of reach, returning the closest drive it measured.
#include "DriveSearch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

TEST(HostDriveSearch, ConvergesOnRisingMeasuresAndStopsWhereTheTargetIsOutOfReach)
{
    // Loudness of a limiter driven d dB: rising 1:1, then saturating.
    const auto saturating = [](double d) { return -22.0 + 14.0 * std::tanh(d / 14.0); };
    // Rising, then falling again at extreme drive.
    const auto humped = [](double d) { return -20.0 + 12.0 * std::sin(std::min(d, 28.0) / 20.0 * 1.5707963); };
    struct Row
    {
        const char* what;
        std::function<double(double)> measure;
        double target;
        double guess;
        bool reached;
        double best; // out of reach: the closest the measure comes (NaN: no matter), within 0.25
        int maxPasses;
    };
    const double any = std::nan("");
    const Row rows[] = {
        {"saturating, from a low guess", saturating, -14.0, 8.0, true, any, 4},
        {"saturating, from a high guess", saturating, -14.0, 29.0, true, any, 5},
        {"saturating, near its top", saturating, -9.0, 13.0, true, any, 6},
        {"sharply bent", [](double d) { return -30.0 + 25.0 * (1.0 - std::exp(-d / 3.0)); }, -5.2, 1.0, true, any, 5},
        {"step: no drive meets it", [](double d) { return d < 10.0 ? -20.0 : -10.0; }, -14.0, 5.0, false, any, 20},
        {"out of reach above", saturating, -6.0, 16.0, false, saturating(30.0), 4},
        {"out of reach below", saturating, -40.0, 5.0, false, saturating(0.0), 3},
        {"humped, out of reach", humped, -6.0, 14.0, false, humped(20.0), 5},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        int calls = 0;
        const DriveSearch::Result result = DriveSearch(0.0, 30.0, 0.07, 10).run(
            [&](double d) {
                ++calls;
                EXPECT_TRUE(d >= 0.0 && d <= 30.0) << d;
                return row.measure(d);
            },
            row.target, row.guess);
        EXPECT_EQ(result.passes, calls);
        EXPECT_LE(calls, row.maxPasses);
        EXPECT_EQ(result.reached, row.reached);
        EXPECT_EQ(result.measured, row.measure(result.drive));
        if (row.reached)
        {
            EXPECT_LE(std::fabs(result.measured - row.target), 0.07);
        }
        if (!std::isnan(row.best))
        {
            EXPECT_NEAR(result.measured, row.best, 0.25);
        }
    }
}
