#include "plugin/AGain.h"

#include "crossover/KernelDesign.h"

#include "vst/DenormalGuard.h"
#include "vst/TextConversion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

namespace
{

const char* const kEffectName = "Multiband Orvex Maximizer";
const char* const kVendor = "ylk";
constexpr VstInt32 kVendorVersion = 1000;
// Inner parameter the effect sets to 0 on every instance after opening it.
constexpr VstInt32 kInnerSetupParam = 15;
// Size of the buffer an inner parameter name is fetched into.
constexpr int kInnerNameSize = 64;
constexpr int kForwardedNameLen = 32;
constexpr float kDefaultSlope = 0.21428572f; // slope step 2, 24 dB/oct
const double kDefaultFrequencies[AGain::kNumCrossovers] = {200.0, 1000.0, 4000.0, 10000.0};

// Normalised value of a crossover frequency, as the display maps it at 44100 Hz.
float defaultFrequencyValue(double hz)
{
    const double power = std::pow(10.0, -2.0 * hz / 22050.0);
    return static_cast<float>((static_cast<double>(0.999f) - power) * static_cast<double>(1.0121458f));
}

// Crossover frequency in Hz that a normalised value stands for at `rate`.
double frequencyDisplayHz(float x, float rate)
{
    const double argument = static_cast<double>(0.999f) - static_cast<double>(0.988f) * static_cast<double>(x);
    return (static_cast<double>(rate) * 0.5) * std::log10(argument) * -0.5;
}

bool isOn(float value)
{
    return value > 0.5f;
}

enum class OwnKind
{
    bandSwitch,
    frequency,
    slope
};

// Own parameters run switch, frequency, slope per crossover, band 5's switch last.
OwnKind ownKind(VstInt32 index)
{
    return static_cast<OwnKind>(index % 3);
}

bool isOwn(VstInt32 index)
{
    return index >= 0 && index < AGain::kNumOwnParams;
}

// An inner label or display, fetched into a bounded buffer of our own and cut
// to the host's limit: a replacement inner plug-in may write more than a host allows.
void copyInnerText(AEffect* instance, VstInt32 opcode, VstInt32 index, char* text)
{
    if (text == nullptr)
        return;
    char innerText[kInnerNameSize] = {};
    instance->dispatcher(instance, opcode, index, 0, innerText, 0.0f);
    innerText[kInnerNameSize - 1] = '\0';
    copyText(text, innerText, kVstMaxParamStrLen);
}

VstIntPtr ORVEX_VSTCALL innerHostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

} // namespace

AGain::AGain(audioMasterCallback audioMaster) : AudioEffectX(audioMaster, 1, kNumParams)
{
    canProcessReplacing();
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(fourCharCode('m', 'Q', 'V', 'M'));
    setInitialDelay(kInitialDelay);
    for (int i = 0; i < kNumCrossovers; ++i)
    {
        crossoverFreq[i].store(defaultFrequencyValue(kDefaultFrequencies[i]), std::memory_order_relaxed);
        slope[i].store(kDefaultSlope, std::memory_order_relaxed);
    }
    for (int band = 0; band < kNumBands; ++band)
    {
        bandEnable[band].store(1.0f, std::memory_order_relaxed);
        splitters[band] = std::make_unique<BandSplitter>();
    }
    ensureSumCapacity(getBlockSize());
    copyText(programName, "Default", kVstMaxProgNameLen);
    loadInnerMaximizer();
}

AGain::~AGain()
{
    {
        Platform::ScopedLock hold(effectLock);
        for (int i = 0; i < kNumInstances; ++i)
        {
            if (i < kNumBands)
            {
                splitters[i].reset();
                kernels[i].reset();
            }
            if (instances[i] == nullptr)
                continue;
            callInstance(instances[i], effMainsChanged, 0, 0);
            callInstance(instances[i], effClose);
            instances[i] = nullptr;
        }
    }
    Platform::freeLibrary(innerLibrary);
}

void AGain::loadInnerMaximizer()
{
    innerLibrary = Platform::loadLibrary(Platform::innerLibraryPath());
    if (innerLibrary == nullptr)
    {
        Platform::showMessage(kEffectName, "Failed to load VST Plugin library!");
        return;
    }
    void* entry = Platform::findFunction(innerLibrary, "VSTPluginMain");
    if (entry == nullptr)
        entry = Platform::findFunction(innerLibrary, "main");
    if (entry == nullptr)
    {
        Platform::showMessage(kEffectName, "VST Plugin main entry not found!");
        return;
    }
    if (!createInstances(reinterpret_cast<VstPluginMainProc>(entry)))
    {
        Platform::showMessage(kEffectName, "Failed to create effect instance!");
        return;
    }
    for (AEffect* instance : instances)
    {
        callInstance(instance, effOpen);
        callInstance(instance, effMainsChanged, 0, 1);
        instance->setParameter(instance, kInnerSetupParam, 0.0f);
    }
}

