// Host-callback wrappers: one request each, with fixed argument placement and
// answer reading; fixed defaults without a host callback.
#include "TestEffect.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace
{

class HostWrapperTest : public ::testing::Test
{
protected:
    void SetUp() override { RecordingHost::reset(); }

    const HostCall& onlyCall()
    {
        EXPECT_EQ(RecordingHost::calls().size(), 1u);
        static const HostCall none{};
        return RecordingHost::calls().empty() ? none : RecordingHost::calls().back();
    }

    EffectLog log;
    TestEffect hosted{RecordingHost::callback, log};
    TestEffect alone{nullptr, log};
};

int marker[4];
void* const kPtr = &marker;

// One wrapper call: what it sends and how it reads the answer.
struct WrapperCase
{
    const char* name;
    std::function<VstIntPtr(TestEffect&)> call;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
    VstIntPtr hostAnswer;
    VstIntPtr expected;        // with that host answer
    VstIntPtr expectedAlone;   // without a host callback
};

template <typename T>
VstIntPtr asInt(T* pointer)
{
    return reinterpret_cast<VstIntPtr>(pointer);
}

std::vector<WrapperCase> wrapperCases()
{
    const VstIntPtr address = asInt(&marker[1]);
    auto* task = static_cast<VstOfflineTask*>(kPtr);
    auto* files = static_cast<VstAudioFile*>(kPtr);
    auto* selector = static_cast<VstFileSelect*>(kPtr);
    auto* window = static_cast<VstWindow*>(kPtr);
    return {
        {"getMasterVersion", [](TestEffect& e) { return VstIntPtr{e.getMasterVersion()}; }, audioMasterVersion, 0, 0,
         nullptr, 0, 2400, 2400, 1},
        {"getMasterVersion0", [](TestEffect& e) { return VstIntPtr{e.getMasterVersion()}; }, audioMasterVersion, 0, 0,
         nullptr, 0, 0, 1, 1},
        {"getCurrentUniqueId", [](TestEffect& e) { return VstIntPtr{e.getCurrentUniqueId()}; }, audioMasterCurrentId,
         0, 0, nullptr, 0, 1234, 1234, 0},
        {"masterIdle", [](TestEffect& e) { e.masterIdle(); return VstIntPtr{0}; }, audioMasterIdle, 0, 0, nullptr, 0,
         5, 0, 0},
        {"isInputConnected", [](TestEffect& e) { return VstIntPtr{e.isInputConnected(3)}; }, audioMasterPinConnected,
         3, 0, nullptr, 0, 1, 0, 1},
        {"isOutputConnected", [](TestEffect& e) { return VstIntPtr{e.isOutputConnected(0)}; },
         audioMasterPinConnected, 0, 1, nullptr, 0, 0, 1, 1},
        {"wantEvents", [](TestEffect& e) { e.wantEvents(7); return VstIntPtr{0}; }, audioMasterWantMidi, 0, 7, nullptr,
         0, 1, 0, 0},
        {"getTimeInfo", [](TestEffect& e) { return asInt(e.getTimeInfo(0x2a)); }, audioMasterGetTime, 0, 0x2a,
         nullptr, 0, address, address, 0},
        {"tempoAt", [](TestEffect& e) { return VstIntPtr{e.tempoAt(960)}; }, audioMasterTempoAt, 0, 960, nullptr, 0,
         120000, 120000, 0},
        {"getNumAutomatableParameters", [](TestEffect& e) { return VstIntPtr{e.getNumAutomatableParameters()}; },
         audioMasterGetNumAutomatableParameters, 0, 0, nullptr, 0, 12, 12, 0},
        {"getParameterQuantization", [](TestEffect& e) { return VstIntPtr{e.getParameterQuantization()}; },
         audioMasterGetParameterQuantization, 0, 0, nullptr, 0, 100, 100, 0},
        {"ioChanged", [](TestEffect& e) { return VstIntPtr{e.ioChanged()}; }, audioMasterIOChanged, 0, 0, nullptr, 0,
         -1, 1, 0},
        {"needIdle", [](TestEffect& e) { return VstIntPtr{e.needIdle()}; }, audioMasterNeedIdle, 0, 0, nullptr, 0, 5,
         1, 0},
        {"sizeWindow", [](TestEffect& e) { return VstIntPtr{e.sizeWindow(640, 480)}; }, audioMasterSizeWindow, 640,
         480, nullptr, 0, 1, 1, 0},
        {"getInputLatency", [](TestEffect& e) { return VstIntPtr{e.getInputLatency()}; }, audioMasterGetInputLatency,
         0, 0, nullptr, 0, 256, 256, 0},
        {"getOutputLatency", [](TestEffect& e) { return VstIntPtr{e.getOutputLatency()}; },
         audioMasterGetOutputLatency, 0, 0, nullptr, 0, 512, 512, 0},
        {"getPreviousPlug", [](TestEffect& e) { return asInt(e.getPreviousPlug(3)); }, audioMasterGetPreviousPlug, 0,
         0, nullptr, 0, address, address, 0},
        {"getNextPlug", [](TestEffect& e) { return asInt(e.getNextPlug(3)); }, audioMasterGetNextPlug, 0, 0, nullptr,
         0, address, address, 0},
        {"willProcessReplacing", [](TestEffect& e) { return VstIntPtr{e.willProcessReplacing()}; },
         audioMasterWillReplaceOrAccumulate, 0, 0, nullptr, 0, 2, 2, 0},
        {"getCurrentProcessLevel", [](TestEffect& e) { return VstIntPtr{e.getCurrentProcessLevel()}; },
         audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0, 2, 2, 0},
        {"getAutomationState", [](TestEffect& e) { return VstIntPtr{e.getAutomationState()}; },
         audioMasterGetAutomationState, 0, 0, nullptr, 0, 3, 3, 0},
        {"offlineStart", [files](TestEffect& e) { return VstIntPtr{e.offlineStart(files, 4, 2)}; },
         audioMasterOfflineStart, 2, 4, kPtr, 0, 9, 1, 0},
        {"offlineRead", [task](TestEffect& e) { return VstIntPtr{e.offlineRead(task, 5, true)}; },
         audioMasterOfflineRead, 1, 5, kPtr, 0, 1, 1, 0},
        {"offlineReadDestination", [task](TestEffect& e) { return VstIntPtr{e.offlineRead(task, 5, false)}; },
         audioMasterOfflineRead, 0, 5, kPtr, 0, 0, 0, 0},
        {"offlineWrite", [task](TestEffect& e) { return VstIntPtr{e.offlineWrite(task, 6)}; },
         audioMasterOfflineWrite, 0, 6, kPtr, 0, 1, 1, 0},
        {"offlineGetCurrentPass", [](TestEffect& e) { return VstIntPtr{e.offlineGetCurrentPass()}; },
         audioMasterOfflineGetCurrentPass, 0, 0, nullptr, 0, 3, 1, 0},
        {"offlineGetCurrentMetaPass", [](TestEffect& e) { return VstIntPtr{e.offlineGetCurrentMetaPass()}; },
         audioMasterOfflineGetCurrentMetaPass, 0, 0, nullptr, 0, 3, 1, 0},
        {"setOutputSamplerate", [](TestEffect& e) { e.setOutputSamplerate(22050.0f); return VstIntPtr{0}; },
         audioMasterSetOutputSampleRate, 0, 0, nullptr, 22050.0f, 1, 0, 0},
        {"getOutputSpeakerArrangement", [](TestEffect& e) { return asInt(e.getOutputSpeakerArrangement()); },
         audioMasterGetOutputSpeakerArrangement, 0, 0, nullptr, 0, address, address, 0},
        {"getHostVendorString", [](TestEffect& e) { return VstIntPtr{e.getHostVendorString(static_cast<char*>(kPtr))}; },
         audioMasterGetVendorString, 0, 0, kPtr, 0, 1, 1, 0},
        {"getHostProductString",
         [](TestEffect& e) { return VstIntPtr{e.getHostProductString(static_cast<char*>(kPtr))}; },
         audioMasterGetProductString, 0, 0, kPtr, 0, 0, 0, 0},
        {"getHostVendorVersion", [](TestEffect& e) { return VstIntPtr{e.getHostVendorVersion()}; },
         audioMasterGetVendorVersion, 0, 0, nullptr, 0, 1100, 1100, 0},
        {"hostVendorSpecific", [](TestEffect& e) { return e.hostVendorSpecific(11, 22, kPtr, 3.5f); },
         audioMasterVendorSpecific, 11, 22, kPtr, 3.5f, -7, -7, 0},
        {"canHostDoYes", [](TestEffect& e) { return VstIntPtr{e.canHostDo(static_cast<char*>(kPtr))}; },
         audioMasterCanDo, 0, 0, kPtr, 0, 1, 1, 0},
        {"canHostDoNo", [](TestEffect& e) { return VstIntPtr{e.canHostDo(static_cast<char*>(kPtr))}; },
         audioMasterCanDo, 0, 0, kPtr, 0, -1, 1, 0},
        {"getHostLanguage", [](TestEffect& e) { return VstIntPtr{e.getHostLanguage()}; }, audioMasterGetLanguage, 0,
         0, nullptr, 0, 2, 2, 0},
        {"openWindow", [window](TestEffect& e) { return e.openWindow(window); }, audioMasterOpenWindow, 0, 0, kPtr, 0,
         address, address, 0},
        {"closeWindow", [window](TestEffect& e) { return VstIntPtr{e.closeWindow(window)}; }, audioMasterCloseWindow,
         0, 0, kPtr, 0, 1, 1, 0},
        {"getDirectory", [](TestEffect& e) { return asInt(e.getDirectory()); }, audioMasterGetDirectory, 0, 0,
         nullptr, 0, address, address, 0},
        {"updateDisplay", [](TestEffect& e) { return VstIntPtr{e.updateDisplay()}; }, audioMasterUpdateDisplay, 0, 0,
         nullptr, 0, 1, 1, 0},
        {"beginEdit", [](TestEffect& e) { return VstIntPtr{e.beginEdit(17)}; }, audioMasterBeginEdit, 17, 0, nullptr,
         0, 1, 1, 0},
        {"endEdit", [](TestEffect& e) { return VstIntPtr{e.endEdit(17)}; }, audioMasterEndEdit, 17, 0, nullptr, 0, 0,
         0, 0},
        {"openFileSelector", [selector](TestEffect& e) { return VstIntPtr{e.openFileSelector(selector)}; },
         audioMasterOpenFileSelector, 0, 0, kPtr, 0, 1, 1, 0},
        {"closeFileSelector", [selector](TestEffect& e) { return VstIntPtr{e.closeFileSelector(selector)}; },
         audioMasterCloseFileSelector, 0, 0, kPtr, 0, 1, 1, 0},
        {"getChunkFile", [](TestEffect& e) { return VstIntPtr{e.getChunkFile(kPtr)}; }, audioMasterGetChunkFile, 0, 0,
         kPtr, 0, 1, 1, 0},
        {"getInputSpeakerArrangement", [](TestEffect& e) { return asInt(e.getInputSpeakerArrangement()); },
         audioMasterGetInputSpeakerArrangement, 0, 0, nullptr, 0, address, address, 0},
    };
}

TEST_F(HostWrapperTest, EachWrapperSendsOneRequestAndReadsTheAnswer)
{
    for (const WrapperCase& c : wrapperCases()) {
        SCOPED_TRACE(c.name);
        RecordingHost::reset();
        RecordingHost::answers()[c.opcode] = c.hostAnswer;
        EXPECT_EQ(c.call(hosted), c.expected);
        const HostCall& sent = onlyCall();
        EXPECT_EQ(sent.effect, hosted.getAeffect());
        EXPECT_EQ(sent.opcode, c.opcode);
        EXPECT_EQ(sent.index, c.index);
        EXPECT_EQ(sent.value, c.value);
        EXPECT_EQ(sent.ptr, c.ptr);
        EXPECT_EQ(sent.opt, c.opt);
    }
}

TEST_F(HostWrapperTest, WithoutHostEachWrapperAnswersItsDefault)
{
    for (const WrapperCase& c : wrapperCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(alone), c.expectedAlone);
    }
    EXPECT_TRUE(RecordingHost::calls().empty());
}

