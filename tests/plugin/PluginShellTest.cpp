// The multiband effect as a host sees it: entry, record, identity, parameter
// map, the driving of the six inner instances and the start-up failures. The
// inner maximizer is replaced by a test plug-in that logs every call.
#include "TestHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace TestHost;

namespace
{

constexpr float kDefaultSlope = 0.21428572f;

// The test inner plug-in loaded beside the effect, for its call log.
class InnerLog
{
public:
    explicit InnerLog(const PluginFolder& folder, int failAtCreation = -1, int nameLength = 0)
        : library(openLibrary(folder.innerPath()))
    {
        using Configure = void (*)(int, int, int);
        auto configure = reinterpret_cast<Configure>(librarySymbol(library, "orvexTestConfigure"));
        takeCalls = reinterpret_cast<Take>(librarySymbol(library, "orvexTestTakeCalls"));
        if (configure)
            configure(failAtCreation, nameLength, 0);
    }
    ~InnerLog() { closeLibrary(library); }

    bool ready() const { return takeCalls != nullptr; }

    std::vector<std::string> take()
    {
        std::vector<std::string> lines;
        std::istringstream text(takeCalls ? takeCalls() : "");
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
        return lines;
    }

private:
    using Take = const char* (*)();
    void* library;
    Take takeCalls = nullptr;
};

// Each step for each instance in turn: instance 0's steps, then instance 1's...
std::vector<std::string> eachInstance(const std::vector<std::string>& steps, const std::vector<int>& ids = {0, 1, 2, 3, 4, 5})
{
    std::vector<std::string> lines;
    for (int id : ids)
        for (const std::string& step : steps)
            lines.push_back(std::to_string(id) + " " + step);
    return lines;
}

std::string displayOf(AEffect* effect, VstInt32 index)
{
    return textOf(effect, effGetParamDisplay, index);
}

// An effect loaded from its own folder with the logging inner plug-in beside it.
struct LoggedEffect
{
    explicit LoggedEffect(int failAtCreation = -1, int nameLength = 0)
        : folder(ORVEX_TEST_INNER_PATH), log(folder, failAtCreation, nameLength), plugin(folder)
    {
    }

    PluginFolder folder;
    InnerLog log;
    Plugin plugin;
};

} // namespace

TEST(PluginEntry, HostVersionZeroGetsNoEffect)
{
    PluginFolder folder;
    Plugin plugin(folder);
    ASSERT_TRUE(plugin.loaded());
    versionAnswer = 0;
    AEffect* effect = plugin.create();
    versionAnswer = kVstVersion;
    EXPECT_EQ(effect, nullptr);
}

TEST(PluginEntry, RecordIdentityAndDispatcherDefaults)
{
    LoggedEffect setup;
    AEffect* effect = setup.plugin.create();
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->magic, fourCharCode('V', 's', 't', 'P'));
    EXPECT_EQ(effect->uniqueID, 0x6D51564D);
    EXPECT_EQ(effect->numPrograms, 1);
    EXPECT_EQ(effect->numParams, 49);
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->flags, effFlagsCanReplacing);
    EXPECT_EQ(effect->initialDelay, 6848);
    EXPECT_EQ(effect->ioRatio, 1.0f);
    EXPECT_EQ(effect->version, 1);
    EXPECT_NE(effect->object, nullptr);

    EXPECT_EQ(dispatch(effect, effGetVstVersion), 2400);
    EXPECT_EQ(dispatch(effect, effGetPlugCategory), 0);
    char canDo[] = "receiveVstMidiEvent";
    EXPECT_EQ(dispatch(effect, effCanDo, 0, 0, canDo), 0);
    EXPECT_EQ(dispatch(effect, effGetTailSize), 0);
    EXPECT_EQ(dispatch(effect, effIdentify), fourCharCode('N', 'v', 'E', 'f'));
    EXPECT_EQ(dispatch(effect, effGetCurrentMidiProgram), -1);
    EXPECT_EQ(dispatch(effect, effSetTotalSampleToProcess, 0, 4096), 4096);
    EXPECT_EQ(dispatch(effect, effCanBeAutomated, 48), 1);
    EXPECT_EQ(dispatch(effect, effEditOpen), 0);
    EXPECT_EQ(dispatch(effect, effGetChunk), 0);
    EXPECT_EQ(dispatch(effect, 80), 0);
    dispatch(effect, effSetProgram, 0, 1);
    EXPECT_EQ(dispatch(effect, effGetProgram), 0);
    EXPECT_EQ(dispatch(effect, effGetVendorVersion), 1000);

    int untouched = 0;
    EXPECT_EQ(textOf(effect, effGetEffectName, 0, &untouched), "Multiband Orvex Maximizer");
    EXPECT_EQ(untouched, 256 - 33);
    EXPECT_EQ(textOf(effect, effGetVendorString, 0, &untouched), "ylk");
    EXPECT_EQ(untouched, 256 - 65);
    EXPECT_EQ(textOf(effect, effGetProductString, 0, &untouched), "Multiband Orvex Maximizer");
    EXPECT_EQ(untouched, 256 - 65);
    EXPECT_EQ(dispatch(effect, effClose), 1);
}