bool AGain::createInstances(VstPluginMainProc entry)
{
    bool complete = true;
    for (AEffect*& instance : instances)
    {
        instance = entry(innerHostCallback);
        if (instance == nullptr)
            complete = false;
    }
    if (complete)
        return true;
    // Half a set of instances is of no use: close the ones that were created,
    // so none is left allocated and never opened.
    for (AEffect*& instance : instances)
    {
        if (instance != nullptr)
            callInstance(instance, effClose);
        instance = nullptr;
    }
    return false;
}

VstIntPtr AGain::callInstance(AEffect* instance, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                              float opt)
{
    return instance->dispatcher(instance, opcode, index, value, ptr, opt);
}

void AGain::forwardToInstances(VstInt32 opcode, VstIntPtr value, float opt)
{
    if (instances[kMasterInstance] == nullptr)
        return;
    for (AEffect* instance : instances)
    {
        if (instance == nullptr)
            continue;
        callInstance(instance, effMainsChanged, 0, 0);
        callInstance(instance, opcode, 0, value, nullptr, opt);
        callInstance(instance, effMainsChanged, 0, 1);
    }
}

void AGain::setSampleRate(float newSampleRate)
{
    // A rate that is not a positive number would make every crossover design
    // meaningless; such a request is ignored.
    if (!(newSampleRate > 0.0f) || !std::isfinite(newSampleRate))
        return;
    AudioEffectX::setSampleRate(newSampleRate);
    rebuildCrossovers();
    forwardToInstances(effSetSampleRate, 0, newSampleRate);
}

void AGain::setBlockSize(VstInt32 newBlockSize)
{
    AudioEffectX::setBlockSize(newBlockSize);
    {
        // Sized ahead, so the audio path does not allocate on its first block.
        Platform::ScopedLock hold(effectLock);
        ensureSumCapacity(newBlockSize);
    }
    forwardToInstances(effSetBlockSize, newBlockSize, 0.0f);
}

void AGain::processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames)
{
    if (inputs == nullptr || outputs == nullptr || sampleFrames <= 0)
        return;
    for (int c = 0; c < 2; ++c)
    {
        if (inputs[c] != nullptr && outputs[c] != nullptr)
            std::memmove(outputs[c], inputs[c], sizeof(double) * static_cast<std::size_t>(sampleFrames));
    }
}

AEffect* AGain::forwardedInstance(VstInt32 index, VstInt32& innerIndex) const
{
    if (index < kNumOwnParams || index >= kNumParams)
        return nullptr;
    innerIndex = (index - kNumOwnParams) % kNumForwardedParams;
    return instances[(index - kNumOwnParams) / kNumForwardedParams];
}

void AGain::setParameter(VstInt32 index, float value)
{
    VstInt32 inner = 0;
    if (AEffect* instance = forwardedInstance(index, inner))
    {
        instance->setParameter(instance, inner, value);
        return;
    }
    // Normalised values live in 0..1; a NaN from a host would otherwise reach the
    // crossover design and the latency, so it leaves the parameter as it was.
    if (!isOwn(index) || std::isnan(value))
        return;
    value = std::min(std::max(value, 0.0f), 1.0f);
    const int slot = index / 3;
    switch (ownKind(index))
    {
    case OwnKind::bandSwitch:
        bandEnable[slot].store(value, std::memory_order_relaxed);
        break;
    case OwnKind::frequency:
        crossoverFreq[slot].store(value, std::memory_order_relaxed);
        rebuildCrossovers();
        break;
    case OwnKind::slope:
    {
        const int before = slopeStep(slope[slot].exchange(value, std::memory_order_relaxed));
        if (before != slopeStep(value))
            rebuildCrossovers();
        break;
    }
    }
}

float AGain::getParameter(VstInt32 index)
{
    VstInt32 inner = 0;
    if (AEffect* instance = forwardedInstance(index, inner))
        return instance->getParameter(instance, inner);
    if (!isOwn(index))
        return 0.0f;
    const int slot = index / 3;
    switch (ownKind(index))
    {
    case OwnKind::bandSwitch:
        return bandEnable[slot].load(std::memory_order_relaxed);
    case OwnKind::frequency:
        return crossoverFreq[slot].load(std::memory_order_relaxed);
    case OwnKind::slope:
        return slope[slot].load(std::memory_order_relaxed);
    }
    return 0.0f;
}

void AGain::setProgramName(char* name)
{
    if (name != nullptr)
        copyText(programName, name, kVstMaxProgNameLen);
}

void AGain::getProgramName(char* name)
{
    copyText(name, programName, kVstMaxProgNameLen);
}

