// The validation battery's view of the shared test host: it loads a plug-in
// library by path, asks its exported entry for effects, and drives them only
// through the effect record, as any host does. Nothing of the plug-ins' own
// code is linked in.
#pragma once

#include "TestHost.h"
#include "vst/AEffect.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

// Sanitized builds: iteration counts shrink, the allocation check is left out.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVEX_VALIDATION_SANITIZER_DETECTED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define ORVEX_VALIDATION_SANITIZER_DETECTED 1
#endif
#endif
#if defined(ORVEX_VALIDATION_SANITIZER_DETECTED) && !defined(ORVEX_VALIDATION_SANITIZED)
#define ORVEX_VALIDATION_SANITIZED 1
#endif

namespace Validation
{

#if defined(ORVEX_VALIDATION_SANITIZED)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Divides an iteration count for sanitized builds, keeping at least `floor`.
int scaled(int count, int floor = 1);

struct PluginInfo
{
    const char* label; // test-name suffix
    const char* path;  // the built library
    bool multiband;    // the multiband effect (hosts the inner maximizer)
    int fault = 0;     // fault selected in the faulty test plug-in
};

// Every plug-in library this build produced. When ORVEX_VALIDATION_FAULTY_PLUGIN
// names the faulty test plug-in, also its sound variant and each of its
// faults, which prove that the checks can fail.
std::vector<PluginInfo> pluginsUnderTest();
std::string pluginLabel(const testing::TestParamInfo<PluginInfo>& info);
// How GoogleTest shows a plug-in in failure messages.
void PrintTo(const PluginInfo& plugin, std::ostream* out);

// Non-interleaved stereo float audio.
struct Stereo
{
    std::vector<float> left, right;

    Stereo() = default;
    explicit Stereo(std::size_t frames) : left(frames, 0.0f), right(frames, 0.0f) {}
    std::size_t size() const { return left.size(); }
};

// One effect created through the library's entry; closed on destruction
// unless closed before.
class Effect
{
public:
    explicit Effect(const PluginInfo& plugin);
    ~Effect();
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    AEffect* get() const { return effect; }
    explicit operator bool() const { return effect != nullptr; }
    void close();

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f) const;
    // The usual start sequence: open, sample rate, block size, resume. The host
    // callback answers the same rate and size from then on.
    void start(float sampleRate, VstInt32 blockSize) const;
    void suspend() const { dispatch(effMainsChanged, 0, 0); }
    void resume() const { dispatch(effMainsChanged, 0, 1); }

    void process(float* inLeft, float* inRight, float* outLeft, float* outRight, VstInt32 frames) const;
    // Runs `input` through the effect in blocks of `block` frames (the last may
    // be shorter), separate input and output buffers; returns the output.
    Stereo render(const Stereo& input, VstInt32 block) const;

    void setParameter(VstInt32 index, float value) const;
    float getParameter(VstInt32 index) const;
    // Text an opcode writes for `index`, read from a large zeroed buffer.
    std::string text(VstInt32 opcode, VstInt32 index = 0) const;
    // Index of the parameter of this name, or -1.
    VstInt32 findParameter(const std::string& name) const;

private:
    AEffect* effect = nullptr;
};

// The limit an effect's output must keep to: the displayed ceiling (dB) of its
// parameter "Ceiling" ("M.Ceiling", the master's, for the multiband effect) as
// a linear amplitude; infinity when the effect shows no such parameter.
double outputCeiling(const Effect& effect, const PluginInfo& plugin);

// Seeded test signals.
Stereo sineMix(std::size_t frames, float amplitude, double sampleRate, unsigned seed);

// First frame holding a sample that is not finite or exceeds `ceiling` (with
// float rounding slack of 1e-5 relative), or -1 when there is none.
long firstViolation(const Stereo& s, double ceiling);

// Largest absolute difference over both channels from `from` on; infinity
// when any sample of the range is not finite.
double maxDifference(const Stereo& a, const Stereo& b, std::size_t from = 0);

} // namespace Validation
