#include "plugin/AGain.h"

#include "crossover/KernelDesign.h"
#include "vst/BandTapCall.h"
#include "vst/ParameterTable.h"
#include "vst/DenormalGuard.h"
#include "vst/GainMeterCall.h"
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
// Forwarded names: "1." ... "5." or "M." and the inner name, cut to this.
constexpr int kForwardedNameLen = 32;
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

// The crossover settings of a new effect at `rate`.
CrossoverSettings defaultCrossover(float rate)
{
    CrossoverSettings settings;
    settings.sampleRate = rate;
    for (int i = 0; i < AGain::kNumCrossovers; ++i)
    {
        settings.hz[static_cast<std::size_t>(i)] = crossoverFrequencyHz(ownParameter(3 * i + 1).defaultNormalised(), rate);
        settings.steps[static_cast<std::size_t>(i)] = slopeStep(ownParameter(3 * i + 2).defaultNormalised());
    }
    return settings;
}

} // namespace

AGain::AGain(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, 1, kNumParams), instances(kEffectName),
      engine(*this, instances, kInitialDelay, defaultCrossover(getSampleRate()), getBlockSize())
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
    copyText(programName, "Default", kVstMaxProgNameLen);
    // Until the first sample rate the input passes through band 1, delayed so
    // that the whole effect delays it by exactly the latency reported (or by
    // the inner instances' latency, when that is larger).
    engine.restart([] {});
    toldLatency.store(engine.latency());
}

float AGain::crossoverHz(int index) const
{
    return crossoverFrequencyHz(crossoverFreq[index].load(std::memory_order_relaxed), sampleRate.load());
}

void AGain::setSampleRate(float newSampleRate)
{
    // A rate that is not a positive number would make every crossover design
    // meaningless; such a request is ignored.
    if (!(newSampleRate > 0.0f) || !std::isfinite(newSampleRate))
        return;
    // The same rate again changes nothing, and must not disturb the audio.
    if (engine.runsAt(newSampleRate))
        return;
    AudioEffectX::setSampleRate(newSampleRate);
    float hz[kNumCrossovers];
    for (int i = 0; i < kNumCrossovers; ++i)
        hz[i] = crossoverHz(i);
    instances.setSampleRate(newSampleRate);
    engine.setSampleRate(newSampleRate, hz, [this, newSampleRate] {
        instances.forward(effSetSampleRate, 0, newSampleRate);
    });
    announceLatency();
    sayProblems();
}

void AGain::resume()
{
    AudioEffectX::resume();
    engine.restart([this] { instances.restart(); });
    announceLatency();
    sayProblems();
}

void AGain::suspend()
{
    sayProblems();
}