void AGain::getParameterLabel(VstInt32 index, char* label)
{
    VstInt32 inner = 0;
    if (AEffect* instance = forwardedInstance(index, inner))
    {
        copyInnerText(instance, effGetParamLabel, inner, label);
        return;
    }
    if (!isOwn(index))
        return;
    static const char* const labels[] = {"", "Hz", "db/oct"};
    copyText(label, labels[static_cast<int>(ownKind(index))], kVstMaxParamStrLen);
}

void AGain::getParameterDisplay(VstInt32 index, char* text)
{
    VstInt32 inner = 0;
    if (AEffect* instance = forwardedInstance(index, inner))
    {
        copyInnerText(instance, effGetParamDisplay, inner, text);
        return;
    }
    if (!isOwn(index) || text == nullptr)
        return;
    const float value = getParameter(index);
    switch (ownKind(index))
    {
    case OwnKind::bandSwitch:
        copyText(text, isOn(value) ? "On" : "Off", kVstMaxParamStrLen);
        break;
    case OwnKind::frequency:
        float2string(static_cast<float>(frequencyDisplayHz(value, getSampleRate())), text, kVstMaxParamStrLen);
        break;
    case OwnKind::slope:
        int2string(-12 * slopeStep(value), text, kVstMaxParamStrLen);
        break;
    }
}

void AGain::getParameterName(VstInt32 index, char* text)
{
    if (index >= kNumOwnParams && index < kNumParams)
    {
        getForwardedName(index, text);
        return;
    }
    if (!isOwn(index))
        return;
    static const char* const kinds[] = {"Band", "Freq", "Slope"};
    // Band k's switch is index 3(k-1); crossover k's frequency and slope follow it.
    const std::string name = kinds[static_cast<int>(ownKind(index))] + std::to_string(index / 3 + 1);
    copyText(text, name.c_str(), kVstMaxParamStrLen);
}

void AGain::getForwardedName(VstInt32 index, char* text)
{
    VstInt32 inner = 0;
    AEffect* instance = forwardedInstance(index, inner);
    if (instance == nullptr || text == nullptr)
        return;
    char innerName[kInnerNameSize] = {};
    callInstance(instance, effGetParamName, inner, 0, innerName);
    innerName[kInnerNameSize - 1] = '\0'; // an inner plug-in that fills the buffer is still cut safely
    const int slot = (index - kNumOwnParams) / kNumForwardedParams;
    char name[2 + kInnerNameSize] = {};
    name[0] = slot == kMasterInstance ? 'M' : static_cast<char>('1' + slot);
    name[1] = '.';
    std::memcpy(name + 2, innerName, std::strlen(innerName));
    copyText(text, name, kForwardedNameLen);
}

bool AGain::getEffectName(char* name)
{
    copyText(name, kEffectName, kVstMaxEffectNameLen);
    return true;
}

bool AGain::getVendorString(char* text)
{
    copyText(text, kVendor, kVstMaxVendorStrLen);
    return true;
}

bool AGain::getProductString(char* text)
{
    copyText(text, kEffectName, kVstMaxProductStrLen);
    return true;
}

VstInt32 AGain::getVendorVersion()
{
    return kVendorVersion;
}

bool AGain::ensureSumCapacity(VstInt32 frames)
{
    if (frames < 0 || frames > (1 << 28))
        return false;
    const int bytes = frames * static_cast<int>(sizeof(float));
    if (sumLeft.size() < bytes)
    {
        sumLeft.resize(bytes);
        sumRight.resize(bytes);
    }
    return sumLeft.size() >= bytes && sumRight.size() >= bytes;
}

void AGain::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    if (outputs == nullptr || outputs[0] == nullptr || outputs[1] == nullptr || sampleFrames < 0)
        return;
    DenormalGuard guard;
    Platform::ScopedLock hold(effectLock);
    const bool sumsReady = ensureSumCapacity(sampleFrames);
    // The splitters copy the input here, before any output is written, so
    // hosts that process in place are safe.
    float** bands[kNumBands] = {};
    if (!feedBands(inputs, sampleFrames, bands))
    {
        processSilence(outputs, sampleFrames, sumsReady);
        return;
    }
    if (sumsReady)
        mixBands(bands, outputs, sampleFrames);
    else
        zeroChannels(outputs, sampleFrames);
    releaseBands(sampleFrames);
}

bool AGain::feedBands(float** inputs, VstInt32 frames, float** (&bands)[kNumBands])
{
    int ready = frames;
    for (auto& splitter : splitters)
    {
        splitter->feed(inputs, frames);
        ready = std::min(ready, splitter->run(frames));
    }
    if (ready < frames)
        return false;
    for (int band = 0; band < kNumBands; ++band)
        bands[band] = splitters[band]->bandOutput();
    return true;
}

