// One host-visible parameter of our plug-ins: its name, LV2 symbol, unit,
// range, curve and default, and the conversions between its normalised value
// x (0..1, what a VST 2.4 host stores) and the value in its unit (what an LV2
// port carries and the display shows). Every edition reads these records: the
// VST displays and defaults, the maximizer's settings, the LV2 ports and
// Turtle, and orvex's value parser.
//
// Nothing here allocates except building the records; every function may be
// called from any thread, the audio thread included.
#pragma once

#include <string>

enum class ParameterUnit
{
    none,
    hz,
    db,
    ms,
    percent,
    dbPerOctave,
};

enum class ParameterCurve
{
    toggle,           // "On" above 0.5
    toggleFromHalf,   // "On" from 0.5 up
    linear,           // minimum + span x
    decibels,         // maximum - span (1 - x), in steps of 0.001 dB
    decibelsReversed, // maximum - span x, in steps of 0.001 dB
    logarithmic,      // equal ratios for equal steps of x
    slopeSteps,       // 12 dB/oct per step of the crossover's slope step
    crossoverHz,      // the crossover frequency curve, which scales with the sample rate
};

struct Parameter
{
    // The sample rate at which the defaults of rate-dependent curves are
    // taken, the effects' rate until a host sets one.
    static constexpr float kDefaultRate = 44100.0f;

    std::string name;   // VST name: "Freq1", "M.Ceiling"
    std::string symbol; // LV2 symbol: "freq1", "m_ceiling"
    ParameterUnit unit;
    ParameterCurve curve;
    float minimum;      // range in the unit, as declared to LV2 hosts
    float maximum;
    float defaultValue; // in the unit

    bool isToggle() const { return curve == ParameterCurve::toggle || curve == ParameterCurve::toggleFromHalf; }
    // Whether x stands for "On" (toggles only).
    bool isOn(float x) const;
    // VST label of the unit: "Hz", "dB", "db/oct", "" for none.
    const char* label() const;

    // The value x stands for, in the unit (toggles: 1 or 0) at `sampleRate`.
    // The maximizer's levels and release and the displays use exactly this.
    double valueOf(float x, float sampleRate) const;
    // The normalised value for a value in the unit, unclamped: outside 0..1
    // when the curve cannot reach the value at this rate. Slopes round to
    // the middle of the nearest step.
    double normalisedOf(double value, float sampleRate) const;
    // The normalised default a VST host sees.
    float defaultNormalised() const;
    // The number the VST display shows for x (slopes as falling, -24).
    double shownOf(float x, float sampleRate) const;
    // The value in the unit for a number as the display shows it.
    double valueOfShown(double shown) const;
    // The VST display text of x: at most maxLen characters, as the effect
    // base's text conversions write them.
    void display(float x, float sampleRate, char* text, int maxLen) const;
};

// The crossover frequency curve: f = -(rate / 4) log10(0.999 - 0.988 x), x
// clamped to 0..1 (NaN counts as 0). The crossover design takes the
// logarithm's argument in single precision; the display uses the same curve
// in double precision (Parameter::valueOf). The two differ in the last
// digits, and both are kept so that saved settings sound and read as before.
float crossoverFrequencyHz(float x, float sampleRate);

// Butterworth order of a slope parameter x: trunc(7 x + 1), clamped to 1..8
// (NaN gives 1). Each step adds 12 dB per octave to the crossover.
int slopeStep(float x);
