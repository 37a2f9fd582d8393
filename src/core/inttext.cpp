#include "inttext.h"

namespace evm {

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

bool isDecimalDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

} // namespace

std::optional<int32_t> parseInteger(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;

    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }

    bool hex = false;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        hex = true;
        i += 1;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
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
        magnitude = magnitude * 10 + (text[i].unicode() - u'0');
        if (magnitude > limit)
            return std::nullopt;
    }
    if (negative)
        return int32_t(-magnitude);
    if (magnitude == limit)
        return std::nullopt;
    return int32_t(magnitude);
}

ConversionError::ConversionError(const QString &text)
    : std::runtime_error(QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString())
    , m_message(QStringLiteral("'%1' is not a valid integer value").arg(text))
{
}

QString ConversionError::message() const
{
    return m_message;
}

int32_t toInteger(const QString &text)
{
    const std::optional<int32_t> v = parseInteger(text);
    if (!v)
        throw ConversionError(text);
    return *v;
}

QString hexText(uint32_t v, int minDigits)
{
    return QString::number(v, 16).toUpper().rightJustified(minDigits, u'0');
}

QString registerLine(uint32_t reg, uint32_t value)
{
    return QStringLiteral("0x") + hexText(reg, 2) + QStringLiteral(", 0x") + hexText(value, 2);
}

} // namespace evm
