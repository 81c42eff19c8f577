#include "lv2/Lv2Effect.h"

#include "vst/GainMeterCall.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

Lv2Effect::Lv2Effect(const PluginDescription& plugin, VstPluginMainProc entry, double rate)
    : plugin(plugin), sampleRate(static_cast<float>(rate)), controlInputs(plugin.controlCount(), nullptr),
      appliedValues(plugin.controlCount(), std::numeric_limits<float>::quiet_NaN()),
      meterOutputs(plugin.meters.size(), nullptr)
{
    for (int c = 0; c < 2; ++c)
    {
        inputCopies[c].assign(kMaxChunk, 0.0f);
        discard[c].assign(kMaxChunk, 0.0f);
    }
    if (entry == nullptr || !(sampleRate > 0.0f) || !std::isfinite(sampleRate))
        return;
    AEffect* created = entry(&Lv2Effect::hostCallback);
    if (created == nullptr || created->magic != kEffectMagic || created->processReplacing == nullptr ||
        created->numInputs != 2 || created->numOutputs != 2 ||
        created->numParams != static_cast<VstInt32>(plugin.controlCount()))
    {
        // Not the effect this description is for: leave it closed and unused.
        if (created != nullptr && created->magic == kEffectMagic)
            created->dispatcher(created, effClose, 0, 0, nullptr, 0.0f);
        return;
    }
    effect = created;
    effect->user = this;
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, sampleRate);
    dispatch(effSetBlockSize, 0, static_cast<VstIntPtr>(kMaxChunk));
}

Lv2Effect::~Lv2Effect()
{
    if (effect == nullptr)
        return;
    deactivate();
    dispatch(effClose);
}

VstIntPtr ORVEX_VSTCALL Lv2Effect::hostCallback(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    // During construction the record is not ours yet; answer what any host would.
    const Lv2Effect* self = effect != nullptr ? static_cast<const Lv2Effect*>(effect->user) : nullptr;
    switch (opcode)
    {
    case audioMasterVersion: return kVstVersion;
    case audioMasterGetSampleRate: return self != nullptr ? static_cast<VstIntPtr>(self->sampleRate) : 0;
    case audioMasterGetBlockSize: return static_cast<VstIntPtr>(kMaxChunk);
    // The latency port is refreshed from the record after every run.
    case audioMasterIOChanged: return 1;
    default: return 0;
    }
}

VstIntPtr Lv2Effect::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, float opt)
{
    return effect->dispatcher(effect, opcode, index, value, nullptr, opt);
}

void Lv2Effect::connectPort(std::uint32_t port, void* data)
{
    if (port < plugin.controlCount())
        controlInputs[port] = static_cast<const float*>(data);
    else if (port == plugin.audioInput(0) || port == plugin.audioInput(1))
        audioInputs[port - plugin.audioInput(0)] = static_cast<const float*>(data);
    else if (port == plugin.audioOutput(0) || port == plugin.audioOutput(1))
        audioOutputs[port - plugin.audioOutput(0)] = static_cast<float*>(data);
    else if (port == plugin.latencyPort())
        latencyOutput = static_cast<float*>(data);
    else if (port >= plugin.meterPort(0) && port < plugin.portCount())
        meterOutputs[port - plugin.meterPort(0)] = static_cast<float*>(data);
}

// The controls connected now are the stream's initial state: set before the
// resume, they are part of the restart (designed here, never faded in).
void Lv2Effect::activate()
{
    if (effect == nullptr || active)
        return;
    applyControls(false);
    dispatch(effMainsChanged, 0, 1);
    active = true;
    running = false;
}

void Lv2Effect::deactivate()
{
    if (effect == nullptr || !active)
        return;
    dispatch(effMainsChanged, 0, 0);
    active = false;
}

void Lv2Effect::applyControls(bool mayDefer)
{
    for (std::uint32_t i = 0; i < plugin.controlCount(); ++i)
    {
        if (controlInputs[i] == nullptr)
            continue;
        const float value = *controlInputs[i];
        // A NaN leaves the parameter as it was; an equal value is not sent again.
        if (std::isnan(value) || value == appliedValues[i])
            continue;
        const ControlChange change{static_cast<VstInt32>(i), toNormalised(plugin.controls[i], value, sampleRate)};
        if (scheduler != nullptr && mayDefer)
        {
            if (!scheduler(schedulerContext, change))
                continue;
        }
        else
        {
            effect->setParameter(effect, change.index, change.value);
        }
        appliedValues[i] = value;
    }
}

void Lv2Effect::setScheduler(Scheduler newScheduler, void* context)
{
    if (!plugin.controlsOnWorker)
        return;
    scheduler = newScheduler;
    schedulerContext = context;
}

void Lv2Effect::applyScheduled(const ControlChange& change)
{
    if (effect != nullptr && change.index >= 0 && change.index < effect->numParams)
        effect->setParameter(effect, change.index, change.value);
}

void Lv2Effect::processChunk(std::uint32_t offset, std::uint32_t frames)
{
    float* inputs[2];
    float* outputs[2];
    for (int c = 0; c < 2; ++c)
    {
        if (audioInputs[c] != nullptr)
            std::copy(audioInputs[c] + offset, audioInputs[c] + offset + frames, inputCopies[c].begin());
        else
            std::fill(inputCopies[c].begin(), inputCopies[c].begin() + frames, 0.0f);
        inputs[c] = inputCopies[c].data();
        outputs[c] = audioOutputs[c] != nullptr ? audioOutputs[c] + offset : discard[c].data();
    }
    effect->processReplacing(effect, inputs, outputs, static_cast<VstInt32>(frames));
}

void Lv2Effect::run(std::uint32_t frames)
{
    if (effect == nullptr)
    {
        // Never reached through the descriptor (instantiate fails instead),
        // but a closed instance must still leave defined output.
        for (float* out : audioOutputs)
            if (out != nullptr)
                std::fill(out, out + frames, 0.0f);
        return;
    }
    // Controls first seen by the stream's first run are still its initial
    // state: applied directly, so they too start without a fade.
    applyControls(running);
    running = true;
    for (std::uint32_t done = 0; done < frames;)
    {
        const std::uint32_t chunk = std::min(frames - done, kMaxChunk);
        processChunk(done, chunk);
        done += chunk;
    }
    if (latencyOutput != nullptr)
        *latencyOutput = static_cast<float>(loadInitialDelay(effect));
    writeMeters();
}

// The peak-hold readings: a host reads the ports at its display rate, and
// the hold keeps what happened between its reads.
void Lv2Effect::writeMeters()
{
    GainMeterReadings readings{};
    // The meters run only for a host that connected their ports; the true
    // peak only for one that connected its own.
    const bool truePeak = meterOutputs.size() > GainMeterCall::kInstances && meterOutputs[GainMeterCall::kInstances];
    const bool any = std::any_of(meterOutputs.begin(), meterOutputs.end(), [](const float* port) { return port != nullptr; });
    if (!any || !GainMeterCall::read(effect, readings, truePeak))
        return;
    for (std::size_t i = 0; i < meterOutputs.size(); ++i)
    {
        if (meterOutputs[i] == nullptr)
            continue;
        const float held = i < GainMeterCall::kInstances ? readings.holdDb[i] : readings.truePeakHoldDb;
        *meterOutputs[i] = std::clamp(held, plugin.meters[i].minimum, plugin.meters[i].maximum);
    }
}
