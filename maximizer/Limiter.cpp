#include "Limiter.h"

#include <algorithm>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace
{
// Driven samples are bounded so that peaks, gains and products stay finite.
constexpr float kLargestSample = 1.0e30f;

// Auto release: recovery from short transients takes this fraction of the
// release time, recovery from sustained reduction this multiple of it, and the
// sustained level charges over this multiple of it.
constexpr double kAutoFast = 0.25;
constexpr double kAutoSlow = 2.0;
constexpr double kAutoCharge = 4.0;

// A new threshold ramps the drive over this time instead of stepping the
// level (which clicks).
constexpr double kDriveRampSeconds = 0.02;

float bounded(float value, float low, float high, float fallback)
{
    return std::isfinite(value) ? std::min(std::max(value, low), high) : fallback;
}

// The sample times the drive, bounded; NaN fails the comparison and infinity
// exceeds it: both become silence.
float driven(float sample, float drive)
{
    const float value = std::fabs(sample) <= FLT_MAX ? sample * drive : 0.0f;
    return std::min(std::max(value, -kLargestSample), kLargestSample);
}

double onePole(double seconds, double rate)
{
    return 1.0 - std::exp(-1.0 / (seconds * rate));
}

float fromDb(double db)
{
    return static_cast<float>(std::pow(10.0, db / 20.0));
}
} // namespace

Limiter::Limiter()
    : computers{GainComputer(kLookahead), GainComputer(kLookahead)},
      holds{SlidingMaximum(2 * kHold + 2), SlidingMaximum(2 * kHold + 2)}
{
    for (int c = 0; c < kChannels; ++c)
    {
        history[c].assign(kKept + kChunk, 0.0f);
        peaks[c].assign(kChunk, 0.0f);
        gains[c].assign(kChunk, 1.0f);
    }
    updateCoefficients();
}

void Limiter::setSampleRate(double rate)
{
    if (std::isfinite(rate) && rate > 0.0)
        sampleRate = rate;
    updateCoefficients();
}

void Limiter::setSettings(const LimiterSettings& wanted)
{
    const LimiterSettings defaults;
    settings.thresholdDb = bounded(wanted.thresholdDb, -30.0f, 0.0f, defaults.thresholdDb);
    settings.ceilingDb = bounded(wanted.ceilingDb, -30.0f, 0.0f, defaults.ceilingDb);
    settings.releaseMs = bounded(wanted.releaseMs, 1.0f, 1000.0f, defaults.releaseMs);
    settings.link = bounded(wanted.link, 0.0f, 1.0f, defaults.link);
    // True peaks held from before sample-peak mode belong to audio long gone.
    if (wanted.truePeak && !settings.truePeak)
        for (auto& hold : holds)
            hold.reset();
    settings.truePeak = wanted.truePeak;
    settings.autoRelease = wanted.autoRelease;
    updateCoefficients();
}

void Limiter::updateCoefficients()
{
    const float previousDrive = drive;
    const float appliedDrive = currentDrive();
    drive = fromDb(-settings.thresholdDb);
    if (!running)
    {
        driveRampLeft = 0;
    }
    else if (drive != previousDrive)
    {
        // From the drive applied now, whether or not a ramp was under way.
        driveFrom = appliedDrive;
        driveRampLength = driveRampLeft = std::max(1, static_cast<int>(kDriveRampSeconds * sampleRate));
        driveStep = (drive - driveFrom) / static_cast<float>(driveRampLength);
    }
    const float previousCeiling = ceiling;
    ceiling = fromDb(settings.ceilingDb);
    // The samples already in the delay line were given gains for the ceiling
    // of their time: the clamp lets the highest of those out until they have
    // left, instead of clipping them to a ceiling that was lowered since.
    if (!running)
    {
        clampCeiling = ceiling;
    }
    else if (ceiling != previousCeiling)
    {
        clampCeiling = std::max(clampCeiling, ceiling);
        clampHoldLeft = kLatency;
    }

    const double seconds = settings.releaseMs * 0.001;
    ReleaseCoefficients release;
    release.normal = onePole(seconds, sampleRate);
    release.fast = onePole(seconds * kAutoFast, sampleRate);
    release.slow = onePole(seconds * kAutoSlow, sampleRate);
    release.charge = onePole(seconds * kAutoCharge, sampleRate);
    release.automatic = settings.autoRelease;

    const bool nowLinked = settings.link >= 1.0f;
    // The second chain idles while linked; it continues from the common state.
    // Linking runs both chains on the common peaks until they agree, so
    // neither channel's gain jumps to the other chain's.
    if (linked && !nowLinked)
        computers[1] = computers[0];
    if (!nowLinked || !running)
        linked = nowLinked;
    if (!nowLinked)
        commonPeaksFor = 0;

    for (auto& computer : computers)
    {
        computer.setCeiling(ceiling);
        computer.setRelease(release);
    }
}

