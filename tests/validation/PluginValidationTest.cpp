// Entry point, effect record, dispatcher robustness and parameter behaviour,
// checked the way a host sees them, on every plug-in library of the build.
#include "ValidationHost.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>
#include <map>
#include <set>
#include <sstream>

using namespace Validation;

namespace
{

constexpr VstInt32 kParamTextLimit = 8;
// Names of the multiband effect's forwarded parameters ("M.Ceiling" ...).
constexpr VstInt32 kForwardedNameLimit = 32;
constexpr VstInt32 kMultibandOwnParams = 13;
constexpr char kGuard = '\x5a';

// What an opcode did to a buffer pre-filled with guard bytes.
struct TextResult
{
    bool written = false;    // some byte within limit + 1 changed
    bool terminated = false; // a zero byte within limit + 1
    bool guardIntact = true; // nothing written beyond limit + 1
    bool printable = true;   // no control characters before the terminator
    std::string text;
};

TextResult textWithGuard(const Effect& effect, VstInt32 opcode, VstInt32 index, VstInt32 limit)
{
    char buffer[1024];
    std::memset(buffer, kGuard, sizeof buffer);
    effect.dispatch(opcode, index, 0, buffer);
    TextResult result;
    const std::size_t inside = static_cast<std::size_t>(limit) + 1;
    for (std::size_t i = 0; i < sizeof buffer; ++i)
    {
        if (i < inside)
            result.written |= buffer[i] != kGuard;
        else
            result.guardIntact &= buffer[i] == kGuard;
    }
    const void* zero = std::memchr(buffer, 0, inside);
    result.terminated = zero != nullptr;
    if (result.terminated)
    {
        result.text = buffer;
        for (unsigned char c : result.text)
            result.printable &= c >= 0x20 && c != 0x7f;
    }
    return result;
}

VstInt32 nameLimit(const PluginInfo& plugin, VstInt32 index)
{
    return plugin.multiband && index >= kMultibandOwnParams ? kForwardedNameLimit : kParamTextLimit;
}

// A text an in-range query must produce: written, terminated within its limit,
// nothing beyond.
void expectText(const TextResult& r, const std::string& what)
{
    EXPECT_TRUE(r.written) << what << ": nothing written";
    EXPECT_TRUE(r.terminated) << what << ": no terminator within the limit";
    EXPECT_TRUE(r.guardIntact) << what << ": wrote beyond limit + 1 (\"" << r.text << "\")";
    EXPECT_TRUE(r.printable) << what << ": control characters in \"" << r.text << "\"";
}

// An out-of-range query may write nothing; what it writes must still be bounded.
void expectBoundedOrUntouched(const TextResult& r, const std::string& what)
{
    EXPECT_TRUE(r.guardIntact) << what << ": wrote beyond the limit";
    if (r.written)
    {
        EXPECT_TRUE(r.terminated) << what << ": unterminated text";
    }
}

bool allFinite(const Stereo& s)
{
    return firstViolation(s, std::numeric_limits<double>::infinity()) < 0;
}

// Opcodes whose ptr argument the interface defines (text, structure or place
// for a pointer); the others get a null ptr in the first sweep.
const std::set<VstInt32> kPointerOpcodes = {
    effSetProgramName, effGetProgramName, effGetParamLabel, effGetParamDisplay, effGetParamName, effEditGetRect,
    effEditOpen, effGetChunk, effSetChunk, effProcessEvents, effString2Parameter, effGetProgramNameIndexed,
    effGetInputProperties, effGetOutputProperties, effOfflineNotify, effOfflinePrepare, effOfflineRun,
    effProcessVarIo, effSetSpeakerArrangement, effGetEffectName, effGetErrorText, effGetVendorString,
    effGetProductString, effVendorSpecific, effCanDo, effGetParameterProperties, effGetMidiProgramName,
    effGetCurrentMidiProgram, effGetMidiProgramCategory, effGetMidiKeyName, effGetSpeakerArrangement,
    effShellGetNextPlugin, effBeginLoadBank, effBeginLoadProgram};

std::vector<VstInt32> sweepOpcodes()
{
    std::vector<VstInt32> opcodes;
    for (VstInt32 op = 0; op <= 100; ++op)
        if (op != effClose)
            opcodes.push_back(op);
    for (VstInt32 op : {-1, -2, -1000, INT_MIN, INT_MAX, 128, 1000, 65536})
        opcodes.push_back(op);
    return opcodes;
}

// After abuse, the effect must still start and process sensibly.
void expectStillWorks(const Effect& effect, const PluginInfo& plugin)
{
    effect.start(44100.0f, 512);
    const Stereo out = effect.render(sineMix(4096, 1.0f, 44100.0, 7), 512);
    EXPECT_TRUE(allFinite(out)) << plugin.label << ": non-finite output after the dispatcher sweep";
    EXPECT_EQ(effect.text(effGetEffectName).empty(), false);
}

class EntryValidation : public testing::TestWithParam<PluginInfo>
{
protected:
    void TearDown() override { TestHost::versionAnswer = kVstVersion; }
};

class DispatcherValidation : public testing::TestWithParam<PluginInfo>
{
};

class ParameterValidation : public testing::TestWithParam<PluginInfo>
{
};

} // namespace

