#include "SvgPlotWriter.h"

#include "TextFileWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
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
const char* const kColours[] = {"#111111", "#d62728", "#ff7f0e", "#2ca02c", "#1f77b4", "#9467bd", "#8c564b"};

struct Axes
{
    double topDb;
    double bottomDb;
    double stepDb;

    double x(double hz) const
    {
        return kLeft + (kWidth - kLeft - kRight) * std::log10(hz / kLowHz) / std::log10(kHighHz / kLowHz);
    }
    double y(double db) const
    {
        const double clamped = std::isfinite(db) ? std::clamp(db, bottomDb, topDb) : bottomDb;
        return kTop + (kHeight - kTop - kBottom) * (topDb - clamped) / (topDb - bottomDb);
    }
};

// A range that holds every finite value, in whole grid steps, at most 120 dB
// deep below the loudest point so that nulls do not squash the plot.
Axes chooseAxes(const Response& response)
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
    if (high < low)
        high = low = 0.0;
    low = std::max(low, high - 120.0);
    const double span = std::max(high - low, 12.0);
    const double step = span > 72.0 ? 12.0 : (span > 36.0 ? 6.0 : 3.0);
    const double top = std::ceil((high + step * 0.5) / step) * step;
    const double bottom = std::min(std::floor(low / step) * step, top - 4.0 * step);
    return {top, bottom, step};
}

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string escape(const std::string& text)
{
    std::string out;
    for (char c : text)
    {
        switch (c)
        {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string frequencyLabel(double hz)
{
    return hz >= 1000.0 ? std::to_string(static_cast<int>(hz / 1000.0)) + "k" : std::to_string(static_cast<int>(hz));
}

void drawGrid(std::ostringstream& svg, const Axes& axes)
{
    const double plotBottom = kHeight - kBottom;
    svg << "<g stroke-width=\"1\">\n";
    for (double decade = 10.0; decade <= 10000.0; decade *= 10.0)
        for (int multiple = 1; multiple <= 9; ++multiple)
        {
            const double hz = decade * multiple;
            if (hz < kLowHz || hz > kHighHz)
                continue;
            svg << "<line x1=\"" << number(axes.x(hz)) << "\" y1=\"" << kTop << "\" x2=\"" << number(axes.x(hz))
                << "\" y2=\"" << plotBottom << "\" stroke=\"" << (multiple == 1 ? "#999999" : "#e0e0e0") << "\"/>\n";
        }
    for (double db = axes.bottomDb; db <= axes.topDb + 1e-9; db += axes.stepDb)
        svg << "<line x1=\"" << kLeft << "\" y1=\"" << number(axes.y(db)) << "\" x2=\"" << kWidth - kRight
            << "\" y2=\"" << number(axes.y(db)) << "\" stroke=\"" << (db == 0.0 ? "#999999" : "#e0e0e0") << "\"/>\n";
    svg << "</g>\n<g font-family=\"sans-serif\" font-size=\"13\" fill=\"#333333\">\n";
    for (double hz : {20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0})
        svg << "<text x=\"" << number(axes.x(hz)) << "\" y=\"" << plotBottom + 20 << "\" text-anchor=\"middle\">"
            << frequencyLabel(hz) << "</text>\n";
    for (double db = axes.bottomDb; db <= axes.topDb + 1e-9; db += axes.stepDb)
        svg << "<text x=\"" << kLeft - 8 << "\" y=\"" << number(axes.y(db) + 4) << "\" text-anchor=\"end\">"
            << static_cast<int>(db) << "</text>\n";
    svg << "<text x=\"" << (kLeft + kWidth - kRight) / 2 << "\" y=\"" << kHeight - 18
        << "\" text-anchor=\"middle\">Frequency (Hz)</text>\n";
    svg << "<text transform=\"translate(20 " << (kTop + plotBottom) / 2
        << ") rotate(-90)\" text-anchor=\"middle\">Level (dB)</text>\n</g>\n";
}

void drawCurves(std::ostringstream& svg, const Response& response, const Axes& axes)
{
    for (std::size_t c = 0; c < response.curves.size(); ++c)
    {
        svg << "<polyline fill=\"none\" stroke-width=\"" << (c == 0 ? 2.5 : 1.5) << "\" stroke=\""
            << kColours[c % (sizeof kColours / sizeof kColours[0])] << "\" points=\"";
        for (std::size_t i = 0; i < response.frequencies.size() && i < response.curves[c].db.size(); ++i)
            svg << (i ? " " : "") << number(axes.x(response.frequencies[i])) << ","
                << number(axes.y(response.curves[c].db[i]));
        svg << "\"/>\n";
    }
}

void drawLegend(std::ostringstream& svg, const Response& response)
{
    const double x = kWidth - kRight - 130;
    const double height = 10.0 + 20.0 * static_cast<double>(response.curves.size());
    svg << "<g font-family=\"sans-serif\" font-size=\"13\">\n<rect x=\"" << x << "\" y=\"" << kTop + 10
        << "\" width=\"120\" height=\"" << height << "\" fill=\"white\" fill-opacity=\"0.85\" stroke=\"#999999\"/>\n";
    for (std::size_t c = 0; c < response.curves.size(); ++c)
    {
        const double y = kTop + 25 + 20.0 * static_cast<double>(c);
        svg << "<line x1=\"" << x + 10 << "\" y1=\"" << y << "\" x2=\"" << x + 40 << "\" y2=\"" << y
            << "\" stroke-width=\"2.5\" stroke=\"" << kColours[c % (sizeof kColours / sizeof kColours[0])]
            << "\"/>\n<text x=\"" << x + 48 << "\" y=\"" << y + 4 << "\">" << escape(response.curves[c].name)
            << "</text>\n";
    }
    svg << "</g>\n";
}
} // namespace

std::string SvgPlotWriter::render(const Response& response, const std::string& title)
{
    const Axes axes = chooseAxes(response);
    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << kHeight
        << "\" viewBox=\"0 0 " << kWidth << " " << kHeight << "\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text x=\"" << kWidth / 2 << "\" y=\"28\" font-family=\"sans-serif\" font-size=\"16\" "
        << "text-anchor=\"middle\">" << escape(title) << "</text>\n";
    drawGrid(svg, axes);
    drawCurves(svg, response, axes);
    svg << "<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kWidth - kLeft - kRight << "\" height=\""
        << kHeight - kTop - kBottom << "\" fill=\"none\" stroke=\"#333333\"/>\n";
    drawLegend(svg, response);
    svg << "</svg>\n";
    return svg.str();
}

void SvgPlotWriter::write(const std::string& path, const Response& response, const std::string& title)
{
    TextFileWriter::write(path, render(response, title));
}