void Limiter::reset()
{
    for (int c = 0; c < kChannels; ++c)
    {
        std::fill(history[c].begin(), history[c].end(), 0.0f);
        computers[c].reset();
        holds[c].reset();
    }
    driveRampLeft = 0;
    clampCeiling = ceiling;
    clampHoldLeft = 0;
    running = false;
    clamped = 0;
}

void Limiter::process(const float* const* inputs, float* const* outputs, int frames, bool accumulate)
{
    running = running || frames > 0;
    for (int offset = 0; offset < frames; offset += kChunk)
        processChunk(inputs, outputs, offset, std::min(kChunk, frames - offset), accumulate);
}

void Limiter::processChunk(const float* const* inputs, float* const* outputs, int offset, int n, bool accumulate)
{
    for (int c = 0; c < kChannels; ++c)
        loadInput(inputs ? inputs[c] : nullptr, history[c].data() + kKept, offset, n);
    advanceDriveRamp(n);

    detectPeaks(n);
    linkPeaks(n);

    const int second = linked ? 0 : 1;
    computers[0].process(peaks[0].data(), gains[0].data(), n);
    if (!linked)
    {
        computers[1].process(peaks[1].data(), gains[1].data(), n);
        if (settings.link >= 1.0f)
        {
            commonPeaksFor += n;
            linked = commonPeaksFor >= kLookahead && computers[0].sameFuture(computers[1]);
        }
    }

    for (int c = 0; c < kChannels; ++c)
    {
        float* output = outputs && outputs[c] ? outputs[c] + offset : nullptr;
        if (output)
            writeOutput(history[c].data() + kKept - kLatency, gains[c == 0 ? 0 : second].data(), output, n, accumulate);
        // Keep the newest kKept samples as the next chunk's history.
        std::memmove(history[c].data(), history[c].data() + n, kKept * sizeof(float));
    }
    clampHoldLeft = std::max(0, clampHoldLeft - n);
    if (clampHoldLeft == 0)
        clampCeiling = ceiling;
}

void Limiter::loadInput(const float* input, float* target, int offset, int n) const
{
    if (!input)
    {
        std::fill(target, target + n, 0.0f);
        return;
    }
    // While a new threshold ramps in, the drive moves by driveStep a sample
    // (computed from the ramp's start, so any blocking gives the same gains).
    const int ramped = std::min(n, driveRampLeft);
    const int done = driveRampLength - driveRampLeft;
    for (int i = 0; i < ramped; ++i)
        target[i] = driven(input[offset + i], rampedDrive(done + i + 1));
    for (int i = ramped; i < n; ++i)
        target[i] = driven(input[offset + i], drive);
}

void Limiter::advanceDriveRamp(int n)
{
    driveRampLeft = std::max(0, driveRampLeft - n);
}

float Limiter::currentDrive() const
{
    return driveRampLeft > 0 ? rampedDrive(driveRampLength - driveRampLeft) : drive;
}

void Limiter::detectPeaks(int n)
{
    for (int c = 0; c < kChannels; ++c)
    {
        const float* x = history[c].data() + kKept;
        float* peak = peaks[c].data();
        if (!settings.truePeak)
        {
            // The sample in the middle of the hold, so both modes share one delay.
            TruePeakDetector::samplePeak(x - kHold, peak, n);
            continue;
        }
        detector.truePeak(x, peak, n);
        // peak[i] covers the sample kHold positions after the one whose gain
        // is computed, and the interval that follows it; the last 2 kHold + 2
        // of them reach from the interval before the sample kHold positions
        // earlier to the interval after the one kHold positions later.
        SlidingMaximum& hold = holds[c];
        for (int i = 0; i < n; ++i)
            peak[i] = hold.push(peak[i]);
    }
}

void Limiter::linkPeaks(int n)
{
    float* left = peaks[0].data();
    float* right = peaks[1].data();
    if (linked)
    {
        for (int i = 0; i < n; ++i)
            left[i] = std::max(left[i], right[i]);
        return;
    }
    const float link = settings.link;
    for (int i = 0; i < n; ++i)
    {
        const float l = left[i];
        const float r = right[i];
        left[i] = std::max(l, link * r);
        right[i] = std::max(r, link * l);
    }
}

void Limiter::writeOutput(const float* delayed, const float* gain, float* output, int n, bool accumulate)
{
    // The samples limited for a ceiling lowered since are held to the old one.
    const int held = std::min(n, clampHoldLeft);
    clamped += clampTo(clampCeiling, delayed, gain, output, held, accumulate);
    clamped += clampTo(ceiling, delayed + held, gain + held, output + held, n - held, accumulate);
}

std::uint32_t Limiter::clampTo(float limit, const float* delayed, const float* gain, float* output, int n,
                               bool accumulate)
{
    std::uint32_t over = 0;
    for (int i = 0; i < n; ++i)
    {
        const float y = delayed[i] * gain[i];
        const float limited = std::min(std::max(y, -limit), limit);
        over += limited != y;
        output[i] = accumulate ? output[i] + limited : limited;
    }
    return over;
}
