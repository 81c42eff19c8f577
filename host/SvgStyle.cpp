#include "SvgStyle.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace
{
const char* const kColours[] = {"#111111", "#d62728", "#ff7f0e", "#2ca02c", "#1f77b4", "#9467bd", "#8c564b"};
} // namespace

SvgStyle::Range SvgStyle::levelRange(double low, double high, double deepest)
{
    if (high < low)
        high = low = 0.0;
    low = std::max(low, high - deepest);
    const double span = std::max(high - low, 12.0);
    const double step = span > 72.0 ? 12.0 : (span > 36.0 ? 6.0 : 3.0);
    const double top = std::ceil((high + step * 0.5) / step) * step;
    const double bottom = std::min(std::floor(low / step) * step, top - 4.0 * step);
    return {top, bottom, step};
}

double SvgStyle::Panel::y(double level) const
{
    const double clamped = std::isfinite(level) ? std::clamp(level, range.bottom, range.top) : range.bottom;
    return top + (bottom - top) * (range.top - clamped) / (range.top - range.bottom);
}

std::string SvgStyle::Panel::levelGrid(const std::string& title) const
{
    std::ostringstream svg;
    svg << "<g stroke-width=\"1\">\n";
    for (double level = range.bottom; level <= range.top + 1e-9; level += range.step)
        svg << "<line x1=\"" << left << "\" y1=\"" << number(y(level)) << "\" x2=\"" << right << "\" y2=\""
            << number(y(level)) << "\" stroke=\"" << (level == 0.0 ? "#999999" : "#e0e0e0") << "\"/>\n";
    svg << "</g>\n<g font-family=\"sans-serif\" font-size=\"13\" fill=\"#333333\">\n";
    for (double level = range.bottom; level <= range.top + 1e-9; level += range.step)
        svg << "<text x=\"" << left - 8 << "\" y=\"" << number(y(level) + 4) << "\" text-anchor=\"end\">"
            << static_cast<int>(level) << "</text>\n";
    svg << "<text transform=\"translate(20 " << (top + bottom) / 2 << ") rotate(-90)\" text-anchor=\"middle\">"
        << escape(title) << "</text>\n</g>\n";
    return svg.str();
}

std::string SvgStyle::Panel::verticalLine(double x, bool major) const
{
    return "<line x1=\"" + number(x) + "\" y1=\"" + number(top) + "\" x2=\"" + number(x) + "\" y2=\"" +
           number(bottom) + "\" stroke-width=\"1\" stroke=\"" + (major ? "#999999" : "#e0e0e0") + "\"/>\n";
}

std::string SvgStyle::Panel::xLabel(double x, const std::string& label) const
{
    return "<text x=\"" + number(x) + "\" y=\"" + number(bottom + 20) +
           "\" font-family=\"sans-serif\" font-size=\"13\" fill=\"#333333\" text-anchor=\"middle\">" +
           escape(label) + "</text>\n";
}

std::string SvgStyle::Panel::xTitle(const std::string& title, double baseline) const
{
    return "<text x=\"" + number((left + right) / 2) + "\" y=\"" + number(baseline) +
           "\" font-family=\"sans-serif\" font-size=\"13\" fill=\"#333333\" text-anchor=\"middle\">" +
           escape(title) + "</text>\n";
}

std::string SvgStyle::Panel::frame() const
{
    return "<rect x=\"" + number(left) + "\" y=\"" + number(top) + "\" width=\"" + number(right - left) +
           "\" height=\"" + number(bottom - top) + "\" fill=\"none\" stroke=\"#333333\"/>\n";
}

std::string SvgStyle::Panel::curve(const std::vector<std::pair<double, double>>& points, std::size_t colourIndex,
                                   double width) const
{
    std::string svg = "<polyline fill=\"none\" stroke-width=\"" + number(width) + "\" stroke=\"" +
                      colour(colourIndex) + "\" points=\"";
    for (std::size_t i = 0; i < points.size(); ++i)
        svg += (i ? " " : "") + number(points[i].first) + "," + number(y(points[i].second));
    return svg + "\"/>\n";
}

std::string SvgStyle::open(double width, double height, const std::string& title)
{
    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << width << " " << height << "\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text x=\"" << width / 2 << "\" y=\"28\" font-family=\"sans-serif\" font-size=\"16\" "
        << "text-anchor=\"middle\">" << escape(title) << "</text>\n";
    return svg.str();
}

std::string SvgStyle::legend(double right, double top, const std::vector<std::string>& names,
                             const std::vector<std::size_t>& colours)
{
    std::ostringstream svg;
    const double x = right - 130;
    const double height = 10.0 + 20.0 * static_cast<double>(names.size());
    svg << "<g font-family=\"sans-serif\" font-size=\"13\">\n<rect x=\"" << x << "\" y=\"" << top
        << "\" width=\"120\" height=\"" << height << "\" fill=\"white\" fill-opacity=\"0.85\" stroke=\"#999999\"/>\n";
    for (std::size_t c = 0; c < names.size(); ++c)
    {
        const double y = top + 15 + 20.0 * static_cast<double>(c);
        svg << "<line x1=\"" << x + 10 << "\" y1=\"" << y << "\" x2=\"" << x + 40 << "\" y2=\"" << y
            << "\" stroke-width=\"2.5\" stroke=\"" << colour(c < colours.size() ? colours[c] : c)
            << "\"/>\n<text x=\"" << x + 48 << "\" y=\"" << y + 4 << "\">" << escape(names[c]) << "</text>\n";
    }
    svg << "</g>\n";
    return svg.str();
}

const char* SvgStyle::colour(std::size_t index)
{
    return kColours[index % (sizeof kColours / sizeof kColours[0])];
}

std::string SvgStyle::number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string SvgStyle::escape(const std::string& text)
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
