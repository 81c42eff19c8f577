#include "TimelinePlot.h"

#include "SvgStyle.h"
#include "TextFileWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

namespace
{
constexpr double kWidth = 960.0;
constexpr double kLeft = 70.0;
constexpr double kRight = 160.0; // the legends, beside the panels
constexpr double kTop = 50.0;
constexpr double kLoudnessHeight = 260.0;
constexpr double kReductionHeight = 200.0;
constexpr double kGap = 40.0;   // between the panels
constexpr double kBottom = 60.0; // time labels and title
constexpr double kLoudnessDepth = 60.0;
constexpr std::size_t kColumns = static_cast<std::size_t>(kWidth - kLeft - kRight);
constexpr std::size_t kInputColour = 6;
constexpr std::size_t kOutputColour = 0;

using Points = std::vector<std::pair<double, double>>;

// Point i of a series stands at the end of its step, (i + 1) steps in; with
// more points than columns, each column keeps its largest.
Points decimate(const std::vector<double>& values, double stepSeconds, double secondsToX)
{
    Points points;
    const std::size_t n = values.size();
    const std::size_t columns = std::min(n, kColumns);
    for (std::size_t c = 0; c < columns; ++c)
    {
        const std::size_t from = c * n / columns;
        const std::size_t to = (c + 1) * n / columns;
        const double largest = *std::max_element(values.begin() + static_cast<std::ptrdiff_t>(from),
                                                 values.begin() + static_cast<std::ptrdiff_t>(to));
        points.emplace_back(kLeft + secondsToX * static_cast<double>(to) * stepSeconds, largest);
    }
    return points;
}

// "0:45", "12:05"; below a minute, seconds with the step's decimals.
std::string timeLabel(double seconds, double tick, bool minutes)
{
    char text[32];
    if (minutes)
    {
        const long whole = std::lround(seconds);
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    else
        std::snprintf(text, sizeof text, "%.*f", tick < 1.0 ? 1 : 0, seconds);
    return text;
}

void drawTimeAxis(std::ostringstream& svg, const std::vector<SvgStyle::Panel>& panels, double duration,
                  double secondsToX, double height)
{
    const double ticks[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200};
    double tick = ticks[sizeof ticks / sizeof ticks[0] - 1];
    for (double candidate : ticks)
        if (duration / candidate <= 10.0)
        {
            tick = candidate;
            break;
        }
    const bool minutes = duration >= 60.0;
    for (int i = 0; i * tick <= duration + 1e-9; ++i)
    {
        const double x = kLeft + secondsToX * i * tick;
        for (const SvgStyle::Panel& panel : panels)
            svg << panel.verticalLine(x, i == 0);
        svg << panels.back().xLabel(x, timeLabel(i * tick, tick, minutes));
    }
    svg << panels.back().xTitle(minutes ? "Time (m:ss)" : "Time (s)", height - 18);
}
} // namespace

std::string TimelinePlot::render(const RenderResult& result, const std::string& title)
{
    const double rate = std::max(result.sampleRate, 1);
    const double stepSeconds = static_cast<double>(LoudnessMeter::stepFramesAt(result.sampleRate)) / rate;
    const double duration = std::max(static_cast<double>(result.frames) / rate, stepSeconds);
    const double secondsToX = (kWidth - kLeft - kRight) / duration;

    const std::vector<double> input(result.before.shortTermLufs.begin(), result.before.shortTermLufs.end());
    const std::vector<double> output(result.after.shortTermLufs.begin(), result.after.shortTermLufs.end());
    double high = -std::numeric_limits<double>::infinity();
    double low = std::numeric_limits<double>::infinity();
    for (const std::vector<double>* series : {&input, &output})
        for (double lufs : *series)
            if (std::isfinite(lufs))
            {
                high = std::max(high, lufs);
                low = std::min(low, lufs);
            }
    std::vector<SvgStyle::Panel> panels{
        {kLeft, kTop, kWidth - kRight, kTop + kLoudnessHeight, SvgStyle::levelRange(low, high, kLoudnessDepth)}};

    const auto& history = result.gainReductionHistory;
    std::vector<std::vector<double>> reductions(history.empty() ? 0 : GainReductionSummary::kInstances);
    double deepest = 0.0;
    for (std::size_t k = 0; k < reductions.size(); ++k)
        for (const GainReductionHistory::Reading& reading : history)
        {
            reductions[k].push_back(reading[k]);
            deepest = std::max(deepest, reductions[k].back());
        }
    // Reductions are drawn as gains, downwards from 0 dB.
    if (!reductions.empty())
    {
        SvgStyle::Range range = SvgStyle::levelRange(-deepest, 0.0, kLoudnessDepth);
        range.top = 0.0;
        const double top = panels.front().bottom + kGap;
        panels.push_back({kLeft, top, kWidth - kRight, top + kReductionHeight, range});
    }
    const double height = panels.back().bottom + kBottom;

    std::ostringstream svg;
    svg << SvgStyle::open(kWidth, height, title);
    drawTimeAxis(svg, panels, duration, secondsToX, height);
    svg << panels[0].levelGrid("Short-term loudness (LUFS)");
    svg << panels[0].curve(decimate(input, stepSeconds, secondsToX), kInputColour, 1.5)
        << panels[0].curve(decimate(output, stepSeconds, secondsToX), kOutputColour, 2.0) << panels[0].frame()
        << SvgStyle::legend(kWidth - 10, kTop, {"input", "output"}, {kInputColour, kOutputColour});
    if (!reductions.empty())
    {
        const SvgStyle::Panel& panel = panels[1];
        std::vector<std::string> names;
        std::vector<std::size_t> colours;
        svg << panel.levelGrid("Gain reduction (dB)");
        for (std::size_t k = 0; k < reductions.size(); ++k)
        {
            const bool master = k + 1 == reductions.size();
            Points points = decimate(reductions[k], stepSeconds, secondsToX);
            for (auto& point : points)
                point.second = -point.second;
            colours.push_back(master ? 0 : k + 1);
            names.push_back(master ? "master" : "band " + std::to_string(k + 1));
            svg << panel.curve(points, colours.back(), master ? 2.0 : 1.5);
        }
        svg << panel.frame() << SvgStyle::legend(kWidth - 10, panel.top, names, colours);
    }
    svg << "</svg>\n";
    return svg.str();
}

void TimelinePlot::write(const std::string& path, const RenderResult& result, const std::string& title)
{
    TextFileWriter::write(path, render(result, title));
}
