#include "SvgPlotWriter.h"

#include "SvgStyle.h"
#include "TextFileWriter.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace
{
constexpr double kWidth = 960.0;
constexpr double kHeight = 540.0;
constexpr double kLeft = 70.0;
constexpr double kRight = 30.0;
constexpr double kTop = 50.0;
constexpr double kBottom = 60.0;
constexpr double kLowHz = 20.0;
constexpr double kHighHz = 20000.0;

// Every finite value, at most 120 dB below the loudest point.
SvgStyle::Panel choosePanel(const Response& response)
{
    double high = -1e300;
    double low = 1e300;
    for (const ResponseCurve& curve : response.curves)
        for (double db : curve.db)
            if (std::isfinite(db))
            {
                high = std::max(high, db);
                low = std::min(low, db);
            }
    return {kLeft, kTop, kWidth - kRight, kHeight - kBottom, SvgStyle::levelRange(low, high, 120.0)};
}

double x(double hz)
{
    return kLeft + (kWidth - kLeft - kRight) * std::log10(hz / kLowHz) / std::log10(kHighHz / kLowHz);
}

std::string frequencyLabel(double hz)
{
    return hz >= 1000.0 ? std::to_string(static_cast<int>(hz / 1000.0)) + "k" : std::to_string(static_cast<int>(hz));
}

void drawGrid(std::ostringstream& svg, const SvgStyle::Panel& panel)
{
    for (double decade = 10.0; decade <= 10000.0; decade *= 10.0)
        for (int multiple = 1; multiple <= 9; ++multiple)
        {
            const double hz = decade * multiple;
            if (hz >= kLowHz && hz <= kHighHz)
                svg << panel.verticalLine(x(hz), multiple == 1);
        }
    svg << panel.levelGrid("Level (dB)");
    for (double hz : {20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0})
        svg << panel.xLabel(x(hz), frequencyLabel(hz));
    svg << panel.xTitle("Frequency (Hz)", kHeight - 18);
}

void drawCurves(std::ostringstream& svg, const Response& response, const SvgStyle::Panel& panel)
{
    for (std::size_t c = 0; c < response.curves.size(); ++c)
    {
        std::vector<std::pair<double, double>> points;
        for (std::size_t i = 0; i < response.frequencies.size() && i < response.curves[c].db.size(); ++i)
            points.emplace_back(x(response.frequencies[i]), response.curves[c].db[i]);
        svg << panel.curve(points, c, c == 0 ? 2.5 : 1.5);
    }
}

void drawLegend(std::ostringstream& svg, const Response& response)
{
    std::vector<std::string> names;
    std::vector<std::size_t> colours;
    for (const ResponseCurve& curve : response.curves)
    {
        colours.push_back(names.size());
        names.push_back(curve.name);
    }
    svg << SvgStyle::legend(kWidth - kRight, kTop + 10, names, colours);
}
} // namespace

std::string SvgPlotWriter::render(const Response& response, const std::string& title)
{
    const SvgStyle::Panel panel = choosePanel(response);
    std::ostringstream svg;
    svg << SvgStyle::open(kWidth, kHeight, title);
    drawGrid(svg, panel);
    drawCurves(svg, response, panel);
    svg << panel.frame();
    drawLegend(svg, response);
    svg << "</svg>\n";
    return svg.str();
}

void SvgPlotWriter::write(const std::string& path, const Response& response, const std::string& title)
{
    TextFileWriter::write(path, render(response, title));
}
