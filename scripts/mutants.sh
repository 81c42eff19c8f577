#!/usr/bin/env bash
# Plants known faults one at a time in a scratch copy of the tree, rebuilds
# what changed and runs the tests that should notice; fails when a fault
# survives (its tests still pass) or no longer applies (its text is gone).
# Usage: scripts/mutants.sh [NAME...]   (default: every mutant below)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scratch=$root/build-mutants
jobs=$(nproc)

# One mutant a line: name | file | tests (ctest -R) | text | replacement.
# The text must occur exactly once in the file; "\n" stands for a line break.
# Neither text nor replacement may contain "|".
read -r -d '' table <<'EOF' || true
# --- the multiband effect and its engine ---
band-to-next-instance | plugin/MultibandEngine.cpp | AudioPath | if (!runMetered(b, bands[b], out, n)) | if (!runMetered(b + 1, bands[b], out, n))
bands-not-aligned | plugin/BandAlignment.h | Engine | lines[band].run(io, n, alignment[band]); | lines[band].run(io, n, 0);
latency-not-followed | plugin/MultibandEngine.cpp | AnyInner | if (followLatencies(false))\n        updateLatency(); | followLatencies(false);
left-right-swapped | crossover/GainRamp.cpp | AudioPath | sums[c][i] += band[c][i]; | sums[c][i] += band[1 - c][i];
no-denormal-guard | plugin/AGain.cpp | AudioPath | DenormalGuard guard;\n    engine.process | engine.process
label-not-cut | plugin/AGain.cpp | Parameters | instances.parameterText(slot, effGetParamLabel, inner, label, kVstMaxParamStrLen); | instances.parameterText(slot, effGetParamLabel, inner, label, 63);
restart-keeps-inner-stream | plugin/AGain.cpp | LiveChange | engine.restart([this] { instances.restart(); }); | engine.restart([] {});
# --- live crossover changes ---
crossfade-is-a-jump | crossover/Crossover.cpp | LiveChange | update->fadeFrames = std::max(1, static_cast<int>(std::lround(kFadeSeconds * sampleRate))); | update->fadeFrames = 1 + 0 * static_cast<int>(sampleRate);
new-kernels-without-history | crossover/Crossover.cpp | LiveChange | lane.lag = std::min(frames, history.held()); | lane.lag = 0;
fades-are-jumps | crossover/GainRamp.h | LiveChange | int step() const { return rising ? 1 : -1; } | int step() const { return rising ? fadeFrames : -fadeFrames; }
delay-grows-without-fade | crossover/Crossover.cpp | LiveChange | fade.reset(true);\n        fade.target(false); | fade.reset(false);\n        fade.target(false);
late-changes-fade | crossover/Crossover.cpp | Engine | basis.fresh = untouched; | basis.fresh = false;
idle-alignment-lines | plugin/MultibandEngine.cpp | Engine | alignment.delay(b, out, n); | if (alignment.latency() > runner.latency(kMaster))\n            alignment.delay(b, out, n);
alignment-fade-jumps | plugin/BandAlignment.cpp | Engine | ramp.target(target == alignment); | ramp.reset(true);\n        ramp.target(target == alignment);
tap-past-its-frames | plugin/MultibandEngine.cpp | Engine | const int frames = std::min(n, taps.frames - offset); | const int frames = std::min(n, taps.frames);
tap-before-the-switch | plugin/MultibandEngine.cpp | Engine | gates[b].apply(out, n);\n            copy(tap, out, frames); | copy(tap, out, frames);\n            gates[b].apply(out, n);
design-waits | plugin/MultibandEngine.cpp | Engine | if (designing.exchange(true))\n            return; | while (designing.exchange(true)) {}
# --- the meters ---
gain-history-short | plugin/GainMeter.cpp | Meters | const int kept = std::min(latency, n); | const int kept = std::min(latency, n) / 2;
peak-taps-unfolded | plugin/OutputPeakMeter.cpp | Meters | taps.difference[k] = 0.5f * (phases[0][early] - phases[0][late]); | taps.difference[k] = 0.5f * (phases[0][early] + phases[0][late]);
# --- the inner maximizer ---
threshold-ignored | maximizer/Limiter.cpp | MaximizerPlugin | drive = fromDb(-settings.thresholdDb); | drive = 1.0f;
rate-not-passed-on | maximizer/OrvexMaximizer.cpp | MaximizerPlugin | appliedSampleRate = rate;\n        limiter.setSampleRate(rate); | appliedSampleRate = rate;
threshold-steps | maximizer/Limiter.cpp | Limiter\. | driveRampLength = driveRampLeft = std::max(1, static_cast<int>(kDriveRampSeconds * sampleRate)); | driveRampLength = driveRampLeft = 1;
lowered-ceiling-clips | maximizer/Limiter.cpp | Limiter\. | clampHoldLeft = kLatency; | clampHoldLeft = 0;
true-peak-hold-widened | maximizer/Limiter.h | Limiter\. | static constexpr int kHold = 2; | static constexpr int kHold = 16;
nyquist-band-ignored | maximizer/TruePeakDetector.cpp | Limiter\. | constexpr float kBandWeight = 0.5f; | constexpr float kBandWeight = 0.0f;
# --- the band splitter ---
later-partitions-off-by-1% | crossover/PartitionedKernel.cpp | BandSplitter\. | const float scale = 1.0f / static_cast<float>(n); | const float scale = (partition > 0 ? 1.01f : 1.0f) / static_cast<float>(n);
EOF

