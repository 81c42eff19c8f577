// Drives a test effect through its record's entry points, as a host would.
#include "TestEffect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace
{

// The effect is created with new, as an entry point does; effClose through the
// record deletes it, otherwise the fixture does.
class EffectDispatcherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RecordingHost::reset();
        effect = new TestEffect(RecordingHost::callback, log);
        record = effect->getAeffect();
    }
    void TearDown() override
    {
        if (effect != nullptr)
            record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
    }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f)
    {
        return record->dispatcher(record, opcode, index, value, ptr, opt);
    }

    EffectLog log;
    TestEffect* effect = nullptr;
    AEffect* record = nullptr;
};

TEST_F(EffectDispatcherTest, RecordAfterConstruction)
{
    EXPECT_EQ(record->magic, 0x56737450);
    EXPECT_EQ(record->numPrograms, 1);
    EXPECT_EQ(record->numParams, 49);
    EXPECT_EQ(record->numInputs, 2);
    EXPECT_EQ(record->numOutputs, 2);
    EXPECT_EQ(record->flags, 16);
    EXPECT_EQ(record->initialDelay, 6848);
    EXPECT_EQ(record->ioRatio, 1.0f);
    EXPECT_EQ(record->uniqueID, 0x6D51564D);
    EXPECT_EQ(record->version, 1);
    EXPECT_EQ(record->object, static_cast<void*>(static_cast<AudioEffect*>(effect)));
    EXPECT_EQ(record->user, nullptr);
    EXPECT_EQ(record->resvd1, 0);
    EXPECT_EQ(record->resvd2, 0);
    EXPECT_EQ(record->realQualities, 0);
    EXPECT_EQ(record->offQualities, 0);
    for (char byte : record->future)
        EXPECT_EQ(byte, 0);
    EXPECT_NE(record->dispatcher, nullptr);
    EXPECT_NE(record->process, nullptr);
    EXPECT_NE(record->setParameter, nullptr);
    EXPECT_NE(record->getParameter, nullptr);
    EXPECT_NE(record->processReplacing, nullptr);
    EXPECT_NE(record->processDoubleReplacing, nullptr);
    EXPECT_EQ(effect->getSampleRate(), 44100.0f);
    EXPECT_EQ(effect->getBlockSize(), 1024);
    EXPECT_EQ(effect->getProgram(), 0);
    EXPECT_EQ(effect->getEditor(), nullptr);
    // Constructing sends nothing to the host.
    EXPECT_TRUE(RecordingHost::calls().empty());
}

// The base's own constructor values, before a derived effect changes them.
TEST(EffectBaseRecord, BaseConstructorDefaults)
{
    struct Bare : AudioEffectX
    {
        Bare() : AudioEffectX(nullptr, 3, 7) {}
        void processReplacing(float**, float**, VstInt32) override {}
    } bare;
    const AEffect& record = *bare.getAeffect();
    EXPECT_EQ(record.numPrograms, 3);
    EXPECT_EQ(record.numParams, 7);
    EXPECT_EQ(record.numInputs, 1);
    EXPECT_EQ(record.numOutputs, 2);
    EXPECT_EQ(record.flags, effFlagsCanReplacing);
    EXPECT_EQ(record.uniqueID, fourCharCode('N', 'o', 'E', 'f'));
    EXPECT_EQ(record.initialDelay, 0);
    EXPECT_EQ(record.version, 1);
}

struct OpcodeAnswer
{
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    VstIntPtr expected;
};

