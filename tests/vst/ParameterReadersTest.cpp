// Every reader of the parameter table against the table, through the built
// plug-ins: the VST names, labels, defaults and display texts, the LV2 port
// conversion and orvex's value parser, parameter by parameter.
#include "ParameterResolver.h"
#include "PluginInstance.h"
#include "lv2/ControlPort.h"
#include "lv2/PluginDescription.h"
#include "vst/ParameterTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace
{
std::string displayOf(const Parameter& p, float x, float rate)
{
    char text[kVstMaxParamStrLen + 1] = {};
    p.display(x, rate, text, kVstMaxParamStrLen);
    return text;
}

// One unit in the last digit a display shows ("-27.8999": 0.0001).
double lastDigit(const std::string& shown)
{
    const auto point = shown.find('.');
    return point == std::string::npos ? 1.0 : std::pow(10.0, -static_cast<double>(shown.size() - point - 1));
}

void walk(const std::string& module, const PluginDescription& lv2, float rate)
{
    SCOPED_TRACE(module + " at " + std::to_string(rate));
    PluginInstance instance(PluginLibrary::load(std::string(ORVEX_PLUGIN_DIR) + "/" + module), rate, 512);
    const std::vector<Parameter>* table = ParameterTable::ofPlugin(instance.record()->uniqueID);
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(instance.numParams(), static_cast<int>(table->size()));
    ASSERT_EQ(lv2.controls.size(), table->size());
    ParameterResolver resolver(instance);
    for (int i = 0; i < instance.numParams(); ++i)
    {
        const Parameter& p = (*table)[static_cast<std::size_t>(i)];
        SCOPED_TRACE(p.name);
        EXPECT_EQ(instance.paramName(i), p.name);
        EXPECT_EQ(instance.paramLabel(i), p.label());
        EXPECT_EQ(lv2.controls[static_cast<std::size_t>(i)].symbol, p.symbol);
        EXPECT_EQ(instance.getParameter(i), p.defaultNormalised());
        for (float x : {0.0f, 0.1f, 0.37f, p.defaultNormalised(), 0.5f, 0.93f, 1.0f})
        {
            instance.setParameter(i, x);
            const std::string shown = instance.paramDisplay(i);
            EXPECT_EQ(shown, displayOf(p, x, rate)) << x;

            // An LV2 host's port value for x reaches the effect as a value shown alike.
            const float port = fromNormalised(p, x, rate);
            if (port >= p.minimum && port <= p.maximum)
            {
                EXPECT_EQ(displayOf(p, toNormalised(p, port, rate), rate), shown) << x;
            }

            // orvex given the display and label finds the state, and for a number
            // the table's exact value, whose display may end one digit lower (displays cut digits).
            const float parsed = resolver.resolveValue(i, shown + p.label());
            instance.setParameter(i, parsed);
            if (p.isToggle())
            {
                EXPECT_EQ(instance.paramDisplay(i), shown) << x;
                continue;
            }
            const double number = p.valueOfShown(std::strtod(shown.c_str(), nullptr));
            const double exact = std::min(std::max(p.normalisedOf(number, rate), 0.0), 1.0);
            EXPECT_EQ(parsed, static_cast<float>(exact)) << x;
            EXPECT_NEAR(p.valueOf(parsed, rate), number, std::max(2e-6 * std::fabs(number), 1.5 * lastDigit(shown))) << x;
        }
    }
}

TEST(ParameterReaders, AgreeWithTheTableForEveryParameter)
{
    for (float rate : {44100.0f, 96000.0f})
    {
        walk("MultibandOrvexMaximizer.so", multibandDescription(), rate);
        walk("Orvex_Maximizer.so", maximizerDescription(), rate);
    }
}
} // namespace