void AGain::setBlockSize(VstInt32 newBlockSize)
{
    AudioEffectX::setBlockSize(newBlockSize);
    // Sized ahead, so the audio path does not allocate on its first block.
    engine.setBlockSize(newBlockSize, [this, newBlockSize] { instances.forward(effSetBlockSize, newBlockSize, 0.0f); });
    announceLatency();
    sayProblems();
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

bool AGain::forwarded(VstInt32 index, int& slot, VstInt32& inner)
{
    if (index < kNumOwnParams || index >= kNumParams)
        return false;
    slot = (index - kNumOwnParams) / kNumForwardedParams;
    inner = (index - kNumOwnParams) % kNumForwardedParams;
    return true;
}

void AGain::setParameter(VstInt32 index, float value)
{
    int slot = 0;
    VstInt32 inner = 0;
    if (forwarded(index, slot, inner))
    {
        if (AEffect* owner = instances.parameterOwner(slot, inner))
            owner->setParameter(owner, inner, value);
        return;
    }
    // Normalised values live in 0..1; a NaN from a host would otherwise reach the
    // crossover design and the latency, so it leaves the parameter as it was.
    if (!isOwn(index) || std::isnan(value))
        return;
    value = std::min(std::max(value, 0.0f), 1.0f);
    slot = index / 3;
    switch (ownKind(index))
    {
    case OwnKind::bandSwitch:
        bandEnable[slot].store(value, std::memory_order_relaxed);
        engine.setBand(slot, isOn(value));
        break;
    case OwnKind::frequency:
        crossoverFreq[slot].store(value, std::memory_order_relaxed);
        engine.setFrequency(slot, crossoverHz(slot));
        break;
    case OwnKind::slope:
        slope[slot].store(value, std::memory_order_relaxed);
        engine.setSlope(slot, slopeStep(value));
        break;
    }
    announceLatency();
}

float AGain::getParameter(VstInt32 index)
{
    int slot = 0;
    VstInt32 inner = 0;
    if (forwarded(index, slot, inner))
    {
        AEffect* owner = instances.parameterOwner(slot, inner);
        return owner != nullptr ? owner->getParameter(owner, inner) : 0.0f;
    }
    if (!isOwn(index))
        return 0.0f;
    slot = index / 3;
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
    int slot = 0;
    VstInt32 inner = 0;
    if (forwarded(index, slot, inner))
    {
        instances.parameterText(slot, effGetParamLabel, inner, label, kVstMaxParamStrLen);
        return;
    }
    if (isOwn(index))
        copyText(label, ownParameter(index).label(), kVstMaxParamStrLen);
}

void AGain::getParameterDisplay(VstInt32 index, char* text)
{
    int slot = 0;
    VstInt32 inner = 0;
    if (forwarded(index, slot, inner))
    {
        instances.parameterText(slot, effGetParamDisplay, inner, text, kVstMaxParamStrLen);
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
    int slot = 0;
    VstInt32 inner = 0;
    if (text == nullptr || !forwarded(index, slot, inner))
        return;
    char name[2 + kForwardedNameLen + 1] = {};
    name[0] = slot == kMasterInstance ? 'M' : static_cast<char>('1' + slot);
    name[1] = '.';
    if (instances.parameterText(slot, effGetParamName, inner, name + 2, kForwardedNameLen))
        copyText(text, name, kForwardedNameLen);
    else if (instances.instance(slot) != nullptr)
        copyText(text, "", kForwardedNameLen); // beyond the inner plug-in's parameters
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

VstIntPtr AGain::vendorSpecific(VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    if (index == GainMeterCall::kCode)
        return readGainMeters(value, ptr, opt != 0.0f);
    if (index == BandTapCall::kCode)
        return tapBands(value, ptr);
    return 0;
}

VstIntPtr AGain::tapBands(VstIntPtr size, void* ptr)
{
    static_assert(BandTapCall::kBands == kNumBands, "one tap per band");
    MultibandEngine::Taps taps;
    if (ptr == nullptr)
    {
        engine.setTaps(taps);
        return BandTapCall::kCode;
    }
    if (size < static_cast<VstIntPtr>(sizeof(BandTaps)))
        return 0;
    auto* given = static_cast<BandTaps*>(ptr);
    for (int b = 0; b < kNumBands; ++b)
        for (int c = 0; c < 2; ++c)
            taps.channels[b][c] = given->channels[b][c];
    taps.frames = given->frames;
    given->masterLatency = engine.setTaps(taps);
    return BandTapCall::kCode;
}

VstIntPtr AGain::readGainMeters(VstIntPtr size, void* ptr, bool truePeak)
{
    static_assert(GainMeterCall::kInstances == kNumInstances, "one reading per instance");
    if (ptr == nullptr || size < static_cast<VstIntPtr>(sizeof(GainMeterReadings)))
        return 0;
    auto* readings = static_cast<GainMeterReadings*>(ptr);
    // The meters run from the first reading on; a host that never reads them
    // pays nothing for them.
    engine.setMetering(true);
    for (int i = 0; i < kNumInstances; ++i)
    {
        const GainMeter::Reading reading = engine.gainReduction(i);
        readings->blockDb[i] = reading.blockDb;
        readings->holdDb[i] = reading.holdDb;
    }
    const OutputPeakMeter::Reading peak =
        truePeak ? engine.outputPeak() : OutputPeakMeter::Reading{OutputPeakMeter::kFloorDb, OutputPeakMeter::kFloorDb};
    readings->truePeakBlockDb = peak.blockDb;
    readings->truePeakHoldDb = peak.holdDb;
    return GainMeterCall::kCode;
}

void AGain::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    if (outputs == nullptr || outputs[0] == nullptr || outputs[1] == nullptr || sampleFrames < 0)
        return;
    DenormalGuard guard;
    engine.process(inputs, outputs, sampleFrames);
    // Told outside the lock: a host may call back into the effect at once.
    announceLatency();
}

void AGain::latencyChanged(int frames)
{
    setInitialDelay(frames);
}

void AGain::announceLatency()
{
    const int latency = engine.latency();
    if (toldLatency.exchange(latency) != latency)
        ioChanged();
}