// Opcodes that answer a fixed default and call nothing on the host.
TEST_F(EffectDispatcherTest, DefaultAnswers)
{
    const OpcodeAnswer table[] = {
        {effOpen, 0, 0, 0},
        {effGetProgram, 0, 0, 0},
        {effGetVu, 0, 0, 0},
        {effEditGetRect, 0, 0, 0},
        {effEditOpen, 0, 0, 0},
        {effEditClose, 0, 0, 0},
        {effEditIdle, 0, 0, 0},
        {effIdentify, 0, 0, 0x4E764566},
        {effGetChunk, 0, 0, 0},
        {effSetChunk, 0, 16, 0},
        {effProcessEvents, 0, 0, 0},
        {effCanBeAutomated, 0, 0, 1},
        {effCanBeAutomated, 48, 0, 1},
        {effCanBeAutomated, 1000, 0, 1},
        {effString2Parameter, 0, 0, 0},
        {effGetProgramNameIndexed, 0, 0, 0},
        {effGetInputProperties, 0, 0, 0},
        {effGetOutputProperties, 0, 0, 0},
        {effGetPlugCategory, 0, 0, kPlugCategUnknown},
        {effOfflineNotify, 1, 0, 0},
        {effOfflinePrepare, 0, 0, 0},
        {effOfflineRun, 0, 0, 0},
        {effProcessVarIo, 0, 0, 0},
        {effSetSpeakerArrangement, 0, 0, 0},
        {effSetBypass, 0, 1, 0},
        {effGetEffectName, 0, 0, 0},
        {effGetVendorString, 0, 0, 0},
        {effGetProductString, 0, 0, 0},
        {effGetVendorVersion, 0, 0, 0},
        {effVendorSpecific, 1, 2, 0},
        {effGetTailSize, 0, 0, 0},
        {effGetParameterProperties, 0, 0, 0},
        {effGetVstVersion, 0, 0, 2400},
        {effEditKeyDown, 65, 1, 0},
        {effEditKeyUp, 65, 1, 0},
        {effSetEditKnobMode, 0, 2, 0},
        {effGetMidiProgramName, 0, 0, 0},
        {effGetCurrentMidiProgram, 0, 0, -1},
        {effGetMidiProgramCategory, 0, 0, 0},
        {effHasMidiProgramsChanged, 0, 0, 0},
        {effGetMidiKeyName, 0, 0, 0},
        {effBeginSetProgram, 0, 0, 0},
        {effEndSetProgram, 0, 0, 0},
        {effShellGetNextPlugin, 0, 0, 0},
        {effStartProcess, 0, 0, 0},
        {effStopProcess, 0, 0, 0},
        {effSetTotalSampleToProcess, 0, 4096, 4096},
        {effSetPanLaw, 0, 1, 0},
        {effBeginLoadBank, 0, 0, 0},
        {effBeginLoadProgram, 0, 0, 0},
        {effSetProcessPrecision, 0, 1, 0},
        {effGetNumMidiInputChannels, 0, 0, 0},
        {effGetNumMidiOutputChannels, 0, 0, 0},
    };
    for (const OpcodeAnswer& row : table)
        EXPECT_EQ(dispatch(row.opcode, row.index, row.value), row.expected) << "opcode " << row.opcode;
    EXPECT_TRUE(RecordingHost::calls().empty());
}

// Opcodes the base does not handle (legacy ones and anything out of range) answer 0.
TEST_F(EffectDispatcherTest, UnhandledOpcodesAnswerZero)
{
    const VstInt32 unhandled[] = {effEditDraw, effEditMouse, effEditKey, effEditTop, effEditSleep,
                                  effGetNumProgramCategories, effCopyProgram, effConnectInput,
                                  effConnectOutput, effGetCurrentPosition, effGetDestinationBuffer,
                                  effSetBlockSizeAndSampleRate, effGetErrorText, effIdle, effGetIcon,
                                  effSetViewPosition, effKeysRequired, 80, 81, 1000, -1, -100};
    for (VstInt32 opcode : unhandled)
        EXPECT_EQ(dispatch(opcode, 1, 1, nullptr, 1.0f), 0) << "opcode " << opcode;
    EXPECT_EQ(log.opens + log.closes + log.suspends + log.resumes, 0);
    EXPECT_EQ(effect->getSampleRate(), 44100.0f);
    EXPECT_EQ(effect->getBlockSize(), 1024);
}

