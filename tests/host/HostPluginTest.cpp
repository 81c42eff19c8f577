// Loading plug-ins, the start sequence and host callback, and turning
// command-line parameter values into normalised values.
#include "HostError.h"
#include "HostTestSupport.h"
#include "ParameterResolver.h"
#include "PluginInstance.h"

#include <gtest/gtest.h>

#include <fstream>

namespace
{
using HostTest::pluginPath;

std::string loadError(const std::string& path)
{
    try
    {
        PluginInstance instance(PluginLibrary::load(path), 44100.0f, 512);
    }
    catch (const HostError& error)
    {
        return error.what();
    }
    return "loaded";
}

TEST(HostPlugin, StartsWithTheStandardSequenceAndAnswersTheCallback)
{
    PluginInstance instance(PluginLibrary::load(pluginPath()), 48000.0f, 256);
    EXPECT_EQ(instance.effectName(), "Orvex Test Gain");
    EXPECT_EQ(instance.vendor(), "Orvex Test");
    // open, setSampleRate, setBlockSize, resume; the callback told the
    // plug-in our rate, block size and interface version.
    EXPECT_EQ(instance.product(), "seq:osbm rate=48000 block=256 version=2400");
    EXPECT_EQ(instance.vendorVersion(), 1234);
    EXPECT_EQ(instance.uniqueIdText(), "oTgn");
    EXPECT_EQ(instance.numInputs(), 2);
    EXPECT_EQ(instance.numOutputs(), 2);
    EXPECT_EQ(instance.latency(), TestGain::kLatency);
    ASSERT_EQ(instance.numParams(), 13);
    EXPECT_EQ(instance.paramName(4), "Freq");
    EXPECT_EQ(instance.paramLabel(4), "Hz");
    EXPECT_EQ(instance.paramDisplay(11), "48000");
}

TEST(HostPlugin, InstancesOfOneLibraryAreIndependent)
{
    auto library = PluginLibrary::load(pluginPath());
    PluginInstance a(library, 44100.0f, 64);
    PluginInstance b(library, 96000.0f, 128);
    a.setParameter(1, 0.25f);
    EXPECT_EQ(a.getParameter(1), 0.25f);
    EXPECT_EQ(b.getParameter(1), 0.5f);
    EXPECT_EQ(b.paramDisplay(11), "96000");
    EXPECT_EQ(a.getParameter(13), 0.0f); // out of range: answered by the host
}

TEST(HostPlugin, FindsAnEntryPointExportedOnlyAsMain)
{
    PluginInstance instance(PluginLibrary::load(pluginPath("OrvexTestMainOnly")), 44100.0f, 512);
    EXPECT_EQ(instance.effectName(), "Orvex Test Gain");
}

TEST(HostPlugin, ReportsWhyAPluginCannotBeUsed)
{
    EXPECT_NE(loadError("/nonexistent/Plugin.so").find("No such file"), std::string::npos);

    HostTest::ScratchDir dir;
    std::ofstream(dir.file("Text.so")) << "not a library\n";
    const std::string notElf = loadError(dir.file("Text.so"));
    EXPECT_NE(notElf.find("cannot load plug-in"), std::string::npos) << notElf;
    EXPECT_NE(notElf.find("Text.so"), std::string::npos) << notElf;

    EXPECT_NE(loadError(pluginPath("OrvexTestNoEntry")).find("no entry point"), std::string::npos);
    EXPECT_NE(loadError(pluginPath("OrvexTestNullEffect")).find("no valid effect"), std::string::npos);
}

class HostParameters : public ::testing::Test
{
protected:
    PluginInstance instance{PluginLibrary::load(pluginPath()), 44100.0f, 512};
    ParameterResolver resolver{instance};

