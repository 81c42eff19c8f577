#include "TextConversion.h"

#include <cmath>
#include <cstring>

namespace
{

constexpr int kFloatTextBudget = 8;
const char* const kHugeText = "Huge!";

// Appends the decimal digits of `magnitude` (no leading zeros, "0" for 0).
char* appendDigits(char* out, unsigned long long magnitude)
{
    char reversed[24];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + magnitude % 10u);
        magnitude /= 10u;
    } while (magnitude != 0u);
    while (count > 0)
        *out++ = reversed[--count];
    *out = '\0';
    return out;
}

// Integer digits from the least significant one: i is scaled by the double
// nearest 0.1 rather than divided, so each digit is the integer part of
// fmod(i, 10). Stops when the budget is used up; returns the remaining i.
double writeIntegerDigits(double i, char* reversed, int& digits, int& count)
{
    do {
        reversed[digits++] = static_cast<char>('0' + static_cast<int>(std::fmod(i, 10.0)));
        i *= 0.1;
        ++count;
    } while (i >= 1.0 && count < kFloatTextBudget);
    return i;
}

// n fraction digits of m = frac * 10^n, produced from the last to the first.
void writeFractionDigits(double m, char* out, int n)
{
    for (int k = n - 1; k >= 0; --k) {
        if (m <= 0.0) {
            out[k] = '0';
            continue;
        }
        out[k] = static_cast<char>('0' + static_cast<int>(std::fmod(m, 10.0)));
        m *= 0.1;
    }
    out[n] = '\0';
}

} // namespace

void copyText(char* text, const char* source, VstInt32 maxLen)
{
    if (text == nullptr || maxLen < 0)
        return;
    const std::size_t limit = static_cast<std::size_t>(maxLen);
    std::size_t length = 0;
    if (source != nullptr)
        while (length < limit && source[length] != '\0')
            ++length;
    std::memcpy(text, source == nullptr ? "" : source, length);
    std::memset(text + length, 0, limit - length + 1);
}

void intToText(VstInt32 value, char* text, VstInt32 maxLen)
{
    // Values beyond nine digits do not fit the display; say so instead of
    // showing a misleading cut number.
    if (value >= 100000000 || value <= -1000000000) {
        copyText(text, kHugeText, maxLen);
        return;
    }
    char buffer[16];
    char* out = buffer;
    long long magnitude = value;
    if (magnitude < 0) {
        *out++ = '-';
        magnitude = -magnitude;
    }
    appendDigits(out, static_cast<unsigned long long>(magnitude));
    copyText(text, buffer, maxLen);
}

void floatToText(float floatValue, char* text, VstInt32 maxLen)
{
    double value = floatValue;
    if (std::isnan(value)) {
        copyText(text, "NaN", maxLen);
        return;
    }
    const bool negative = value < 0.0;
    int count = 0;
    if (negative) {
        value = -value;
        ++count;
    }
    if (value > (negative ? 9999999.0 : 99999999.0)) {
        copyText(text, kHugeText, maxLen);
        return;
    }

    ++count; // the decimal point
    char reversed[kFloatTextBudget + 1];
    int digits = 0;
    const double rest = writeIntegerDigits(std::floor(value), reversed, digits, count);

    char buffer[2 * kFloatTextBudget];
    char* out = buffer;
    if (negative)
        *out++ = '-';
    if (rest >= 1.0) {
        // The integer part alone fills the budget: drop the point rather than
        // the leading digit.
        appendDigits(out, static_cast<unsigned long long>(value));
        copyText(text, buffer, maxLen);
        return;
    }
    while (digits > 0)
        *out++ = reversed[--digits];
    *out++ = '.';
    *out = '\0';
    if (count < kFloatTextBudget) {
        const int n = kFloatTextBudget - count;
        writeFractionDigits(std::fmod(value, 1.0) * std::pow(10.0, n), out, n);
    }
    copyText(text, buffer, maxLen);
}