TEST(InnerInstances, StartUpCreatesOpensResumesAndClearsParameter15)
{
    LoggedEffect setup;
    ASSERT_TRUE(setup.log.ready());
    AEffect* effect = setup.plugin.create();
    ASSERT_NE(effect, nullptr);
    // Created in band order, master last; each hears its host answer 2400 to
    // the version request and 0 to anything else.
    std::vector<std::string> expected = eachInstance({"host 2400 0"});
    const std::vector<std::string> opened = eachInstance({"open", "mains 1", "set 15 0"});
    expected.insert(expected.end(), opened.begin(), opened.end());
    EXPECT_EQ(setup.log.take(), expected);

    dispatch(effect, effSetBlockSize, 0, 512);
    EXPECT_EQ(setup.log.take(), eachInstance({"mains 0", "blocksize 512", "mains 1"}));
    dispatch(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(setup.log.take(), eachInstance({"mains 0", "rate 48000", "mains 1"}));
    // A resume restarts the instances too, bands first: none keeps the old stream.
    dispatch(effect, effMainsChanged, 0, 0);
    dispatch(effect, effMainsChanged, 0, 1);
    EXPECT_EQ(setup.log.take(), eachInstance({"mains 0", "mains 1"}));

    dispatch(effect, effClose);
    EXPECT_EQ(setup.log.take(), eachInstance({"mains 0", "close"}));
}

TEST(InnerInstances, CrossoverIsRebuiltBeforeAnyInstanceHearsTheRate)
{
    LoggedEffect setup;
    AEffect* effect = setup.plugin.create();
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->initialDelay, 6848);
    void* inner = openLibrary(setup.folder.innerPath());
    auto setHook = reinterpret_cast<void (*)(void (*)(void*), void*)>(librarySymbol(inner, "orvexTestSetRateHook"));
    ASSERT_NE(setHook, nullptr);
    // The first rebuild replaces the construction-time latency; each instance
    // notes the latency it finds when it hears the new rate.
    struct Seen
    {
        AEffect* effect;
        std::vector<VstInt32> delays;
    } seen{effect, {}};
    setHook([](void* context) {
        auto* s = static_cast<Seen*>(context);
        s->delays.push_back(s->effect->initialDelay);
    }, &seen);
    dispatch(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    setHook(nullptr, nullptr);
    EXPECT_NE(effect->initialDelay, 6848);
    EXPECT_EQ(seen.delays, std::vector<VstInt32>(6, effect->initialDelay));
    dispatch(effect, effClose);
    closeLibrary(inner);
}

TEST(Parameters, ForwardedToTheInstancesWithPrefixedNames)
{
    LoggedEffect setup(-1, 63);
    AEffect* effect = setup.plugin.create();
    ASSERT_NE(effect, nullptr);
    setup.log.take();

    effect->setParameter(effect, 13, 0.25f);
    effect->setParameter(effect, 26, 0.5f);
    effect->setParameter(effect, 48, 0.75f);
    effect->setParameter(effect, 49, 0.125f);
    EXPECT_EQ(setup.log.take(), (std::vector<std::string>{"0 set 0 0.25", "2 set 1 0.5", "5 set 5 0.75"}));
    EXPECT_EQ(effect->getParameter(effect, 13), 0.25f);
    EXPECT_EQ(effect->getParameter(effect, 26), 0.5f);
    EXPECT_EQ(effect->getParameter(effect, 48), 0.75f);
    EXPECT_EQ(effect->getParameter(effect, 49), 0.0f);

    // 63-character inner names: the prefix and the first 30 characters.
    int untouched = 0;
    EXPECT_EQ(textOf(effect, effGetParamName, 13, &untouched), "1." + std::string(30, 'a'));
    EXPECT_EQ(untouched, 256 - 33);
    EXPECT_EQ(textOf(effect, effGetParamName, 48), "M." + std::string(30, 'f'));
    EXPECT_EQ(textOf(effect, effGetParamName, 40), "5." + std::string(30, 'd'));
    // Labels and displays as long: cut to the 8 characters a host allows.
    EXPECT_EQ(textOf(effect, effGetParamLabel, 20, &untouched), std::string(8, 'b'));
    EXPECT_EQ(untouched, 256 - 9);
    EXPECT_EQ(textOf(effect, effGetParamDisplay, 47, &untouched), std::string(8, 'e'));
    EXPECT_EQ(untouched, 256 - 9);
    EXPECT_EQ(textOf(effect, effGetParamName, 49), "<untouched>");
    EXPECT_EQ(textOf(effect, effGetParamName, -1), "<untouched>");
    dispatch(effect, effClose);
}

TEST(Parameters, ShortInnerNamesKeepTheirLength)
{
    LoggedEffect setup;
    AEffect* effect = setup.plugin.create();
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(textOf(effect, effGetParamName, 13), "1.Name0");
    EXPECT_EQ(textOf(effect, effGetParamName, 45), "M.Name2");
    dispatch(effect, effClose);
}

TEST(Parameters, OwnNamesLabelsAndDefaults)
{
    LoggedEffect setup;
    AEffect* effect = setup.plugin.create();
    ASSERT_NE(effect, nullptr);
    for (int band = 1; band <= 5; ++band)
    {
        const int index = 3 * (band - 1);
        int untouched = 0;
        EXPECT_EQ(textOf(effect, effGetParamName, index, &untouched), "Band" + std::to_string(band));
        EXPECT_EQ(untouched, 256 - 9);
        EXPECT_EQ(textOf(effect, effGetParamLabel, index, &untouched), "");
        EXPECT_EQ(untouched, 256 - 9);
        EXPECT_EQ(effect->getParameter(effect, index), 1.0f);
        EXPECT_EQ(displayOf(effect, index), "On");
        if (band == 5)
            break;
        EXPECT_EQ(textOf(effect, effGetParamName, index + 1), "Freq" + std::to_string(band));
        EXPECT_EQ(textOf(effect, effGetParamLabel, index + 1), "Hz");
        EXPECT_EQ(textOf(effect, effGetParamName, index + 2), "Slope" + std::to_string(band));
        EXPECT_EQ(textOf(effect, effGetParamLabel, index + 2, &untouched), "db/oct");
        EXPECT_EQ(untouched, 256 - 9);
        EXPECT_EQ(effect->getParameter(effect, index + 2), kDefaultSlope);
        EXPECT_EQ(displayOf(effect, index + 2), "-24");
    }
    // The frequency defaults are the 44100 Hz inverse of the display mapping.
    const double hz[] = {200.0, 1000.0, 4000.0, 10000.0};
    for (int i = 0; i < 4; ++i)
    {
        const double x = effect->getParameter(effect, 3 * i + 1);
        const double shown = -(44100.0 / 4.0) * std::log10(0.999 - 0.988 * x);
        EXPECT_NEAR(shown, hz[i], hz[i] * 1e-5);
    }
    dispatch(effect, effClose);
}

TEST(Parameters, FrequencyDisplaysFollowTheSampleRate)
{
    LoggedEffect setup;
    AEffect* effect = setup.plugin.create();
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(displayOf(effect, 1), "200.0000");
    EXPECT_EQ(displayOf(effect, 4), "999.9999");
    EXPECT_EQ(displayOf(effect, 7), "3999.999");
    EXPECT_EQ(displayOf(effect, 10), "9999.999");
    dispatch(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(displayOf(effect, 1), "217.6870");
    EXPECT_EQ(displayOf(effect, 4), "1088.435");
    EXPECT_EQ(displayOf(effect, 7), "4353.741");
    EXPECT_EQ(displayOf(effect, 10), "10884.35");
    int untouched = 0;
    textOf(effect, effGetParamDisplay, 10, &untouched);
    EXPECT_EQ(untouched, 256 - 9);
    dispatch(effect, effClose);
}

TEST(Parameters, SlopeStepsAndSwitches)
{
    LoggedEffect setup;
    AEffect* effect = setup.plugin.create();
    ASSERT_NE(effect, nullptr);
    const struct
    {
        float value;
        const char* shown;
    } slopes[] = {{0.0f, "-12"}, {0.2f, "-24"}, {0.25f, "-24"}, {0.3f, "-36"}, {0.99f, "-84"}, {1.0f, "-96"}};
    for (const auto& slope : slopes)
    {
        effect->setParameter(effect, 5, slope.value);
        EXPECT_EQ(effect->getParameter(effect, 5), slope.value);
        EXPECT_EQ(displayOf(effect, 5), slope.shown) << slope.value;
    }
    effect->setParameter(effect, 6, 0.5f);
    EXPECT_EQ(displayOf(effect, 6), "Off");
    effect->setParameter(effect, 6, 0.50001f);
    EXPECT_EQ(displayOf(effect, 6), "On");
    effect->setParameter(effect, 12, 0.0f);
    EXPECT_EQ(effect->getParameter(effect, 12), 0.0f);
    EXPECT_EQ(displayOf(effect, 12), "Off");
    // Own parameters never reach the instances.
    setup.log.take();
    effect->setParameter(effect, 1, 0.5f);
    EXPECT_TRUE(setup.log.take().empty());
    dispatch(effect, effClose);
}

// A host value outside 0..1 is clamped; a NaN leaves the parameter as it was,
// so neither reaches the crossover design or the reported latency.
TEST(Parameters, OwnValuesOutsideTheRangeAreClampedAndNanIgnored)
{
    LoggedEffect setup;
    AEffect* effect = setup.plugin.create();
    ASSERT_NE(effect, nullptr);
    dispatch(effect, effSetSampleRate, 0, 0, nullptr, 44100.0f);
    const VstInt32 latency = effect->initialDelay;
    for (VstInt32 index = 0; index < 13; ++index)
    {
        const float before = effect->getParameter(effect, index);
        effect->setParameter(effect, index, std::nanf(""));
        EXPECT_EQ(effect->getParameter(effect, index), before) << index;
        effect->setParameter(effect, index, -1.0f);
        EXPECT_EQ(effect->getParameter(effect, index), 0.0f) << index;
        effect->setParameter(effect, index, 2.0f);
        EXPECT_EQ(effect->getParameter(effect, index), 1.0f) << index;
        effect->setParameter(effect, index, before);
    }
    EXPECT_EQ(effect->initialDelay, latency);
    dispatch(effect, effClose);
}

TEST(Program, NameKeepsAtMost24Characters)
{
    LoggedEffect setup;
    AEffect* effect = setup.plugin.create();
    ASSERT_NE(effect, nullptr);
    int untouched = 0;
    EXPECT_EQ(textOf(effect, effGetProgramName, 0, &untouched), "Default");
    EXPECT_EQ(untouched, 256 - 25);
    char name[] = "abcdefghijklmnopqrstuvwxyz0123";
    dispatch(effect, effSetProgramName, 0, 0, name);
    EXPECT_EQ(textOf(effect, effGetProgramName, 0, &untouched), "abcdefghijklmnopqrstuvwx");
    EXPECT_EQ(untouched, 256 - 25);
    dispatch(effect, effClose);
}

TEST(Process, DoubleReplacingCopiesBothChannels)
{
    LoggedEffect setup;
    AEffect* effect = setup.plugin.create();
    ASSERT_NE(effect, nullptr);
    std::vector<double> left(37), right(37), outLeft(37, 9.0), outRight(37, 9.0);
    for (std::size_t i = 0; i < left.size(); ++i)
    {
        left[i] = std::sin(0.3 * static_cast<double>(i)) * 1e-3;
        right[i] = -static_cast<double>(i) / 7.0;
    }
    double* inputs[2] = {left.data(), right.data()};
    double* outputs[2] = {outLeft.data(), outRight.data()};
    effect->processDoubleReplacing(effect, inputs, outputs, 37);
    EXPECT_EQ(outLeft, left);
    EXPECT_EQ(outRight, right);
    dispatch(effect, effClose);
}

namespace
{

// Creates an effect while capturing standard error; checks the record still works.
AEffect* createWithMessage(const Plugin& plugin, const char* expected)
{
    testing::internal::CaptureStderr();
    AEffect* effect = plugin.create();
    const std::string message = testing::internal::GetCapturedStderr();
#if !defined(_WIN32)
    EXPECT_EQ(message, std::string("Multiband Orvex Maximizer: ") + expected + "\n");
#else
    (void)expected; // shown in a message box there
#endif
    return effect;
}

// What must hold for an effect without instances.
void expectUsableWithoutInstances(AEffect* effect)
{
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->numParams, 49);
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->uniqueID, 0x6D51564D);
    EXPECT_EQ(effect->initialDelay, 6848);
    for (VstInt32 index : {13, 30, 48})
    {
        EXPECT_EQ(textOf(effect, effGetParamName, index), "<untouched>");
        EXPECT_EQ(textOf(effect, effGetParamLabel, index), "<untouched>");
        EXPECT_EQ(displayOf(effect, index), "<untouched>");
        effect->setParameter(effect, index, 0.5f);
        EXPECT_EQ(effect->getParameter(effect, index), 0.0f);
    }
    effect->setParameter(effect, 3, 0.0f);
    EXPECT_EQ(displayOf(effect, 3), "Off");
    dispatch(effect, effSetBlockSize, 0, 256);
    dispatch(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(displayOf(effect, 1), "217.6870");
}

} // namespace

TEST(StartUpFailure, InnerLibraryMissingOrWithoutEntry)
{
    const std::pair<const char*, const char*> cases[] = {{"", "Failed to load VST Plugin library!"},
                                                         {ORVEX_TEST_NO_ENTRY_PATH, "VST Plugin main entry not found!"}};
    for (const auto& [inner, message] : cases)
    {
        PluginFolder folder(inner);
        Plugin plugin(folder);
        AEffect* effect = createWithMessage(plugin, message);
        expectUsableWithoutInstances(effect);
        EXPECT_EQ(dispatch(effect, effClose), 1);
    }
}

TEST(StartUpFailure, AnInstanceRefusedClosesTheOthers)
{
    LoggedEffect setup(3);
    AEffect* effect = createWithMessage(setup.plugin, "Failed to create effect instance!");
    // All six creations are tried; none is opened, the five created are closed.
    std::vector<std::string> expected = eachInstance({"host 2400 0"}, {0, 1, 2});
    expected.push_back("3 refused");
    const std::vector<std::string> later = eachInstance({"host 2400 0"}, {4, 5});
    expected.insert(expected.end(), later.begin(), later.end());
    const std::vector<std::string> closed = eachInstance({"close"}, {0, 1, 2, 4, 5});
    expected.insert(expected.end(), closed.begin(), closed.end());
    EXPECT_EQ(setup.log.take(), expected);
    expectUsableWithoutInstances(effect);
    EXPECT_EQ(dispatch(effect, effClose), 1);
    EXPECT_TRUE(setup.log.take().empty());
}