    // Sets the parameter from text and returns what the plug-in displays.
    std::string setAndShow(const std::string& name, const std::string& value)
    {
        resolver.apply({ParameterSetting{name, value}});
        return instance.paramDisplay(resolver.findParameter(name));
    }
    std::string errorOf(const std::string& name, const std::string& value)
    {
        try
        {
            resolver.apply({ParameterSetting{name, value}});
        }
        catch (const HostError& error)
        {
            return error.what();
        }
        return "accepted";
    }
};

TEST_F(HostParameters, FindsParametersByIndexAndName)
{
    EXPECT_EQ(resolver.findParameter("1"), 1);
    EXPECT_EQ(resolver.findParameter("Gain"), 1);
    EXPECT_EQ(resolver.findParameter("band3"), 6);
    EXPECT_EQ(resolver.findParameter("12"), 12);
    const std::string unknown = errorOf("Volume", "0.5");
    EXPECT_NE(unknown.find("unknown parameter 'Volume'"), std::string::npos) << unknown;
    EXPECT_NE(unknown.find("Band1, Gain, Mode"), std::string::npos) << unknown;
    EXPECT_NE(errorOf("13", "0.5").find("out of range"), std::string::npos);
}

TEST_F(HostParameters, PlainNumbersUpToOneAreNormalisedValues)
{
    resolver.apply({{"Gain", "0.25"}, {"4", "1"}, {"Mode", "0"}});
    EXPECT_EQ(instance.getParameter(1), 0.25f);
    EXPECT_EQ(instance.getParameter(4), 1.0f);
    EXPECT_EQ(instance.getParameter(2), 0.0f);
}

TEST_F(HostParameters, UnitValuesReadBackAsTheirDisplay)
{
    EXPECT_EQ(setAndShow("Freq", "200Hz"), "200.0000");
    EXPECT_EQ(setAndShow("Freq", "1500 Hz"), "1500.000");
    EXPECT_EQ(setAndShow("Gain", "-6dB"), "-6.00000");
    EXPECT_EQ(setAndShow("Gain", "+12.5dB"), "12.50000");
    EXPECT_EQ(setAndShow("Level", "-20dB"), "-20.0000");
    EXPECT_EQ(setAndShow("Slope", "-36"), "-36");
    EXPECT_EQ(setAndShow("Slope", "-96db/oct"), "-96");
    // The display depends on the sample rate the instance runs at.
    PluginInstance fast(PluginLibrary::load(pluginPath()), 96000.0f, 512);
    ParameterResolver(fast).apply({{"Freq", "200Hz"}});
    EXPECT_EQ(fast.paramDisplay(4), "200.0000");
    EXPECT_NEAR(TestGain::frequency(fast.getParameter(4), 96000.0f), 200.0, 2e-4);
}

TEST_F(HostParameters, WordsFindTheirRangeAwayFromBoundaries)
{
    EXPECT_EQ(setAndShow("Mode", "Off"), "Off");
    EXPECT_EQ(instance.getParameter(2), 0.0f);
    EXPECT_EQ(setAndShow("Mode", "on"), "On");
    EXPECT_EQ(instance.getParameter(2), 1.0f);
    EXPECT_EQ(setAndShow("Shape", "Hard"), "Hard");
    EXPECT_NEAR(instance.getParameter(8), 0.5f, 0.01f);
    EXPECT_EQ(setAndShow("Level", "-oo"), "-oo");
}

TEST_F(HostParameters, NonMonotonicDisplaysAreSearchedToo)
{
    const std::string shown = setAndShow("Wobble", "5");
    EXPECT_NEAR(std::stod(shown), 5.0, 1.5e-5) << shown;
}

TEST_F(HostParameters, UnreachableValuesSayWhatIsAccepted)
{
    instance.setParameter(5, 0.3f);
    const std::string between = errorOf("Slope", "-30");
    EXPECT_NE(between.find("out of reach"), std::string::npos) << between;
    EXPECT_NE(between.find("-24"), std::string::npos) << between;
    EXPECT_NE(between.find("-36"), std::string::npos) << between;
    EXPECT_EQ(instance.getParameter(5), 0.3f); // left as it was

    const std::string beyond = errorOf("Freq", "50000Hz");
    EXPECT_NE(beyond.find("ranges from"), std::string::npos) << beyond;
    const std::string unit = errorOf("Freq", "3dB");
    EXPECT_NE(unit.find("'Hz'"), std::string::npos) << unit;
    const std::string word = errorOf("Shape", "Loud");
    EXPECT_NE(word.find("Soft, Hard, Clip"), std::string::npos) << word;
}

TEST(HostSettings, ParsesParamEqualsValue)
{
    const ParameterSetting setting = ParameterSetting::parse(" M.Ceiling = -1dB ");
    EXPECT_EQ(setting.parameter, "M.Ceiling");
    EXPECT_EQ(setting.value, "-1dB");
    EXPECT_THROW(ParameterSetting::parse("Gain"), HostError);
    EXPECT_THROW(ParameterSetting::parse("=0.5"), HostError);
    EXPECT_THROW(ParameterSetting::parse("Gain="), HostError);
}
} // namespace
