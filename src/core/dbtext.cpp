// SPDX-License-Identifier: GPL-3.0-or-later
#include "dbtext.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

namespace evm {

std::string dbText(int value, int zeroDb)
{
    // The steps are half dB, so integer arithmetic gives the text exactly: no rounding, no
    // locale, and a zero difference can only come out as "0.0".
    const int64_t halfSteps = int64_t(value) - zeroDb;
    const int64_t magnitude = halfSteps < 0 ? -halfSteps : halfSteps;
    std::string text = halfSteps < 0 ? "-" : "";
    text += std::to_string(magnitude / 2);
    text += magnitude % 2 ? ".5" : ".0";
    return text;
}

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

std::optional<float> parseDb(std::string_view text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;

    // Checked here character by character, so the conversion below sees plain ASCII in the C form
    // and nothing it might read as "inf", "nan" or a hexadecimal float.
    std::string ascii;
    ascii.reserve(size_t(end - begin));
    size_t i = begin;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-')
            ascii += '-';
        ++i;
    }

    bool significantSeen = false;
    size_t digits = 0;
    int64_t integerDigits = 0;
    int64_t fractionZeros = 0;
    for (; i < end && isDigit(text[i]); ++i, ++digits) {
        ascii += text[i];
        if (significantSeen || text[i] != '0') {
            significantSeen = true;
            ++integerDigits;
        }
    }
    if (i < end && text[i] == '.') {
        ascii += '.';
        for (++i; i < end && isDigit(text[i]); ++i, ++digits) {
            ascii += text[i];
            if (!significantSeen) {
                if (text[i] == '0')
                    ++fractionZeros;
                else
                    significantSeen = true;
            }
        }
    }
    if (digits == 0)
        return std::nullopt;
    // Decimal exponent of the first significant digit, kept to tell an underflow from an overflow.
    const int64_t leadExponent = integerDigits > 0 ? integerDigits - 1 : -(fractionZeros + 1);

    int64_t exponent = 0;
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        ascii += 'e';
        ++i;
        bool negativeExponent = false;
        if (i < end && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            ascii += text[i];
            ++i;
        }
        int exponentDigits = 0;
        for (; i < end && isDigit(text[i]); ++i, ++exponentDigits) {
            ascii += text[i];
            if (exponent < 1'000'000)
                exponent = exponent * 10 + (text[i] - '0');
        }
        if (exponentDigits == 0)
            return std::nullopt;
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != end)
        return std::nullopt;

    float value = 0.0f;
    const auto [ptr, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Too small for a float is still a number, and it is zero; too large is not.
        if (significantSeen && leadExponent + exponent < 0)
            return ascii.front() == '-' ? -0.0f : 0.0f;
        return std::nullopt;
    }
    if (ec != std::errc() || ptr != ascii.data() + ascii.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

int dbToPosition(float d, int minimum, int maximum, int zeroDb)
{
    if (std::isnan(d))
        return minimum;
    const float low = float(int64_t(minimum) - zeroDb) * 0.5f;
    const float high = float(int64_t(maximum) - zeroDb) * 0.5f;
    if (d > high)
        d = high;
    if (d < low)
        d = low;

    // d*2 is exact in float; splitting it into whole steps and a fraction keeps the sum with zeroDb
    // exact too, where a floating-point sum could round a value just below a step up onto it.
    const float twice = d * 2.0f;
    const float whole = std::floor(twice);
    const bool fractional = twice != whole;
    int64_t position = int64_t(zeroDb) + int64_t(whole);
    if (position < 0 && fractional)
        ++position; // truncation toward zero, not down, for a negative sum
    // The float bounds are exact for any realistic range; this only guards absurd ones.
    if (position < minimum)
        position = minimum;
    if (position > maximum)
        position = maximum;
    return int(position);
}

} // namespace evm
