// Number-to-text conversions for parameter displays, shared by the
// AudioEffect members of the same purpose.
//
// Every function writes into a buffer of maxLen + 1 bytes: at most maxLen
// characters, the rest of the first maxLen bytes zero-filled, and a zero byte
// at index maxLen. A null text or a negative maxLen writes nothing. None of
// them allocates; all may be called from any thread.
#pragma once

#include "AEffect.h"

// Bounded copy of `source` (null counts as empty).
void copyText(char* text, const char* source, VstInt32 maxLen);

// Decimal digits with a leading "-" for negative values. "Huge!" for values of
// 100000000 and more, and for -1000000000 and less.
void intToText(VstInt32 value, char* text, VstInt32 maxLen);

// Eight characters counting sign, point and digits; digits are cut, never
// rounded ("0.699999" for 0.7f, "12.50000", "1234567."). "Huge!" above
// 99999999 and below -9999999; integer parts too long for the point to fit
// are written as digits only ("12345678"); NaN gives "NaN".
void floatToText(float value, char* text, VstInt32 maxLen);