TEST_P(EntryValidation, BothEntryNamesResolveToOneFunction)
{
    void* library = TestHost::loadOnce(GetParam().path);
    ASSERT_NE(library, nullptr) << "cannot load " << GetParam().path;
    void* vstMain = TestHost::librarySymbol(library, "VSTPluginMain");
    void* oldMain = TestHost::librarySymbol(library, "main");
    EXPECT_NE(vstMain, nullptr);
    EXPECT_NE(oldMain, nullptr);
    EXPECT_EQ(vstMain, oldMain);
}

TEST_P(EntryValidation, RecordDescribesAStereoEffectWithoutEditor)
{
    Effect effect(GetParam());
    ASSERT_TRUE(effect);
    const AEffect* e = effect.get();
    EXPECT_EQ(e->magic, kEffectMagic);
    EXPECT_EQ(e->numInputs, 2);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_NE(e->flags & effFlagsCanReplacing, 0);
    EXPECT_EQ(e->flags & effFlagsHasEditor, 0);
    EXPECT_GT(e->numParams, 0);
    EXPECT_GE(e->numPrograms, 1);
    EXPECT_GE(e->initialDelay, 0);
    EXPECT_NE(e->object, nullptr);
    EXPECT_NE(e->dispatcher, nullptr);
    EXPECT_NE(e->processReplacing, nullptr);
    EXPECT_NE(e->setParameter, nullptr);
    EXPECT_NE(e->getParameter, nullptr);
    EXPECT_EQ(effect.dispatch(effGetVstVersion), kVstVersion);
    // No editor announced, so the editor opcodes must not pretend to have one.
    char rect[64] = {};
    EXPECT_EQ(effect.dispatch(effEditGetRect, 0, 0, rect), 0);
}

TEST_P(EntryValidation, HostWithoutVersionGetsNoEffect)
{
    TestHost::versionAnswer = 0;
    Effect effect(GetParam());
    RecordProperty("effectForVersion0", effect ? "created" : "refused");
    if (GetParam().multiband)
    {
        EXPECT_EQ(effect.get(), nullptr) << "the multiband effect must refuse a host answering version 0";
    }
    else if (effect)
    {
        EXPECT_EQ(effect.get()->magic, kEffectMagic) << "an effect given to an old host must still be whole";
    }
}

TEST_P(DispatcherValidation, EveryOpcodeWithNeutralArgumentsIsSurvived)
{
    Effect effect(GetParam());
    ASSERT_TRUE(effect);
    std::vector<char> buffer(1 << 16);
    for (VstInt32 op : sweepOpcodes())
    {
        std::fill(buffer.begin(), buffer.end(), 0);
        void* ptr = kPointerOpcodes.count(op) ? buffer.data() : nullptr;
        effect.dispatch(op, 0, 0, ptr, 0.0f);
    }
    // Some hosts pass a buffer whatever the opcode.
    for (VstInt32 op : sweepOpcodes())
    {
        std::fill(buffer.begin(), buffer.end(), 0);
        effect.dispatch(op, 0, 0, buffer.data(), 0.0f);
    }
    expectStillWorks(effect, GetParam());
}

TEST_P(DispatcherValidation, ParameterTextsAreTerminatedWithinTheirLimits)
{
    const PluginInfo& plugin = GetParam();
    Effect effect(plugin);
    ASSERT_TRUE(effect);
    const VstInt32 count = effect.get()->numParams;
    for (VstInt32 i = 0; i < count; ++i)
    {
        const std::string where = std::string(plugin.label) + " parameter " + std::to_string(i);
        const TextResult name = textWithGuard(effect, effGetParamName, i, nameLimit(plugin, i));
        expectText(name, where + " name");
        EXPECT_FALSE(name.text.empty()) << where << ": empty name";
        expectText(textWithGuard(effect, effGetParamLabel, i, kParamTextLimit), where + " label");
        expectText(textWithGuard(effect, effGetParamDisplay, i, kParamTextLimit), where + " display");
    }
    for (VstInt32 i : {count, count + 1, -1, INT_MAX, INT_MIN})
    {
        const std::string where = std::string(plugin.label) + " parameter " + std::to_string(i) + " (out of range)";
        expectBoundedOrUntouched(textWithGuard(effect, effGetParamName, i, kForwardedNameLimit), where + " name");
        expectBoundedOrUntouched(textWithGuard(effect, effGetParamLabel, i, kParamTextLimit), where + " label");
        expectBoundedOrUntouched(textWithGuard(effect, effGetParamDisplay, i, kParamTextLimit), where + " display");
    }
}

