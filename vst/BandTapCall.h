// The multiband effect's own dispatcher call for its band signals: a host
// (orvex render --bands) sends effVendorSpecific with index kCode, value the
// size of the BandTaps it passes in ptr, and from the next processReplacing on
// the effect copies each band's signal, as the band enters the sum before the
// master (aligned with the other bands, after its switch's fade, so a band
// switched off gives silence), into the buffers named there, and answers
// kCode. A null ptr stops the copying. Any other plug-in answers something
// else (0 by default), and has no band outputs.
//
// Each block writes frames [0, min(block, frames)) of every buffer named, and
// nothing beyond. The call waits for a block in progress to end, so once it
// returns no block writes to the buffers it replaced; never send it from
// within processReplacing.
#pragma once

#include "vst/AEffect.h"

namespace BandTapCall
{
constexpr VstInt32 kCode = ('O' << 24) | ('v' << 16) | ('B' << 8) | 'T';
constexpr int kBands = 5;
} // namespace BandTapCall

struct BandTaps
{
    float* channels[BandTapCall::kBands][2]; // left and right of each band; a band with a null one is not copied
    VstInt32 frames;                         // in: the length of every buffer
    // out: frames by which the band signals lead the effect's output (the
    // master's latency).
    VstInt32 masterLatency;
};

namespace BandTapCall
{
// Hands `taps` (null: none) to `effect`; false when it does not answer the call.
inline bool send(AEffect* effect, BandTaps* taps)
{
    return effect->dispatcher(effect, effVendorSpecific, kCode, static_cast<VstIntPtr>(sizeof(BandTaps)), taps,
                              0.0f) == kCode;
}
} // namespace BandTapCall