void AGain::mixBands(float** const (&bands)[kNumBands], float** outputs, VstInt32 frames)
{
    float* sums[2] = {sumLeft.as<float>(), sumRight.as<float>()};
    zeroChannels(sums, frames);
    for (int band = 0; band < kNumBands; ++band)
    {
        // A missing instance passes its band through unchanged.
        float* const* result = bands[band];
        if (AEffect* instance = instances[band])
        {
            zeroChannels(outputs, frames);
            instance->process(instance, bands[band], outputs, frames);
            result = outputs;
        }
        if (!isOn(bandEnable[band].load(std::memory_order_relaxed)))
            continue;
        for (int c = 0; c < 2; ++c)
        {
            const float* from = result[c];
            float* to = sums[c];
            for (VstInt32 i = 0; i < frames; ++i)
                to[i] += from[i];
        }
    }
    if (AEffect* master = instances[kMasterInstance])
    {
        zeroChannels(outputs, frames);
        master->process(master, sums, outputs, frames);
    }
    else if (frames > 0)
    {
        std::memcpy(outputs[0], sums[0], sizeof(float) * static_cast<std::size_t>(frames));
        std::memcpy(outputs[1], sums[1], sizeof(float) * static_cast<std::size_t>(frames));
    }
}

// Fallback for a block the splitters cannot fill, which their common stream
// delay rules out: the instances keep running on silence, nothing is consumed,
// and the output is the master's processing of silence (silence without it).
// Unlike a host's warm-up, the host's input buffers are left alone.
void AGain::processSilence(float** outputs, VstInt32 frames, bool sumsReady)
{
    if (!sumsReady)
    {
        zeroChannels(outputs, frames);
        return;
    }
    float* silence[2] = {sumLeft.as<float>(), sumRight.as<float>()};
    zeroChannels(silence, frames);
    for (AEffect* instance : instances)
    {
        if (instance != nullptr)
            instance->processReplacing(instance, silence, outputs, frames);
    }
    if (instances[kMasterInstance] == nullptr)
        zeroChannels(outputs, frames);
}

void AGain::releaseBands(VstInt32 frames)
{
    for (auto& splitter : splitters)
        splitter->consume(frames);
}

void AGain::zeroChannels(float** channels, VstInt32 frames)
{
    if (frames <= 0)
        return;
    std::memset(channels[0], 0, sizeof(float) * static_cast<std::size_t>(frames));
    std::memset(channels[1], 0, sizeof(float) * static_cast<std::size_t>(frames));
}

void AGain::rebuildCrossovers()
{
    Platform::ScopedLock hold(effectLock);
    const float rate = getSampleRate();
    std::array<float, kNumCrossovers> hz{};
    std::array<int, kNumCrossovers> steps{};
    for (int i = 0; i < kNumCrossovers; ++i)
    {
        hz[i] = crossoverFrequencyHz(crossoverFreq[i].load(std::memory_order_relaxed), rate);
        steps[i] = slopeStep(slope[i].load(std::memory_order_relaxed));
    }
    const BandEdgeTable edges = bandEdgeTable(hz, steps);
    // Design all five before touching the splitters: if memory runs out, the
    // crossover in use stays complete.
    std::unique_ptr<BandKernel> designed[kNumBands];
    try
    {
        const int common = commonKernelLength(edges, rate);
        for (int band = 0; band < kNumBands; ++band)
        {
            designed[band] = std::make_unique<BandKernel>();
            designBandKernel(*designed[band], common, edges[band], rate);
            designed[band]->setChannelCount(2);
            if (designed[band]->tapCount(1) == 0)
                return;
        }
    }
    catch (const std::bad_alloc&)
    {
        return;
    }
    for (int band = 0; band < kNumBands; ++band)
    {
        kernels[band] = std::move(designed[band]);
        splitters[band]->setKernel(*kernels[band]);
    }
    alignBandDelays();
}

// Each band is held back so that all leave their splitters with one common
// delay, large enough that every hop is complete before its frames are asked
// for: (hop - 1) frames buffered cover any block size.
void AGain::alignBandDelays()
{
    int centre[kNumBands] = {};
    int common = 0;
    for (int band = 0; band < kNumBands; ++band)
    {
        const BandSplitter& splitter = *splitters[band];
        centre[band] = std::max(0, splitter.kernelLength() / 2 - 1);
        const int buffered = splitter.hop() > 0 ? splitter.hop() - 1 : 0;
        common = std::max(common, centre[band] + buffered);
    }
    for (int band = 0; band < kNumBands; ++band)
        splitters[band]->setStreamDelay(common - centre[band]);
    const AEffect* master = instances[kMasterInstance];
    const int instanceDelay = master != nullptr ? std::max(0, master->initialDelay) : 0;
    setInitialDelay(common + 2 * instanceDelay);
}