TEST_F(EffectDispatcherTest, CanDoAnswersZeroForEveryText)
{
    char midi[] = "receiveVstMidiEvent";
    char other[] = "bypass";
    EXPECT_EQ(dispatch(effCanDo, 0, 0, midi), 0);
    EXPECT_EQ(dispatch(effCanDo, 0, 0, other), 0);
    EXPECT_EQ(dispatch(effCanDo, 0, 0, nullptr), 0);
}

TEST_F(EffectDispatcherTest, EmptyTextDefaults)
{
    // The base writes an empty string and nothing beyond it.
    for (VstInt32 opcode : {effGetProgramName, effGetParamLabel, effGetParamDisplay, effGetParamName}) {
        char text[8];
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(dispatch(opcode, 3, 0, text), 0);
        EXPECT_EQ(text[0], '\0');
        EXPECT_EQ(text[1], 'x');
        EXPECT_EQ(dispatch(opcode, 3, 0, nullptr), 0);
    }
}

TEST_F(EffectDispatcherTest, SpeakerArrangementQueryStoresNull)
{
    VstSpeakerArrangement dummy{};
    VstSpeakerArrangement* input = &dummy;
    VstSpeakerArrangement* output = &dummy;
    EXPECT_EQ(dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), &output), 0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);
    EXPECT_EQ(dispatch(effGetSpeakerArrangement, 0, 0, nullptr), 0);
}

TEST_F(EffectDispatcherTest, SampleRateAndBlockSizeAreStored)
{
    EXPECT_EQ(dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f), 0);
    EXPECT_EQ(dispatch(effSetBlockSize, 0, 512), 0);
    EXPECT_EQ(effect->getSampleRate(), 48000.0f);
    EXPECT_EQ(effect->getBlockSize(), 512);
}

TEST_F(EffectDispatcherTest, MainsChangedRoutesToSuspendAndResume)
{
    dispatch(effMainsChanged, 0, 0);
    EXPECT_EQ(log.suspends, 1);
    EXPECT_EQ(log.resumes, 0);
    for (VstIntPtr value : {VstIntPtr{1}, VstIntPtr{2}, VstIntPtr{-1}})
        dispatch(effMainsChanged, 0, value);
    EXPECT_EQ(log.suspends, 1);
    EXPECT_EQ(log.resumes, 3);
    // Neither a synth nor able to receive MIDI: resume asks the host for nothing.
    EXPECT_TRUE(RecordingHost::calls().empty());
}

TEST_F(EffectDispatcherTest, ResumeAsksForMidiOnlyWhenWanted)
{
    effect->canDoAnswer = -1;
    dispatch(effMainsChanged, 0, 1);
    EXPECT_TRUE(RecordingHost::calls().empty());

    effect->canDoAnswer = 1;
    dispatch(effMainsChanged, 0, 1);
    ASSERT_EQ(RecordingHost::calls().size(), 1u);
    EXPECT_EQ(RecordingHost::calls()[0].opcode, audioMasterWantMidi);
    EXPECT_EQ(RecordingHost::calls()[0].value, 1);
    EXPECT_EQ(RecordingHost::calls()[0].effect, record);

    effect->canDoAnswer = 0;
    effect->isSynth();
    dispatch(effMainsChanged, 0, 1);
    EXPECT_EQ(RecordingHost::calls().size(), 2u);
    EXPECT_EQ(dispatch(effGetPlugCategory), kPlugCategSynth);
}

TEST_F(EffectDispatcherTest, SetProgramBounds)
{
    dispatch(effSetProgram, 0, 1); // equal to numPrograms
    EXPECT_EQ(dispatch(effGetProgram), 0);
    dispatch(effSetProgram, 0, -1); // negative programs are ignored as well
    EXPECT_EQ(dispatch(effGetProgram), 0);
    dispatch(effSetProgram, 0, VstIntPtr{1} << 20);
    EXPECT_EQ(dispatch(effGetProgram), 0);
    dispatch(effSetProgram, 0, 0);
    EXPECT_EQ(dispatch(effGetProgram), 0);
    EXPECT_EQ(effect->currentProgram(), 0);
}

