// The one fade of every live change: a gain that moves between 0 and 1 along
// a raised cosine, one frame of the curve per frame of audio. It always moves
// on from the gain it has now: a new target halfway through a fade turns the
// fade round at that gain, so no change can make it jump (only reset() does,
// which is for a new stream).
// Runs on the audio thread; allocates nothing. Not safe for concurrent use.
#pragma once

class GainRamp
{
public:
    // Length of a whole fade from 0 to 1 (at least one frame). A fade in
    // progress keeps its share of the way.
    void setLength(int frames);
    int length() const { return fadeFrames; }

    // Jumps to fully on or off: only for a new stream, before anyone hears it.
    void reset(bool on);
    // Moves towards on (1) or off (0) from the gain it has now.
    void target(bool on) { rising = on; }

    bool on() const { return position == fadeFrames; }
    bool off() const { return position == 0; }
    // At its target: nothing moves until the target changes.
    bool settled() const { return position == (rising ? fadeFrames : 0); }
    float gain() const { return gainAt(position); }
    // Frames until it reaches its target.
    int remaining() const { return rising ? fadeFrames - position : position; }

    // The gains of the next n frames into `gains`, moving the ramp on.
    void render(float* gains, int n);
    // Scales two channels of n frames in place, moving the ramp on.
    void apply(float* const* io, int n);
    // Adds the gained n frames of `band` into `sums`, moving the ramp on;
    // adds nothing once fully off.
    void mixInto(float* const* sums, const float* const* band, int n);
    // Moves the ramp on by n frames without touching audio.
    void advance(int n);

private:
    float gainAt(int framesIn) const;
    int step() const { return rising ? 1 : -1; }

    int fadeFrames = 1;
    int position = 1; // frames along the curve: 0 off, fadeFrames fully on
    bool rising = true;
};