TEST_P(DispatcherValidation, IdentityAndProgramTextsAreTerminatedWithinTheirLimits)
{
    Effect effect(GetParam());
    ASSERT_TRUE(effect);
    const TextResult name = textWithGuard(effect, effGetEffectName, 0, kVstMaxEffectNameLen);
    expectText(name, "effect name");
    EXPECT_FALSE(name.text.empty());
    expectText(textWithGuard(effect, effGetVendorString, 0, kVstMaxVendorStrLen), "vendor");
    expectText(textWithGuard(effect, effGetProductString, 0, kVstMaxProductStrLen), "product");
    expectText(textWithGuard(effect, effGetProgramName, 0, kVstMaxProgNameLen), "program name");
    expectBoundedOrUntouched(textWithGuard(effect, effGetProgramNameIndexed, 0, kVstMaxProgNameLen),
                             "indexed program name");

    // A name longer than the limit is cut, never overruns the host's buffer.
    std::string longName(100, 'x');
    effect.dispatch(effSetProgramName, 0, 0, &longName[0]);
    const TextResult program = textWithGuard(effect, effGetProgramName, 0, kVstMaxProgNameLen);
    expectText(program, "long program name");
    EXPECT_LE(program.text.size(), static_cast<std::size_t>(kVstMaxProgNameLen));
}

TEST_P(DispatcherValidation, TextOpcodesWithNullPointerAreSurvived)
{
    Effect effect(GetParam());
    ASSERT_TRUE(effect);
    const VstInt32 last = effect.get()->numParams - 1;
    for (VstInt32 op : {effGetParamName, effGetParamLabel, effGetParamDisplay})
        for (VstInt32 index : {0, last, last + 1, -1})
            effect.dispatch(op, index, 0, nullptr);
    for (VstInt32 op : {effGetProgramName, effSetProgramName, effGetEffectName, effGetVendorString,
                        effGetProductString, effGetProgramNameIndexed, effString2Parameter, effCanDo,
                        effShellGetNextPlugin, effGetErrorText})
        effect.dispatch(op, 0, 0, nullptr);
    expectStillWorks(effect, GetParam());
}

TEST_P(ParameterValidation, EverySetIsSurvivedAndAnsweredSanely)
{
    const PluginInfo& plugin = GetParam();
    Effect effect(plugin);
    ASSERT_TRUE(effect);
    effect.start(44100.0f, 256);
    const Stereo signal = sineMix(256, 1.0f, 44100.0, 3);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::map<std::string, std::map<std::string, int>> outOfRange; // value -> behaviour -> count

    for (VstInt32 i = 0; i < effect.get()->numParams; ++i)
    {
        const std::string where = std::string(plugin.label) + " parameter " + std::to_string(i) + " (" +
                                  effect.text(effGetParamName, i) + ")";
        const float original = effect.getParameter(i);
        const std::string originalDisplay = effect.text(effGetParamDisplay, i);
        ASSERT_TRUE(std::isfinite(original) && original >= 0.0f && original <= 1.0f) << where << ": " << original;
        for (float value : {0.0f, 0.5f, 1.0f, -1.0f, 2.0f, nan})
        {
            const float before = effect.getParameter(i);
            effect.setParameter(i, value);
            const float got = effect.getParameter(i);
            const bool inRange = value >= 0.0f && value <= 1.0f;
            EXPECT_TRUE(std::isfinite(got)) << where << ": set " << value << ", got " << got;
            if (inRange)
            {
                EXPECT_NEAR(got, value, 1e-6) << where << ": in-range value does not round-trip";
            }
            else
            {
                const char* what = got == before                             ? "ignored"
                                   : got == std::fmin(std::fmax(value, 0.0f), 1.0f) ? "clamped"
                                   : got == value                             ? "stored as is"
                                   : std::isnan(got)                          ? "NaN answered"
                                                                              : "other";
                ++outOfRange[std::to_string(value)][what];
            }
            expectText(textWithGuard(effect, effGetParamDisplay, i, kParamTextLimit),
                       where + " display after set " + std::to_string(value));
            EXPECT_TRUE(allFinite(effect.render(signal, 256))) << where << ": non-finite output after set " << value;
        }
        effect.setParameter(i, original);
        EXPECT_EQ(effect.getParameter(i), original) << where;
        EXPECT_EQ(effect.text(effGetParamDisplay, i), originalDisplay) << where;
    }
    std::ostringstream summary;
    for (const auto& [value, behaviours] : outOfRange)
    {
        summary << " set " << value << ":";
        for (const auto& [what, n] : behaviours)
            summary << " " << what << " x" << n;
        summary << ";";
    }
    std::cout << "[ note     ] " << plugin.label << " out-of-range parameter sets:" << summary.str() << "\n";
    RecordProperty("outOfRangeSets", summary.str());
}

INSTANTIATE_TEST_SUITE_P(Plugins, EntryValidation, testing::ValuesIn(pluginsUnderTest()), pluginLabel);
INSTANTIATE_TEST_SUITE_P(Plugins, DispatcherValidation, testing::ValuesIn(pluginsUnderTest()), pluginLabel);
INSTANTIATE_TEST_SUITE_P(Plugins, ParameterValidation, testing::ValuesIn(pluginsUnderTest()), pluginLabel);
