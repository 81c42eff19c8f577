#include "plugin/AGain.h"

#include "crossover/KernelDesign.h"
#include "parameters/ParameterTable.h"

#include "vst/DenormalGuard.h"
#include "vst/TextConversion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
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
// An instance latency above this many seconds of audio cannot be true.
constexpr double kAbsurdLatencySeconds = 10.0;
// Enough retired splitters kept for the largest change: one per band.
constexpr std::size_t kSpareSplitters = AGain::kNumBands;
static_assert(AGain::kNumOwnParams == ParameterTable::kMultibandOwnCount &&
                  AGain::kNumForwardedParams == ParameterTable::kMaximizerCount,
              "the effect shows the parameter table's layout");

const Parameter& ownParameter(VstInt32 index)
{
    return ParameterTable::multiband()[static_cast<std::size_t>(index)];
}

// The band switches' On, as their display shows it.
bool isOn(float value)
{
    return ownParameter(0).isOn(value);
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
    setUniqueID(ParameterTable::kMultibandId);
    setInitialDelay(kInitialDelay);
    for (int i = 0; i < kNumBands; ++i)
        bandEnable[i].store(ownParameter(3 * i).defaultNormalised(), std::memory_order_relaxed);
    for (int i = 0; i < kNumCrossovers; ++i)
    {
        crossoverFreq[i].store(ownParameter(3 * i + 1).defaultNormalised(), std::memory_order_relaxed);
        slope[i].store(ownParameter(3 * i + 2).defaultNormalised(), std::memory_order_relaxed);
    }
    ensureSumCapacity(getBlockSize());
    crossover.reserveBlock(getBlockSize());
    copyText(programName, "Default", kVstMaxProgNameLen);
    loadInnerMaximizer();
    alignment.reserve(getSampleRate(), getBlockSize());
    setGateFades(getSampleRate());
    readInstanceLatencies();
    // Until the first design the input passes through band 1, delayed so
    // that the whole effect delays it by exactly the latency reported.
    crossoverDelay.store(crossover.restart(std::max(0, kInitialDelay - instanceLatencyTotal.load())));
}

