// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace evm {

// The one text-to-integer conversion of the program (edits, settings values, script fields, and
// the board libraries' own settings): optional leading spaces (the space character only),
// optional '+' or '-', then decimal digits, or hexadecimal digits after "0x", "0X", "$", "x" or
// "X"; nothing may follow. Decimal must fit int32; hexadecimal at most eight significant digits,
// taken as a 32-bit pattern (FFFFFFFF is -1); sign applies after.
//
// Only the ASCII digits count, so UTF-8 text is taken byte by byte: any other character, a
// byte of a multi-byte sequence included, makes the text no number. A leading zero never means
// octal (012 is twelve). The sign of a hexadecimal number negates the 32-bit pattern with
// wrap-around, so "-0x80000000" is INT32_MIN and "-0xFFFFFFFF" is 1.
std::optional<int32_t> parseInteger(std::string_view text);

// Thrown by toInteger; what() / message() names the rejected text, e.g. "'0x12z' is not a valid integer value".
class ConversionError : public std::runtime_error
{
public:
    explicit ConversionError(std::string_view text);
    // The whole message; what() ends at a NUL the rejected text may hold.
    const std::string &message() const { return m_message; }

private:
    std::string m_message;
};

int32_t toInteger(std::string_view text); // parseInteger or throw ConversionError

// Upper-case hexadecimal of v taken as unsigned 32-bit, zero-padded to at least minDigits:
// hexText(5,4)=="0005", hexText(-1,4)=="FFFFFFFF".
std::string hexText(uint32_t v, int minDigits);

// "0x" + register (>=2 hex digits) + ", 0x" + value (>=2 hex digits): the history, snapshot and script line form.
std::string registerLine(uint32_t reg, uint32_t value);

// The text without the blanks at either end that isBlank names: the one trim of the program
// and its board libraries. Their blanks are the ASCII ones (space, tab, LF, VT, FF, CR); the
// instrument's protocol has its own (every byte up to 0x20).
constexpr bool isAsciiBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
template <class IsBlank>
constexpr std::string_view trimmed(std::string_view text, IsBlank isBlank)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}
constexpr std::string_view trimmed(std::string_view text)
{
    return trimmed(text, isAsciiBlank);
}

} // namespace evm
