// A band's on/off switch as the sum hears it: switching fades the band out
// or in along a raised cosine instead of cutting it, so switching a band
// while the music plays does not click. Runs on the audio thread; allocates
// nothing. Not safe for concurrent use; the effect runs it under its lock.
#pragma once

class BandGate
{
public:
    // Fade length in frames (at least 1); a fade in progress keeps its share.
    void setFadeFrames(int frames);
    // Goes to `on` at once.
    void reset(bool on) { position = on ? fadeFrames : 0; }

    // Adds the band's n frames (two channels) into the sums, switched on or
    // off as `on` asks, fading from where the last block left off.
    void mixInto(float* const* sums, const float* const* band, int n, bool on);

private:
    int fadeFrames = 1;
    int position = 1; // frames into the fade-in: 0 off, fadeFrames fully on
};