TEST_F(HostWrapperTest, NullPointersAreNotSent)
{
    RecordingHost::answers()[audioMasterOpenFileSelector] = 1;
    RecordingHost::answers()[audioMasterCloseFileSelector] = 1;
    RecordingHost::answers()[audioMasterGetChunkFile] = 1;
    EXPECT_FALSE(hosted.openFileSelector(nullptr));
    EXPECT_FALSE(hosted.closeFileSelector(nullptr));
    EXPECT_FALSE(hosted.getChunkFile(nullptr));
    EXPECT_TRUE(RecordingHost::calls().empty());
}

TEST_F(HostWrapperTest, UpdateSampleRateKeepsOnlyPositiveAnswers)
{
    EXPECT_EQ(alone.updateSampleRate(), 44100.0);
    for (VstIntPtr rejected : {VstIntPtr{0}, VstIntPtr{-1}}) {
        RecordingHost::answers()[audioMasterGetSampleRate] = rejected;
        EXPECT_EQ(hosted.updateSampleRate(), 44100.0);
        EXPECT_EQ(hosted.getSampleRate(), 44100.0f);
    }
    RecordingHost::answers()[audioMasterGetSampleRate] = 48000;
    EXPECT_EQ(hosted.updateSampleRate(), 48000.0);
    EXPECT_EQ(hosted.getSampleRate(), 48000.0f);
    EXPECT_EQ(RecordingHost::calls().size(), 3u);
}

