// The multiband effect's own dispatcher call for its gain meters: a host (the
// LV2 adapter, orvex) sends effVendorSpecific with index kCode, value the size
// of the GainMeterReadings it passes in ptr, and the effect fills them and
// answers kCode. Any other plug-in answers something else (0 by default), and
// has no band meters. Hosts that do not know the code never send it.
// The effect answers from any thread without waiting, the audio thread
// included; each value is read whole, the set as of one block or the next.
#pragma once

#include "vst/AEffect.h"

namespace GainMeterCall
{
constexpr VstInt32 kCode = ('O' << 24) | ('v' << 16) | ('G' << 8) | 'R';
constexpr int kInstances = 6; // five bands, then the master
} // namespace GainMeterCall

// Gain reduction in dB (0: none, positive: reduced) of each maximizer
// instance, from its output against its input delayed by its latency.
struct GainMeterReadings
{
    float blockDb[GainMeterCall::kInstances]; // the deepest of the last block
    float holdDb[GainMeterCall::kInstances];  // the deepest since, falling 10 dB/s
    float truePeakBlockDb;                    // the output's loudest point of the last block, dBTP
    float truePeakHoldDb;                     // the loudest since, falling 10 dB/s
};

namespace GainMeterCall
{
// Asks `effect` for its readings (and its output's true peak, which costs
// the effect a little from the first such call on); false when it does not
// answer the call.
inline bool read(AEffect* effect, GainMeterReadings& readings, bool truePeak = false)
{
    return effect->dispatcher(effect, effVendorSpecific, kCode, static_cast<VstIntPtr>(sizeof readings), &readings,
                              truePeak ? 1.0f : 0.0f) == kCode;
}
} // namespace GainMeterCall
