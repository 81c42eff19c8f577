// A stand-in for the inner maximizer, built from our own effect base: every
// call it receives is appended to a log that the test host reads through the
// exported orvexTestCalls(). Its processing is a delay of `delay` samples
// (0 by default) and a gain of 1 + parameter 0, so the whole effect's timing
// and the routing of each band to its own instance can be checked.
#include "vst/AudioEffectX.h"
#include "vst/DenormalGuard.h"
#include "vst/TextConversion.h"

#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#define TEST_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace
{

constexpr int kNumParams = 16;

struct Settings
{
    int failAtCreation = -1;
    int nameLength = 0;
    int delay = 0;
};

// Ways a replacement maximizer may differ from ours.
enum Quirk
{
    kNoProcess = 1,          // the accumulating entry is null
    kLateLatency = 2,        // initialDelay reads 0 until the first processed block
    kLatencyParameter = 4,   // parameter 1 sets the delay: value x 1000 samples
    kNoProcessReplacing = 8, // the replacing entry is null
    kTwoParameters = 16,     // only two parameters
};

Settings settings;
int quirks = 0;
int created = 0;
// Called whenever an instance is told a sample rate, before it records the call.
void (*rateHook)(void*) = nullptr;
void* rateHookContext = nullptr;
std::string calls;
std::string callsCopy;
// Processing calls made while denormals were not flushed to zero.
int unflushedCalls = 0;

void record(int id, const std::string& line)
{
    calls += std::to_string(id) + " " + line + "\n";
}

std::string number(double value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

class TestInner : public AudioEffectX
{
public:
    TestInner(audioMasterCallback host, int id)
        : AudioEffectX(host, 1, (quirks & kTwoParameters) != 0 ? 2 : kNumParams), id(id)
    {
        setNumInputs(2);
        setNumOutputs(2);
        setDelay(settings.delay);
        if ((quirks & kLateLatency) != 0)
            setInitialDelay(0);
        record(id, "host " + number(static_cast<double>(host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f))) +
                       " " + number(static_cast<double>(host(nullptr, audioMasterGetSampleRate, 0, 0, nullptr, 0.0f))));
    }

    void open() override { record(id, "open"); }
    void close() override { record(id, "close"); }
    void suspend() override { record(id, "mains 0"); }
    void resume() override { record(id, "mains 1"); }
    void setSampleRate(float rate) override
    {
        if (rateHook)
            rateHook(rateHookContext);
        record(id, "rate " + number(rate));
    }
    void setBlockSize(VstInt32 size) override { record(id, "blocksize " + number(size)); }

    void setParameter(VstInt32 index, float value) override
    {
        record(id, "set " + number(index) + " " + number(value));
        if (index >= 0 && index < kNumParams)
            values[index] = value;
        if (index == 1 && (quirks & kLatencyParameter) != 0)
            setDelay(static_cast<int>(value * 1000.0f + 0.5f));
    }

    float getParameter(VstInt32 index) override
    {
        return index >= 0 && index < kNumParams ? values[index] : 0.0f;
    }

    void getParameterName(VstInt32 index, char* text) override { copyText(text, innerText("Name", index).c_str(), 63); }

    // Long names make labels and displays as long, beyond the 8 characters a host allows.
    void getParameterLabel(VstInt32 index, char* text) override { copyText(text, innerText("lab", index).c_str(), 63); }
    void getParameterDisplay(VstInt32 index, char* text) override { copyText(text, innerText("dsp", index).c_str(), 63); }

    // Accumulating: adds the delayed input to the outputs.
    void process(float** inputs, float** outputs, VstInt32 frames) override { run(inputs, outputs, frames, true); }
    void processReplacing(float** inputs, float** outputs, VstInt32 frames) override
    {
        run(inputs, outputs, frames, false);
    }

private:
    void setDelay(int delay)
    {
        setInitialDelay(delay);
        for (auto& line : delayLines)
            line.assign(static_cast<std::size_t>(delay) + 1, 0.0f);
        position = 0;
    }

    static std::string innerText(const char* prefix, VstInt32 index)
    {
        if (settings.nameLength > 0)
            return std::string(static_cast<std::size_t>(settings.nameLength), static_cast<char>('a' + index));
        return prefix + std::to_string(index);
    }

    void run(float** inputs, float** outputs, VstInt32 frames, bool accumulate)
    {
        if ((quirks & kLateLatency) != 0 && frames > 0)
            setInitialDelay(settings.delay);
#ifdef ORVEX_HAVE_MXCSR
        unflushedCalls += (_mm_getcsr() & 0x8040u) != 0x8040u;
#endif
        const float gain = 1.0f + values[0];
        const std::size_t length = delayLines[0].size();
        for (VstInt32 i = 0; i < frames; ++i)
        {
            for (int c = 0; c < 2; ++c)
            {
                std::vector<float>& line = delayLines[c];
                line[position] = inputs[c][i];
                const float delayed = gain * line[(position + 1) % length];
                outputs[c][i] = accumulate ? outputs[c][i] + delayed : delayed;
            }
            position = (position + 1) % length;
        }
    }

    int id;
    float values[kNumParams] = {};
    std::vector<float> delayLines[2];
    std::size_t position = 0;
};

} // namespace

TEST_EXPORT AEffect* ORVEX_VSTCALL VSTPluginMain(audioMasterCallback host)
{
    const int id = created++;
    if (id == settings.failAtCreation)
    {
        record(id, "refused");
        return nullptr;
    }
    AEffect* effect = (new TestInner(host, id))->getAeffect();
    if ((quirks & kNoProcess) != 0)
        effect->process = nullptr;
    if ((quirks & kNoProcessReplacing) != 0)
        effect->processReplacing = nullptr;
    return effect;
}

// Sets the quirks (see Quirk) of the instances created from now on.
TEST_EXPORT void orvexTestSetQuirks(int flags)
{
    quirks = flags;
}

// Resets the log and the creation count and sets how the next instances behave:
// the creation (counted from 0) that answers null, the length of every
// parameter name (0: "Name<index>"), and the processing delay in samples.
TEST_EXPORT void orvexTestConfigure(int failAtCreation, int nameLength, int delay)
{
    settings = Settings{failAtCreation, nameLength, delay};
    quirks = 0;
    created = 0;
    rateHook = nullptr;
    unflushedCalls = 0;
    calls.clear();
}

// Processing calls since the last configure that ran without flush-to-zero and
// denormals-are-zero set; -1 where the processor's mode cannot be read.
TEST_EXPORT int orvexTestUnflushedCalls()
{
#ifdef ORVEX_HAVE_MXCSR
    return unflushedCalls;
#else
    return -1;
#endif
}

// Every call recorded since the last configure or take, one per line; clears the log.
TEST_EXPORT const char* orvexTestTakeCalls()
{
    callsCopy = calls;
    calls.clear();
    return callsCopy.c_str();
}

// Installs a function every instance calls when it is told a sample rate (null removes it).
TEST_EXPORT void orvexTestSetRateHook(void (*hook)(void*), void* context)
{
    rateHook = hook;
    rateHookContext = context;
}
