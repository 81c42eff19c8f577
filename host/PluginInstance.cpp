#include "PluginInstance.h"

#include "HostError.h"
#include "vst/BandTapCall.h"
#include "vst/GainMeterCall.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace
{
// The instance whose entry point or start sequence is running on this thread:
// effects may call the host before the host could store itself in the record.
thread_local const PluginInstance* instanceStarting = nullptr;

// Plug-ins write past the documented text limits often enough that every text
// request gets a generous zero-filled buffer.
constexpr std::size_t kTextBuffer = 512;

void copyText(void* ptr, const char* text, std::size_t maxLen)
{
    if (!ptr)
        return;
    std::strncpy(static_cast<char*>(ptr), text, maxLen);
    static_cast<char*>(ptr)[maxLen] = '\0';
}
} // namespace

VstIntPtr ORVEX_VSTCALL orvexHostCallback(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void* ptr,
                                          float)
{
    const PluginInstance* instance =
        effect && effect->user ? static_cast<const PluginInstance*>(effect->user) : instanceStarting;
    switch (opcode)
    {
    case audioMasterVersion: return kVstVersion;
    case audioMasterGetSampleRate: return instance ? static_cast<VstIntPtr>(instance->rate) : 44100;
    case audioMasterGetBlockSize: return instance ? instance->maxBlock : 1024;
    case audioMasterGetVendorString: copyText(ptr, "orvex", kVstMaxVendorStrLen); return 1;
    case audioMasterGetProductString: copyText(ptr, "orvex command-line host", kVstMaxProductStrLen); return 1;
    case audioMasterGetVendorVersion: return 1000;
    case audioMasterGetLanguage: return 1; // English
    default: return 0;
    }
}

PluginInstance::PluginInstance(std::shared_ptr<PluginLibrary> lib, float sampleRate, int blockSize)
    : library(std::move(lib)), rate(sampleRate), maxBlock(blockSize)
{
    std::lock_guard<std::mutex> guard(PluginLibrary::setupLock());
    instanceStarting = this;
    effect = library->entry()(orvexHostCallback);
    instanceStarting = nullptr;
    if (!effect || effect->magic != kEffectMagic || !effect->dispatcher)
        throw HostError("plug-in returned no valid effect: " + library->path());
    effect->user = this;
    if (!effect->processReplacing && !effect->process)
    {
        dispatch(effClose);
        throw HostError("plug-in has no process entry: " + library->path());
    }
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
    dispatch(effSetBlockSize, 0, blockSize);
    dispatch(effMainsChanged, 0, 1);
}

PluginInstance::~PluginInstance()
{
    std::lock_guard<std::mutex> guard(PluginLibrary::setupLock());
    dispatch(effMainsChanged, 0, 0);
    dispatch(effClose);
}

VstIntPtr PluginInstance::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) const
{
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

std::string PluginInstance::textOpcode(VstInt32 opcode, VstInt32 index) const
{
    char text[kTextBuffer] = {};
    std::lock_guard<std::mutex> guard(PluginLibrary::setupLock());
    dispatch(opcode, index, 0, text);
    text[kTextBuffer - 1] = '\0';
    return text;
}

std::string PluginInstance::effectName() const { return textOpcode(effGetEffectName, 0); }
std::string PluginInstance::vendor() const { return textOpcode(effGetVendorString, 0); }
std::string PluginInstance::product() const { return textOpcode(effGetProductString, 0); }
int PluginInstance::vendorVersion() const { return static_cast<int>(dispatch(effGetVendorVersion)); }

std::string PluginInstance::uniqueIdText() const
{
    const auto id = static_cast<std::uint32_t>(effect->uniqueID);
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
    {
        const char c = static_cast<char>((id >> shift) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

std::string PluginInstance::paramName(int index) const { return textOpcode(effGetParamName, index); }
std::string PluginInstance::paramLabel(int index) const { return textOpcode(effGetParamLabel, index); }
std::string PluginInstance::paramDisplay(int index) const { return textOpcode(effGetParamDisplay, index); }

float PluginInstance::getParameter(int index) const
{
    if (index < 0 || index >= effect->numParams || !effect->getParameter)
        return 0.0f;
    std::lock_guard<std::mutex> guard(PluginLibrary::setupLock());
    return effect->getParameter(effect, index);
}

void PluginInstance::setParameter(int index, float value)
{
    if (index < 0 || index >= effect->numParams || !effect->setParameter)
        return;
    std::lock_guard<std::mutex> guard(PluginLibrary::setupLock());
    effect->setParameter(effect, index, value);
}

void PluginInstance::process(float** inputs, float** outputs, int frames)
{
    if (effect->processReplacing)
    {
        effect->processReplacing(effect, inputs, outputs, frames);
        return;
    }
    for (int channel = 0; channel < effect->numOutputs; ++channel)
        std::fill(outputs[channel], outputs[channel] + frames, 0.0f);
    effect->process(effect, inputs, outputs, frames);
}

bool PluginInstance::gainMeters(std::array<float, 6>& blockDb) const
{
    static_assert(GainMeterCall::kInstances == 6, "five bands and the master");
    GainMeterReadings readings{};
    if (!GainMeterCall::read(effect, readings))
        return false;
    std::copy(std::begin(readings.blockDb), std::end(readings.blockDb), blockDb.begin());
    return true;
}

int PluginInstance::tapBands(float* const* channels, int frames)
{
    BandTaps taps{};
    for (int b = 0; channels != nullptr && b < BandTapCall::kBands; ++b)
        for (int c = 0; c < 2; ++c)
            taps.channels[b][c] = channels[2 * b + c];
    taps.frames = channels != nullptr ? frames : 0;
    taps.masterLatency = -1;
    if (!BandTapCall::send(effect, &taps))
        return -1;
    return std::max(taps.masterLatency, 0);
}