TEST_F(HostWrapperTest, UpdateBlockSizeKeepsOnlyPositiveAnswers)
{
    EXPECT_EQ(alone.updateBlockSize(), 1024);
    RecordingHost::answers()[audioMasterGetBlockSize] = -5;
    EXPECT_EQ(hosted.updateBlockSize(), 1024);
    RecordingHost::answers()[audioMasterGetBlockSize] = 2048;
    EXPECT_EQ(hosted.updateBlockSize(), 2048);
    EXPECT_EQ(hosted.getBlockSize(), 2048);
}

TEST_F(HostWrapperTest, SetParameterAutomatedSetsThenTellsHost)
{
    RecordingHost::answers()[audioMasterAutomate] = 99;
    hosted.setParameterAutomated(7, 0.375f);
    ASSERT_EQ(log.parameterSets.size(), 1u);
    EXPECT_EQ(log.parameterSets[0], std::make_pair(VstInt32{7}, 0.375f));
    const HostCall& sent = onlyCall();
    EXPECT_EQ(sent.effect, hosted.getAeffect());
    EXPECT_EQ(sent.opcode, audioMasterAutomate);
    EXPECT_EQ(sent.index, 7);
    EXPECT_EQ(sent.value, 0);
    EXPECT_EQ(sent.ptr, nullptr);
    EXPECT_EQ(sent.opt, 0.375f);

    alone.setParameterAutomated(2, 1.0f);
    EXPECT_EQ(log.parameterSets.size(), 2u);
    EXPECT_EQ(RecordingHost::calls().size(), 1u);
}

} // namespace