targets=(PluginAudioTest PluginShellTest EngineTest MeterTest MaximizerPluginTest LimiterTest BandSplitterTest)

trim() { local s=$1; s=${s#"${s%%[![:space:]]*}"}; printf '%s' "${s%"${s##*[![:space:]]}"}"; }

# The scratch copy: the sources as they are now, built once.
mkdir -p "$scratch/src"
tar -C "$root" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$scratch/src" -xf -
cmake -G Ninja -S "$scratch/src" -B "$scratch/build" -DCMAKE_BUILD_TYPE=Release \
    -DORVEX_BUILD_HOST=OFF -DORVEX_BUILD_BENCH=OFF >/dev/null
build() { cmake --build "$scratch/build" -j "$jobs" --target "${targets[@]}" >"$scratch/build.log" 2>&1; }
tests() { ctest --test-dir "$scratch/build" -j "$jobs" -R "$1" >"$scratch/test.log" 2>&1; }
build || { cat "$scratch/build.log"; exit 1; }

survivors=()
while IFS='|' read -r name file regex text replacement; do
    name=$(trim "$name")
    [[ -z $name || $name == \#* ]] && continue
    [[ $# -gt 0 && " $* " != *" $name "* ]] && continue
    file=$scratch/src/$(trim "$file"); regex=$(trim "$regex")
    text=$(printf '%b' "$(trim "$text")"); replacement=$(printf '%b' "$(trim "$replacement")")
    original=$(<"$file")
    rest=${original#*"$text"}
    if [[ $rest == "$original" || $rest == *"$text"* ]]; then
        echo "mutant $name: the text is not in $file exactly once"
        survivors+=("$name")
        continue
    fi
    printf '%s\n' "${original/"$text"/"$replacement"}" >"$file"
    if ! build; then
        verdict="does not build"; survivors+=("$name")
    elif tests "$regex"; then
        verdict="SURVIVED ($regex)"; survivors+=("$name")
    else
        verdict="killed: $(grep -c '(Failed)' "$scratch/test.log" || true) tests of $regex fail"
    fi
    printf '%s\n' "$original" >"$file"
    echo "mutant $name: $verdict"
done <<<"$table"

build
if [ ${#survivors[@]} -gt 0 ]; then
    echo "scripts/mutants.sh: not killed: ${survivors[*]}"
    exit 1
fi
echo "scripts/mutants.sh: every mutant killed"
