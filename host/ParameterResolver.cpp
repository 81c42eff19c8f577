#include "ParameterResolver.h"

#include "HostError.h"
#include "vst/ParameterTable.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

namespace
{
constexpr int kCoarseSteps = 64; // numeric search: bracket, then bisect
constexpr int kTextSteps = 256;  // word search: scan resolution
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string trim(const std::string& text)
{
    const auto begin = text.find_first_not_of(" \t");
    const auto end = text.find_last_not_of(" \t");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The leading number of a display text; "-oo" counts as minus infinity.
double displayNumber(const std::string& display)
{
    const std::string text = trim(display);
    if (text.rfind("-oo", 0) == 0)
        return -std::numeric_limits<double>::infinity();
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return end == text.c_str() ? kNaN : value;
}

// One unit in the last digit a display shows: 200.0000 -> 0.0001, -24 -> 1.
double displayResolution(const std::string& display)
{
    const auto point = display.find('.');
    if (point == std::string::npos)
        return 1.0;
    int digits = 0;
    while (point + 1 + digits < display.size() && std::isdigit(static_cast<unsigned char>(display[point + 1 + digits])))
        ++digits;
    return std::pow(10.0, -digits);
}

bool unitMatches(const std::string& unit, const std::string& label)
{
    auto squash = [](const std::string& text) {
        std::string out;
        for (char c : lower(text))
            if (!std::isspace(static_cast<unsigned char>(c)))
                out += c;
        return out;
    };
    return label.empty() || squash(unit) == squash(label);
}
} // namespace

ParameterSetting ParameterSetting::parse(const std::string& text)
{
    const auto equals = text.find('=');
    if (equals == std::string::npos || trim(text.substr(0, equals)).empty() || trim(text.substr(equals + 1)).empty())
        throw HostError("setting '" + text + "' is not of the form PARAM=VALUE");
    return {trim(text.substr(0, equals)), trim(text.substr(equals + 1))};
}

std::string ParameterResolver::name(int index) const
{
    return trim(instance.paramName(index));
}

int ParameterResolver::findParameter(const std::string& nameOrIndex) const
{
    const int count = instance.numParams();
    if (!nameOrIndex.empty() && std::all_of(nameOrIndex.begin(), nameOrIndex.end(), ::isdigit))
    {
        const long index = nameOrIndex.size() < 10 ? std::strtol(nameOrIndex.c_str(), nullptr, 10) : count;
        if (index < count)
            return static_cast<int>(index);
        throw HostError("parameter index " + nameOrIndex + " out of range: the plug-in has " +
                        std::to_string(count) + " parameters (0-" + std::to_string(count - 1) + ")");
    }
    for (int index = 0; index < count; ++index)
        if (name(index) == nameOrIndex)
            return index;
    for (int index = 0; index < count; ++index)
        if (lower(name(index)) == lower(nameOrIndex))
            return index;
    std::ostringstream known;
    for (int index = 0; index < count; ++index)
        known << (index ? ", " : "") << name(index);
    throw HostError("unknown parameter '" + nameOrIndex + "'; the plug-in's parameters are: " + known.str());
}

ParameterResolver::Probe ParameterResolver::probe(int index, float x)
{
    instance.setParameter(index, x);
    return {x, displayNumber(instance.paramDisplay(index))};
}

double ParameterResolver::shownAt(int index, float x)
{
    const float previous = instance.getParameter(index);
    const double shown = probe(index, x).shown;
    instance.setParameter(index, previous);
    return shown;
}

float ParameterResolver::resolveValue(int index, const std::string& value)
{
    const float previous = instance.getParameter(index);
    const std::string text = trim(value);
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    const bool isNumber = end != text.c_str() && std::isfinite(number);
    const std::string unit = isNumber ? trim(std::string(end)) : std::string();

    float result = 0.0f;
    try
    {
        if (isNumber && unit.empty() && number >= 0.0 && number <= 1.0)
            result = static_cast<float>(number);
        else if (isNumber)
            result = resolveNumber(index, number, unit, text);
        else
            result = resolveText(index, text);
    }
    catch (...)
    {
        instance.setParameter(index, previous);
        throw;
    }
    instance.setParameter(index, previous);
    return result;
}

float ParameterResolver::resolveNumber(int index, double target, const std::string& unit, const std::string& text)
{
    const std::string label = trim(instance.paramLabel(index));
    if (!unit.empty() && !unitMatches(unit, label))
        throw HostError(name(index) + " is set in '" + label + "', not '" + unit + "' (value '" + text + "')");

    // Coarse scan for a pair of neighbours whose displays bracket the target,
    // then bisection between them: exact for monotonic displays, and still
    // finds a crossing in ranges that rise and fall.
    const float exact = resolveThroughTable(index, target);
    if (!std::isnan(exact))
        return exact;

    Probe best{0.0f, kNaN};
    Probe previous = probe(index, 0.0f);
    for (int step = 0; step <= kCoarseSteps; ++step)
    {
        const Probe current = step == 0 ? previous : probe(index, static_cast<float>(step) / kCoarseSteps);
        Probe candidate = current;
        if (step > 0 && !std::isnan(previous.shown) && !std::isnan(current.shown) &&
            (previous.shown - target) * (current.shown - target) <= 0.0)
            candidate = bisect(index, previous, current, target);
        if (!std::isnan(candidate.shown) &&
            (std::isnan(best.shown) || std::fabs(candidate.shown - target) < std::fabs(best.shown - target)))
            best = candidate;
        if (best.shown == target)
            break;
        previous = current;
    }
    if (!std::isnan(best.shown))
    {
        instance.setParameter(index, best.x);
        if (closeEnough(index, best.shown, target))
            return best.x;
    }
    throw HostError("value '" + text + "' is out of reach for " + name(index) + ": " + describeRange(index));
}

// With the parameter set to the value in question: whether its display,
// showing `shown`, is the target to within the display's last digit.
bool ParameterResolver::closeEnough(int index, double shown, double target) const
{
    const double resolution = displayResolution(trim(instance.paramDisplay(index)));
    return std::fabs(shown - target) <= std::max(1.5 * resolution, 1e-4 * std::fabs(target));
}

const Parameter* ParameterResolver::tableParameter(int index) const
{
    const std::vector<Parameter>* list = ParameterTable::ofPlugin(instance.record()->uniqueID);
    if (list == nullptr || static_cast<int>(list->size()) != instance.numParams())
        return nullptr;
    const Parameter& parameter = (*list)[static_cast<std::size_t>(index)];
    return name(index) == parameter.name && trim(instance.paramLabel(index)) == parameter.label() ? &parameter
                                                                                                   : nullptr;
}

float ParameterResolver::resolveThroughTable(int index, double target)
{
    const Parameter* parameter = tableParameter(index);
    if (parameter == nullptr)
        return std::numeric_limits<float>::quiet_NaN();
    // Clamped: the ends are reached exactly (the top slope step is only at
    // 1); a target beyond them then fails the display check below.
    const double x = parameter->normalisedOf(parameter->valueOfShown(target), instance.sampleRate());
    if (std::isnan(x))
        return std::numeric_limits<float>::quiet_NaN();
    const float value = static_cast<float>(std::min(std::max(x, 0.0), 1.0));
    char expected[kVstMaxParamStrLen + 1] = {};
    parameter->display(value, instance.sampleRate(), expected, kVstMaxParamStrLen);
    const Probe shown = probe(index, value);
    if (trim(instance.paramDisplay(index)) != expected || !closeEnough(index, shown.shown, target))
        return std::numeric_limits<float>::quiet_NaN();
    return value;
}

ParameterResolver::Probe ParameterResolver::bisect(int index, Probe lo, Probe hi, double target)
{
    const bool rising = lo.shown <= hi.shown;
    for (int iteration = 0; iteration < 40; ++iteration)
    {
        const float middle = lo.x + (hi.x - lo.x) * 0.5f;
        if (middle <= lo.x || middle >= hi.x)
            break;
        const Probe p = probe(index, middle);
        if (std::isnan(p.shown))
            break;
        if ((p.shown < target) == rising)
            lo = p;
        else
            hi = p;
    }
    return std::fabs(lo.shown - target) <= std::fabs(hi.shown - target) ? lo : hi;
}

float ParameterResolver::resolveText(int index, const std::string& text)
{
    // First run of scan points showing the word. A run reaching either end of
    // the range resolves to that end (Off -> 0, On -> 1); an inner run to its
    // middle, away from the state boundaries.
    const std::string wanted = lower(text);
    int first = -1;
    int last = -1;
    for (int step = 0; step <= kTextSteps; ++step)
    {
        instance.setParameter(index, static_cast<float>(step) / kTextSteps);
        const bool match = lower(trim(instance.paramDisplay(index))) == wanted;
        if (match && first < 0)
            first = step;
        if (match)
            last = step;
        if (!match && first >= 0)
            break;
    }
    if (first < 0)
        throw HostError("value '" + text + "' is not accepted by " + name(index) + ": " + describeRange(index));
    if (first == 0)
        return 0.0f;
    if (last == kTextSteps)
        return 1.0f;
    return static_cast<float>(first + last) / (2.0f * kTextSteps);
}

std::string ParameterResolver::describeRange(int index)
{
    // The distinct display texts across the range, or its two ends for
    // continuous ones, plus the always accepted normalised form.
    std::vector<std::string> shown;
    for (int step = 0; step <= kCoarseSteps && shown.size() <= 8; ++step)
    {
        instance.setParameter(index, static_cast<float>(step) / kCoarseSteps);
        const std::string display = trim(instance.paramDisplay(index));
        if (std::find(shown.begin(), shown.end(), display) == shown.end())
            shown.push_back(display);
    }
    const std::string label = trim(instance.paramLabel(index));
    std::ostringstream out;
    if (shown.size() <= 8)
    {
        out << "it shows ";
        for (std::size_t i = 0; i < shown.size(); ++i)
            out << (i ? ", " : "") << shown[i];
    }
    else
    {
        instance.setParameter(index, 0.0f);
        out << "it ranges from " << trim(instance.paramDisplay(index));
        instance.setParameter(index, 1.0f);
        out << " to " << trim(instance.paramDisplay(index));
    }
    if (!label.empty())
        out << " " << label;
    out << "; a plain number from 0 to 1 sets the normalised value";
    return out.str();
}

void ParameterResolver::apply(const std::vector<ParameterSetting>& settings)
{
    for (const ParameterSetting& setting : settings)
    {
        const int index = findParameter(setting.parameter);
        instance.setParameter(index, resolveValue(index, setting.value));
    }
}
