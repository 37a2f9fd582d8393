#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <stdexcept>

namespace evm {

// The one text-to-integer conversion of the program (edits, settings values, script fields):
// optional leading spaces (the space character only), optional '+' or '-', then decimal digits,
// or hexadecimal digits after "0x", "0X", "$", "x" or "X"; nothing may follow. Decimal must fit int32;
// hexadecimal at most eight significant digits, taken as a 32-bit pattern (FFFFFFFF is -1); sign applies after.
//
// Only the ASCII digits count. A leading zero never means octal (012 is twelve). The sign of a
// hexadecimal number negates the 32-bit pattern with wrap-around, so "-0x80000000" is INT32_MIN
// and "-0xFFFFFFFF" is 1.
std::optional<int32_t> parseInteger(QStringView text);

// Thrown by toInteger; what() / message() names the rejected text, e.g. "'0x12z' is not a valid integer value".
class ConversionError : public std::runtime_error
{
public:
    explicit ConversionError(const QString &text);
    QString message() const;

private:
    QString m_message;
};

int32_t toInteger(const QString &text); // parseInteger or throw ConversionError

// Upper-case hexadecimal of v taken as unsigned 32-bit, zero-padded to at least minDigits:
// hexText(5,4)=="0005", hexText(-1,4)=="FFFFFFFF".
QString hexText(uint32_t v, int minDigits);

// "0x" + register (>=2 hex digits) + ", 0x" + value (>=2 hex digits): the history, snapshot and script line form.
QString registerLine(uint32_t reg, uint32_t value);

} // namespace evm
