// SPDX-License-Identifier: GPL-3.0-or-later
// The integer conversion of edits, settings values and script fields.
#include "check.h"
#include "inttext.h"

#include <cstdint>
#include <optional>

using evm::parseInteger;

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// The value a text of the plain form spaces, sign, decimal digits must have, computed the long
// way round in 64 bits; nullopt when the text is not of that form or does not fit int32.
std::optional<int32_t> plainDecimal(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    if (i == text.size())
        return std::nullopt;
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!isAsciiDigit(text[i]))
            return std::nullopt;
        magnitude = magnitude * 10 + (text[i].unicode() - u'0');
        if (magnitude > (int64_t(1) << 31))
            return std::nullopt;
    }
    const int64_t v = negative ? -magnitude : magnitude;
    if (v < INT32_MIN || v > INT32_MAX)
        return std::nullopt;
    return int32_t(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const QString text = fuzzText(data, size);
    const ExactBytes exact(bytes);
    const std::optional<int32_t> v = parseInteger(exact.view());

    // toInteger agrees, and a rejection names the text.
    try {
        const int32_t t = evm::toInteger(bytes);
        FUZZ_CHECK(v && *v == t, text);
    } catch (const evm::ConversionError &e) {
        FUZZ_CHECK(!v, text);
        FUZZ_CHECK(e.message().find(bytes) != std::string::npos, utf8(e.message()));
    }

    if (const auto plain = plainDecimal(latin1(bytes))) {
        FUZZ_CHECK(v && *v == *plain, QStringLiteral("%1 should read as %2").arg(text).arg(*plain));
    }

    if (!v) {
        // Leading spaces never turn a rejected text into a number.
        FUZZ_CHECK(!parseInteger("  " + bytes), text);
        return 0;
    }

    // A success round-trips through decimal and through the 32-bit hexadecimal pattern the
    // program writes (settings "Addr", history lines).
    const int32_t value = *v;
    FUZZ_CHECK(parseInteger(std::to_string(value)) == value, text);
    FUZZ_CHECK(parseInteger("0x" + evm::hexText(uint32_t(value), 8)) == value, text);
    FUZZ_CHECK(parseInteger("$" + evm::hexText(uint32_t(value), 2)) == value, text);
    const QString hex = utf8(evm::hexText(uint32_t(value), 4));
    FUZZ_CHECK(hex.size() >= 4 && hex.size() <= 8 && hex == hex.toUpper(), hex);

    // Nothing may follow the digits; spaces may lead.
    FUZZ_CHECK(!parseInteger(bytes + ' '), text);
    FUZZ_CHECK(!parseInteger(bytes + 'g'), text);
    FUZZ_CHECK(parseInteger(' ' + bytes) == value, text);
    return 0;
}
