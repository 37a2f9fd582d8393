// SPDX-License-Identifier: GPL-3.0-or-later
#include "inttext.h"

namespace evm {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isDecimalDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<int32_t> parseInteger(std::string_view text)
{
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && text[i] == ' ')
        ++i;

    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    bool hex = false;
    if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        i += 1;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }

    if (i == n)
        return std::nullopt; // no digit at all: "", "-", "0x", "$"

    if (hex) {
        uint32_t pattern = 0;
        int significant = 0;
        for (; i < n; ++i) {
            const int d = hexDigit(text[i]);
            if (d < 0)
                return std::nullopt;
            if (significant > 0 || d != 0)
                ++significant;
            if (significant > 8)
                return std::nullopt;
            pattern = (pattern << 4) | uint32_t(d);
        }
        // Negating the pattern in unsigned arithmetic keeps the wrap-around defined.
        return int32_t(negative ? 0u - pattern : pattern);
    }

    // Accumulate the magnitude in 64 bits; anything beyond 2^31 cannot fit either way, so stop there.
    constexpr int64_t limit = int64_t(1) << 31;
    int64_t magnitude = 0;
    for (; i < n; ++i) {
        if (!isDecimalDigit(text[i]))
            return std::nullopt;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit)
            return std::nullopt;
    }
    if (negative)
        return int32_t(-magnitude);
    if (magnitude == limit)
        return std::nullopt;
    return int32_t(magnitude);
}

ConversionError::ConversionError(std::string_view text)
    : std::runtime_error("'" + std::string(text) + "' is not a valid integer value")
    , m_message("'" + std::string(text) + "' is not a valid integer value")
{
}

int32_t toInteger(std::string_view text)
{
    const std::optional<int32_t> v = parseInteger(text);
    if (!v)
        throw ConversionError(text);
    return *v;
}

std::string hexText(uint32_t v, int minDigits)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), digits[v & 0xF]);
        v >>= 4;
    } while (v != 0);
    if (int(text.size()) < minDigits)
        text.insert(0, size_t(minDigits) - text.size(), '0');
    return text;
}

std::string registerLine(uint32_t reg, uint32_t value)
{
    return "0x" + hexText(reg, 2) + ", 0x" + hexText(value, 2);
}

} // namespace evm