AGain::~AGain()
{
    {
        Platform::ScopedLock hold(effectLock);
        for (int i = 0; i < kNumInstances; ++i)
        {
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
    // The same rate again changes nothing, and must not disturb the audio.
    const bool designedAtRate = [this, newSampleRate] {
        Platform::ScopedLock hold(effectLock);
        const CrossoverDesign& latest = crossover.latestDesign();
        return latest.designed() && latest.settings().sampleRate == newSampleRate;
    }();
    if (designedAtRate)
        return;
    AudioEffectX::setSampleRate(newSampleRate);
    {
        Platform::ScopedLock hold(effectLock);
        alignment.reserve(newSampleRate, getBlockSize());
        setGateFades(newSampleRate);
    }
    rebuildCrossovers(true);
    forwardToInstances(effSetSampleRate, 0, newSampleRate);
}

void AGain::resume()
{
    AudioEffectX::resume();
    {
        Platform::ScopedLock serial(designLock);
        Platform::ScopedLock hold(effectLock);
        const bool designed = crossover.latestDesign().designed();
        crossoverDelay.store(crossover.restart(designed ? 0 : std::max(0, kInitialDelay - instanceLatencyTotal.load())));
        alignment.clear();
        for (int band = 0; band < kNumBands; ++band)
            gates[band].reset(isOn(bandEnable[band].load(std::memory_order_relaxed)));
    }
    publishLatency();
}

void AGain::setGateFades(float sampleRate)
{
    const int frames = static_cast<int>(std::lround(Crossover::kFadeSeconds * static_cast<double>(sampleRate)));
    for (BandGate& gate : gates)
        gate.setFadeFrames(frames);
}

void AGain::setBlockSize(VstInt32 newBlockSize)
{
    AudioEffectX::setBlockSize(newBlockSize);
    {
        // Sized ahead, so the audio path does not allocate on its first block.
        Platform::ScopedLock hold(effectLock);
        ensureSumCapacity(newBlockSize);
        crossover.reserveBlock(newBlockSize);
        alignment.reserve(getSampleRate(), newBlockSize);
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
    AEffect* instance = instances[(index - kNumOwnParams) / kNumForwardedParams];
    // An inner plug-in with fewer parameters answers only for those it has.
    return instance != nullptr && innerIndex < instance->numParams ? instance : nullptr;
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
    if (isOwn(index))
        copyText(label, ownParameter(index).label(), kVstMaxParamStrLen);
}

void AGain::getParameterDisplay(VstInt32 index, char* text)
{
    VstInt32 inner = 0;
    if (AEffect* instance = forwardedInstance(index, inner))
    {
        copyInnerText(instance, effGetParamDisplay, inner, text);
        return;
    }
    if (isOwn(index) && text != nullptr)
        ownParameter(index).display(getParameter(index), getSampleRate(), text, kVstMaxParamStrLen);
}

void AGain::getParameterName(VstInt32 index, char* text)
{
    if (index >= kNumOwnParams && index < kNumParams)
    {
        getForwardedName(index, text);
        return;
    }
    if (isOwn(index))
        copyText(text, ownParameter(index).name.c_str(), kVstMaxParamStrLen);
}

void AGain::getForwardedName(VstInt32 index, char* text)
{
    VstInt32 inner = 0;
    AEffect* instance = forwardedInstance(index, inner);
    if (text == nullptr)
        return;
    if (instance == nullptr)
    {
        if (instances[(index - kNumOwnParams) / kNumForwardedParams] != nullptr)
            copyText(text, "", kForwardedNameLen); // beyond the inner plug-in's parameters
        return;
    }
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
    // Told outside the lock: a host may call back into the effect at once.
    if (processLocked(inputs, outputs, sampleFrames))
        publishLatency();
}

bool AGain::processLocked(float** inputs, float** outputs, VstInt32 frames)
{
    Platform::ScopedLock hold(effectLock);
    const bool sumsReady = ensureSumCapacity(frames);
    // The crossover copies the input here, before any output is written, so
    // hosts that process in place are safe.
    float** bands[kNumBands] = {};
    if (!crossover.process(inputs, frames, bands))
        processSilence(outputs, frames, sumsReady);
    else if (sumsReady)
        mixBands(bands, outputs, frames);
    else
        zeroChannels(outputs, frames);
    crossover.release(frames);
    return followInstanceLatencies(frames);
}

void AGain::mixBands(float** const (&bands)[kNumBands], float** outputs, VstInt32 frames)
{
    float* sums[2] = {sumLeft.as<float>(), sumRight.as<float>()};
    zeroChannels(sums, frames);
    const bool aligning = alignment.active();
    for (int band = 0; band < kNumBands; ++band)
    {
        // A missing instance passes its band through unchanged.
        float* const* result = bands[band];
        if (runInstance(instances[band], bands[band], outputs, frames))
        {
            result = outputs;
        }
        else if (aligning && frames > 0)
        {
            for (int c = 0; c < 2; ++c)
                std::memcpy(outputs[c], bands[band][c], sizeof(float) * static_cast<std::size_t>(frames));
            result = outputs;
        }
        if (aligning)
            alignment.delay(band, outputs, frames);
        gates[band].mixInto(sums, result, frames, isOn(bandEnable[band].load(std::memory_order_relaxed)));
    }
    alignment.fade(sums, frames);
    if (runInstance(instances[kMasterInstance], sums, outputs, frames))
    {
    }
    else if (frames > 0)
    {
        std::memcpy(outputs[0], sums[0], sizeof(float) * static_cast<std::size_t>(frames));
        std::memcpy(outputs[1], sums[1], sizeof(float) * static_cast<std::size_t>(frames));
    }
}

// Fallback for a block the crossover cannot fill (memory ran out): the instances keep running on silence, nothing is consumed,
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
        runInstance(instance, silence, outputs, frames);
    if (!usable(instances[kMasterInstance]))
        zeroChannels(outputs, frames);
}

bool AGain::usable(const AEffect* instance)
{
    return instance != nullptr && (instance->process != nullptr || instance->processReplacing != nullptr);
}

// The accumulating entry when the instance has it, else the replacing one
// (plug-ins written only for the latter may leave the former null); the
// outputs are zeroed first either way. False when the instance has neither.
bool AGain::runInstance(AEffect* instance, float** inputs, float** outputs, VstInt32 frames)
{
    if (!usable(instance))
        return false;
    zeroChannels(outputs, frames);
    if (instance->process != nullptr)
        instance->process(instance, inputs, outputs, frames);
    else
        instance->processReplacing(instance, inputs, outputs, frames);
    return true;
}

void AGain::zeroChannels(float** channels, VstInt32 frames)
{
    if (frames <= 0)
        return;
    std::memset(channels[0], 0, sizeof(float) * static_cast<std::size_t>(frames));
    std::memset(channels[1], 0, sizeof(float) * static_cast<std::size_t>(frames));
}

void AGain::rebuildCrossovers(bool restart)
{
    bool published = false;
    {
        Platform::ScopedLock serial(designLock);
        published = publishDesign(restart);
    }
    // Told outside every lock: a host may call back into the effect at once.
    if (published)
        publishLatency();
}

bool AGain::publishDesign(bool restart)
{
    const float rate = getSampleRate();
    CrossoverSettings settings;
    settings.sampleRate = rate;
    for (int i = 0; i < kNumCrossovers; ++i)
    {
        settings.hz[i] = crossoverFrequencyHz(crossoverFreq[i].load(std::memory_order_relaxed), rate);
        settings.steps[i] = slopeStep(slope[i].load(std::memory_order_relaxed));
    }
    for (;;)
    {
        Crossover::Basis basis;
        {
            Platform::ScopedLock hold(effectLock);
            if (crossover.latestDesign().settings() == settings)
                return false;
            basis = crossover.basis();
        }
        // Designed outside the lock: the audio thread keeps running meanwhile.
        std::unique_ptr<Crossover::Update> update;
        try
        {
            update = Crossover::prepare(CrossoverDesign::create(settings, basis.design), basis, restart,
                                        getBlockSize(), rate, &spareSplitters);
        }
        catch (const std::bad_alloc&)
        {
            return false; // the crossover in use stays complete
        }
        const int delay = update->delay;
        Crossover::Garbage garbage;
        garbage.reserve();
        bool published = false;
        {
            Platform::ScopedLock hold(effectLock);
            published = crossover.publish(update, basis, garbage);
        }
        keepSpares(garbage, update.get());
        if (published)
        {
            crossoverDelay.store(delay);
            return true;
        }
        // Not published: the audio thread finished a change meanwhile, so the
        // update was prepared against a state that is gone; prepare again.
    }
}

// Splitters no longer used, or never published, serve the next design.
void AGain::keepSpares(Crossover::Garbage& garbage, Crossover::Update* unpublished)
{
    auto keep = [this](std::unique_ptr<BandSplitter>& splitter) {
        if (splitter && spareSplitters.size() < kSpareSplitters)
            spareSplitters.push_back(std::move(splitter));
    };
    for (auto& splitter : garbage.splitters)
        keep(splitter);
    for (auto& replaced : garbage.updates)
        for (auto& splitter : replaced->splitters)
            keep(splitter);
    if (unpublished != nullptr)
        for (auto& splitter : unpublished->splitters)
            keep(splitter);
}

// An instance's latency as the bands are aligned to it: what it reports,
// but 0 for a missing instance and for a value that cannot be true (negative,
// or above 10 s of audio), which is said once on standard error.
int AGain::instanceLatency(int index)
{
    const AEffect* instance = instances[index];
    if (!usable(instance))
        return 0;
    const VstInt32 reported = instance->initialDelay;
    if (reported >= 0 && reported <= kAbsurdLatencySeconds * static_cast<double>(getSampleRate()))
        return reported;
    if (!absurdLatencySaid[index])
    {
        absurdLatencySaid[index] = true;
        std::fprintf(stderr, "%s: inner instance %d reports a latency of %d samples; taken as 0\n", kEffectName,
                     index + 1, static_cast<int>(reported));
    }
    return 0;
}

// The latencies the bands are aligned to, as the instances report them now.
// True when anything changed.
bool AGain::readInstanceLatencies()
{
    BandAlignment::Latencies latencies{};
    for (int i = 0; i < kNumInstances; ++i)
        latencies[static_cast<std::size_t>(i)] = instanceLatency(i);
    if (!alignment.follow(latencies, getBlockSize()))
        return false;
    instanceLatencyTotal.store(alignment.latency());
    return true;
}

// After every block, under the lock: an instance whose latency changed (one
// that reports it only once it has processed audio, or a lookahead setting)
// changes the latency at once, and a new band alignment fades in.
bool AGain::followInstanceLatencies(VstInt32 frames)
{
    alignment.advance(frames);
    return readInstanceLatencies();
}

void AGain::publishLatency()
{
    const int latency = crossoverDelay.load() + instanceLatencyTotal.load();
    if (reportedLatency.exchange(latency) == latency)
        return;
    setInitialDelay(latency);
    ioChanged();
}
