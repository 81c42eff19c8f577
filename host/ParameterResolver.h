// Turns "PARAM=VALUE" settings from the command line into normalised values of
// a started plug-in instance.
//
// PARAM is an index or a parameter name (exact, else case-insensitive).
// VALUE is either
//  - a plain number from 0 to 1: the normalised value itself;
//  - a number with a unit ("1500Hz", "-1dB", "-36 db/oct") or a plain number
//    outside 0..1: a value in the parameter's own unit, found by searching the
//    normalised range for the value whose display text shows that number;
//  - a word ("On", "Off"): found by scanning the range for that display text.
// A number for a parameter of our own plug-ins converts exactly through the
// parameter table instead, when the plug-in shows the table's parameter at
// that index and displays the result as the table does (a multiband effect
// with another inner maximizer may not); any other is searched for.
// Probing sets the parameter on the instance, so resolve on the instance that
// will use the value (displays may depend on its sample rate).
#pragma once

#include "PluginInstance.h"

struct Parameter;

#include <string>
#include <vector>

struct ParameterSetting
{
    std::string parameter;
    std::string value;

    // Splits "PARAM=VALUE" at the first '='; throws HostError if either is empty.
    static ParameterSetting parse(const std::string& text);
};

class ParameterResolver
{
public:
    explicit ParameterResolver(PluginInstance& instance) : instance(instance) {}

    // Index of the parameter; throws HostError listing the parameters.
    int findParameter(const std::string& nameOrIndex) const;

    // Normalised value for the text; the parameter keeps its previous value.
    // Throws HostError saying what the parameter accepts when unreachable.
    float resolveValue(int index, const std::string& value);

    // Resolves and sets every setting, in order.
    void apply(const std::vector<ParameterSetting>& settings);

    // The number the parameter's display shows at normalised value x (NaN
    // when it shows none); the parameter keeps its value.
    double shownAt(int index, float x);

private:
    struct Probe
    {
        float x;
        double shown; // NaN when the display is not a number
    };

    float resolveNumber(int index, double target, const std::string& unit, const std::string& text);
    // The table's record for the parameter, or null when it is not one of ours.
    const Parameter* tableParameter(int index) const;
    // The exact value for the target, or NaN when the table cannot give it.
    float resolveThroughTable(int index, double target);
    bool closeEnough(int index, double shown, double target) const;
    float resolveText(int index, const std::string& text);
    Probe probe(int index, float x);
    Probe bisect(int index, Probe lo, Probe hi, double target);
    std::string describeRange(int index);
    std::string name(int index) const;

    PluginInstance& instance;
};
