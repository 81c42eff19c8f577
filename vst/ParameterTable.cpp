#include "vst/ParameterTable.h"

#include <string>

namespace
{
std::vector<Parameter> makeMaximizer()
{
    return {
        {"Thresh", "thresh", ParameterUnit::db, ParameterCurve::decibelsReversed, -30.0f, 0.0f, 0.0f},
        {"Ceiling", "ceiling", ParameterUnit::db, ParameterCurve::decibels, -30.0f, 0.0f, -0.1f},
        {"Release", "release", ParameterUnit::ms, ParameterCurve::logarithmic, 1.0f, 1000.0f, 100.0f},
        {"Link", "link", ParameterUnit::percent, ParameterCurve::linear, 0.0f, 100.0f, 100.0f},
        {"TruePeak", "truepeak", ParameterUnit::none, ParameterCurve::toggleFromHalf, 0.0f, 1.0f, 0.0f},
        {"AutoRel", "autorel", ParameterUnit::none, ParameterCurve::toggleFromHalf, 0.0f, 1.0f, 0.0f},
    };
}

std::vector<Parameter> makeMultiband()
{
    // The crossover range declared to LV2 hosts; the curve reaches about
    // 0.11 per mille to 49 % of the sample rate.
    const float defaultHz[] = {200.0f, 1000.0f, 4000.0f, 10000.0f};
    std::vector<Parameter> list;
    for (int k = 1; k <= 5; ++k)
    {
        const std::string n = std::to_string(k);
        list.push_back({"Band" + n, "band" + n, ParameterUnit::none, ParameterCurve::toggle, 0.0f, 1.0f, 1.0f});
        if (k == 5)
            break;
        list.push_back({"Freq" + n, "freq" + n, ParameterUnit::hz, ParameterCurve::crossoverHz, 20.0f, 20000.0f,
                        defaultHz[k - 1]});
        list.push_back(
            {"Slope" + n, "slope" + n, ParameterUnit::dbPerOctave, ParameterCurve::slopeSteps, 12.0f, 96.0f, 24.0f});
    }
    for (int instance = 0; instance < ParameterTable::kMultibandInstances; ++instance)
    {
        const bool master = instance == ParameterTable::kMultibandInstances - 1;
        const std::string number = std::to_string(instance + 1);
        for (Parameter parameter : ParameterTable::maximizer())
        {
            parameter.name = (master ? "M." : number + ".") + parameter.name;
            parameter.symbol = (master ? "m_" : "b" + number + "_") + parameter.symbol;
            list.push_back(parameter);
        }
    }
    return list;
}

std::vector<Parameter> makeMultibandMeters()
{
    std::vector<Parameter> list;
    for (int instance = 0; instance < ParameterTable::kMultibandInstances; ++instance)
    {
        const bool master = instance == ParameterTable::kMultibandInstances - 1;
        const std::string number = std::to_string(instance + 1);
        list.push_back({(master ? "M" : number) + ".GainRed", (master ? "m" : "b" + number) + "_gr",
                        ParameterUnit::db, ParameterCurve::linear, 0.0f, 30.0f, 0.0f});
    }
    // Readings outside the range are shown at its ends.
    list.push_back({"Out.TruePeak", "out_tp", ParameterUnit::db, ParameterCurve::linear, -60.0f, 6.0f, -60.0f});
    return list;
}
} // namespace

const std::vector<Parameter>& ParameterTable::multiband()
{
    static const std::vector<Parameter> list = makeMultiband();
    return list;
}

const std::vector<Parameter>& ParameterTable::multibandMeters()
{
    static const std::vector<Parameter> list = makeMultibandMeters();
    return list;
}

const std::vector<Parameter>& ParameterTable::maximizer()
{
    static const std::vector<Parameter> list = makeMaximizer();
    return list;
}

const std::vector<Parameter>* ParameterTable::ofPlugin(int uniqueId)
{
    if (uniqueId == kMultibandId)
        return &multiband();
    if (uniqueId == kMaximizerId)
        return &maximizer();
    return nullptr;
}
