#include "vst/Parameter.h"

#include "vst/TextConversion.h"

#include <algorithm>
#include <cmath>

namespace
{
// f = -(rate / 4) log10(kCurveOffset - kCurveSlope x).
constexpr float kCurveOffset = 0.999f;
constexpr float kCurveSlope = 0.988f;
constexpr int kSlopeSteps = 8;
constexpr double kDbPerSlopeStep = 12.0;

template <typename Argument>
double crossoverCurve(float x, double rate)
{
    const Argument argument =
        static_cast<Argument>(kCurveOffset) - static_cast<Argument>(kCurveSlope) * static_cast<Argument>(x);
    return (-0.5 * rate) * std::log10(static_cast<double>(argument)) * 0.5;
}

// Its inverse, with 1 / 0.988 taken in single precision.
double crossoverCurveInverse(double hz, double rate)
{
    const double power = std::pow(10.0, -4.0 * hz / rate);
    return (static_cast<double>(kCurveOffset) - power) * static_cast<double>(1.0f / kCurveSlope);
}

// Levels move in steps of 0.001 dB, so that round values such as a ceiling
// of -0.1 dB come out exact.
float roundedDb(float db)
{
    return static_cast<float>(std::round(static_cast<double>(db) * 1000.0) / 1000.0);
}
} // namespace

float crossoverFrequencyHz(float x, float sampleRate)
{
    x = x >= 0.0f ? std::min(x, 1.0f) : 0.0f;
    return static_cast<float>(crossoverCurve<float>(x, sampleRate));
}

int slopeStep(float x)
{
    const float step = x * 7.0f + 1.0f;
    if (!(step >= 1.0f))
        return 1;
    if (step >= 8.0f)
        return kSlopeSteps;
    return static_cast<int>(step);
}

bool Parameter::isOn(float x) const
{
    return curve == ParameterCurve::toggleFromHalf ? x >= 0.5f : x > 0.5f;
}

const char* Parameter::label() const
{
    switch (unit)
    {
    case ParameterUnit::hz: return "Hz";
    case ParameterUnit::db: return "dB";
    case ParameterUnit::ms: return "ms";
    case ParameterUnit::percent: return "%";
    case ParameterUnit::dbPerOctave: return "db/oct";
    case ParameterUnit::none: break;
    }
    return "";
}

// Each formula is the one the effects have always computed, in the same
// precision, so that a stored value means what it meant before.
double Parameter::valueOf(float x, float sampleRate) const
{
    const float span = maximum - minimum;
    switch (curve)
    {
    case ParameterCurve::toggle:
    case ParameterCurve::toggleFromHalf: return isOn(x) ? 1.0 : 0.0;
    case ParameterCurve::linear: return minimum + span * x;
    case ParameterCurve::decibels: return roundedDb(maximum - span * (1.0f - x));
    case ParameterCurve::decibelsReversed: return roundedDb(maximum - span * x);
    case ParameterCurve::logarithmic:
        return minimum * std::pow(10.0, std::log10(static_cast<double>(maximum / minimum)) * static_cast<double>(x));
    case ParameterCurve::slopeSteps: return kDbPerSlopeStep * slopeStep(x);
    case ParameterCurve::crossoverHz: return crossoverCurve<double>(x, sampleRate);
    }
    return 0.0;
}

double Parameter::normalisedOf(double value, float sampleRate) const
{
    const double span = static_cast<double>(maximum) - minimum;
    switch (curve)
    {
    case ParameterCurve::toggle:
    case ParameterCurve::toggleFromHalf: return value > 0.5 ? 1.0 : 0.0;
    case ParameterCurve::linear:
    case ParameterCurve::decibels: return (value - minimum) / span;
    case ParameterCurve::decibelsReversed: return (maximum - value) / span;
    case ParameterCurve::logarithmic: return std::log(value / minimum) / std::log(static_cast<double>(maximum / minimum));
    case ParameterCurve::slopeSteps:
    {
        // Step s covers normalised values [(s - 1) / 7, s / 7); aim at its middle.
        const double step = std::min(std::max(std::round(value / kDbPerSlopeStep), 1.0), double(kSlopeSteps));
        return (step - 0.5) / (kSlopeSteps - 1);
    }
    case ParameterCurve::crossoverHz: return crossoverCurveInverse(value, sampleRate);
    }
    return 0.0;
}

float Parameter::defaultNormalised() const
{
    return static_cast<float>(std::min(std::max(normalisedOf(defaultValue, kDefaultRate), 0.0), 1.0));
}

double Parameter::shownOf(float x, float sampleRate) const
{
    const double value = valueOf(x, sampleRate);
    return curve == ParameterCurve::slopeSteps ? -value : static_cast<float>(value);
}

double Parameter::valueOfShown(double shown) const
{
    return curve == ParameterCurve::slopeSteps ? -shown : shown;
}

void Parameter::display(float x, float sampleRate, char* text, int maxLen) const
{
    if (isToggle())
        copyText(text, isOn(x) ? "On" : "Off", maxLen);
    else if (curve == ParameterCurve::slopeSteps)
        intToText(static_cast<VstInt32>(shownOf(x, sampleRate)), text, maxLen);
    else
        floatToText(static_cast<float>(valueOf(x, sampleRate)), text, maxLen);
}