TEST(EffectDispatcherPrograms, SetProgramWithinRange)
{
    struct Multi : AudioEffectX
    {
        Multi() : AudioEffectX(nullptr, 4, 1) {}
        void processReplacing(float**, float**, VstInt32) override {}
    } multi;
    AEffect* record = multi.getAeffect();
    EXPECT_EQ(record->dispatcher(record, effSetProgram, 0, 3, nullptr, 0.0f), 0);
    EXPECT_EQ(record->dispatcher(record, effGetProgram, 0, 0, nullptr, 0.0f), 3);
    record->dispatcher(record, effSetProgram, 0, 4, nullptr, 0.0f);
    EXPECT_EQ(record->dispatcher(record, effGetProgram, 0, 0, nullptr, 0.0f), 3);
}

TEST_F(EffectDispatcherTest, EffCloseThroughRecordDestroysObject)
{
    EXPECT_EQ(dispatch(effClose), 1);
    EXPECT_EQ(log.closes, 1);
    EXPECT_EQ(log.destructions, 1);
    effect = nullptr; // deleted; the fixture must not close it again
}

TEST_F(EffectDispatcherTest, DirectEffCloseDestroysNothing)
{
    EXPECT_EQ(effect->dispatcher(effClose, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(log.closes, 1);
    EXPECT_EQ(log.destructions, 0);
    EXPECT_EQ(record->magic, kEffectMagic);
}

TEST_F(EffectDispatcherTest, OpenReachesObject)
{
    EXPECT_EQ(dispatch(effOpen), 0);
    EXPECT_EQ(log.opens, 1);
}

TEST_F(EffectDispatcherTest, ParameterEntries)
{
    record->setParameter(record, 5, 0.75f);
    ASSERT_EQ(log.parameterSets.size(), 1u);
    EXPECT_EQ(log.parameterSets[0].first, 5);
    EXPECT_EQ(log.parameterSets[0].second, 0.75f);
    EXPECT_EQ(record->getParameter(record, 3), 0.75f);
    EXPECT_TRUE(RecordingHost::calls().empty());
}

TEST_F(EffectDispatcherTest, ProcessEntries)
{
    float inLeft[4] = {1, 2, 3, 4};
    float inRight[4] = {-1, -2, -3, -4};
    float outLeft[4] = {9, 9, 9, 9};
    float outRight[4] = {9, 9, 9, 9};
    float* inputs[2] = {inLeft, inRight};
    float* outputs[2] = {outLeft, outRight};

    // The accumulating entry reaches the base's empty process: outputs untouched.
    record->process(record, inputs, outputs, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(outLeft[i], 9.0f);

    record->processReplacing(record, inputs, outputs, 4);
    EXPECT_EQ(log.replacingCalls, 1);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(outLeft[i], 2.0f * inLeft[i]);
        EXPECT_EQ(outRight[i], 2.0f * inRight[i]);
    }
    record->processDoubleReplacing(record, nullptr, nullptr, 0);
    EXPECT_EQ(log.doubleReplacingCalls, 1);
}

TEST(EffectEntryPoints, NullRecordOrObjectIsHarmless)
{
    struct Bare : AudioEffectX
    {
        Bare() : AudioEffectX(nullptr, 1, 1) {}
        void processReplacing(float**, float**, VstInt32) override {}
    } bare;
    AEffect copy = *bare.getAeffect();
    copy.object = nullptr;
    EXPECT_EQ(copy.dispatcher(&copy, effClose, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(copy.dispatcher(nullptr, effIdentify, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(copy.getParameter(&copy, 0), 0.0f);
    copy.setParameter(&copy, 0, 1.0f);
    copy.process(&copy, nullptr, nullptr, 0);
    copy.processReplacing(nullptr, nullptr, nullptr, 0);
}

TEST_F(EffectDispatcherTest, FlagSetters)
{
    struct FlagCase
    {
        void (*set)(TestEffect&, bool);
        VstInt32 bit;
    };
    const FlagCase cases[] = {
        {[](TestEffect& e, bool s) { e.hasClip(s); }, effFlagsHasClip},
        {[](TestEffect& e, bool s) { e.hasVu(s); }, effFlagsHasVu},
        {[](TestEffect& e, bool s) { e.canMono(s); }, effFlagsCanMono},
        {[](TestEffect& e, bool s) { e.canProcessReplacing(s); }, effFlagsCanReplacing},
        {[](TestEffect& e, bool s) { e.programsAreChunks(s); }, effFlagsProgramChunks},
        {[](TestEffect& e, bool s) { e.isSynth(s); }, effFlagsIsSynth},
        {[](TestEffect& e, bool s) { e.noTail(s); }, effFlagsNoSoundInStop},
        {[](TestEffect& e, bool s) { e.wantAsyncOperation(s); }, effFlagsExtIsAsync},
        {[](TestEffect& e, bool s) { e.hasExternalBuffer(s); }, effFlagsExtHasBuffer},
        {[](TestEffect& e, bool s) { e.canDoubleReplacing(s); }, effFlagsCanDoubleReplacing},
    };
    for (const FlagCase& c : cases) {
        const VstInt32 before = record->flags;
        c.set(*effect, true);
        EXPECT_EQ(record->flags, before | c.bit);
        c.set(*effect, false);
        EXPECT_EQ(record->flags, before & ~c.bit);
        c.set(*effect, (before & c.bit) != 0);
        EXPECT_EQ(record->flags, before);
    }
    effect->hasClip();
    EXPECT_EQ(record->flags, effFlagsCanReplacing | effFlagsHasClip);
}

TEST_F(EffectDispatcherTest, RecordSetters)
{
    effect->setRealtimeQualities(3);
    effect->setOfflineQualities(4);
    effect->setInitialDelay(128);
    effect->setUniqueID(fourCharCode('a', 'b', 'c', 'd'));
    EXPECT_EQ(record->realQualities, 3);
    EXPECT_EQ(record->offQualities, 4);
    EXPECT_EQ(record->initialDelay, 128);
    EXPECT_EQ(record->uniqueID, 0x61626364);
    effect->setBlockSizeAndSampleRate(256, 96000.0f);
    EXPECT_EQ(effect->getBlockSize(), 256);
    EXPECT_EQ(effect->getSampleRate(), 96000.0f);
}

TEST_F(EffectDispatcherTest, EditorOpcodesReachEditor)
{
    int editorDestructions = 0;
    auto* editor = new TestEditor(editorDestructions);
    effect->attachEditor(editor);

    ERect* rect = nullptr;
    EXPECT_EQ(dispatch(effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ(rect, &editor->rect);
    int parent = 0;
    EXPECT_EQ(dispatch(effEditOpen, 0, 0, &parent), 1);
    EXPECT_EQ(editor->openedWith, &parent);
    EXPECT_EQ(dispatch(effEditIdle), 0);
    EXPECT_EQ(editor->idles, 1);

    EXPECT_EQ(dispatch(effEditKeyDown, 'a', 0x1234, nullptr, 300.9f), 1);
    EXPECT_EQ(editor->lastKey.character, 'a');
    EXPECT_EQ(editor->lastKey.virt, 0x34);
    EXPECT_EQ(editor->lastKey.modifier, 300 & 0xFF);
    EXPECT_EQ(dispatch(effEditKeyUp, 'b', 7, nullptr, 2.0f), 0);
    EXPECT_EQ(editor->lastKey.character, 'b');
    EXPECT_EQ(editor->lastKey.modifier, 2);
    // A modifier no integer holds must not reach the float-to-int conversion.
    EXPECT_EQ(dispatch(effEditKeyUp, 'c', 7, nullptr, std::nanf("")), 0);
    EXPECT_EQ(editor->lastKey.modifier, 0);

    EXPECT_EQ(dispatch(effSetEditKnobMode, 0, 2), 1);
    EXPECT_EQ(editor->knobMode, 2);
    EXPECT_EQ(dispatch(effEditClose), 0);
    EXPECT_EQ(editor->closes, 1);

    // The effect owns the editor and deletes it with itself.
    dispatch(effClose);
    effect = nullptr;
    EXPECT_EQ(editorDestructions, 1);
}

} // namespace
