// The look all of orvex's plots share: a white page with its title on top,
// grey grid lines, sans-serif labels, curves coloured from one list, a boxed
// legend, level axes in whole grid steps; and numbers and text as SVG takes
// them.
#pragma once

#include <string>
#include <utility>
#include <vector>

class SvgStyle
{
public:
    // A level axis: grid lines every `step` from `bottom` to `top`.
    struct Range
    {
        double top;
        double bottom;
        double step;
    };

    // A plot area in pixels with a level axis up its left side.
    struct Panel
    {
        double left;
        double top;
        double right;
        double bottom;
        Range range;

        // The height of a level, held to the axis (-inf, NaN: its bottom).
        double y(double level) const;
        // Horizontal grid lines with their labels, and the axis title.
        std::string levelGrid(const std::string& title) const;
        // A vertical grid line at x (major lines darker), and its label under the panel.
        std::string verticalLine(double x, bool major) const;
        std::string xLabel(double x, const std::string& label) const;
        // The title of the horizontal axis, centred under the panel at `baseline`.
        std::string xTitle(const std::string& title, double baseline) const;
        // The panel's outline.
        std::string frame() const;
        // A curve through (x, level) points.
        std::string curve(const std::vector<std::pair<double, double>>& points, std::size_t colourIndex,
                          double width) const;
    };

    // Holds every value from `low` to `high` (finite) in whole grid steps,
    // at least 12 deep, at most `deepest` below `high` so that nulls and
    // silence do not squash the plot.
    static Range levelRange(double low, double high, double deepest);

    // The page: XML declaration, <svg> of this size, background and title.
    static std::string open(double width, double height, const std::string& title);
    // A box of `names` with a line of each one's colour, its top right corner at (right, top).
    static std::string legend(double right, double top, const std::vector<std::string>& names,
                              const std::vector<std::size_t>& colours);
    static const char* colour(std::size_t index);
    static std::string number(double value); // two decimals
    static std::string escape(const std::string& text);
};
