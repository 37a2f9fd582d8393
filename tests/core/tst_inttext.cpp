// SPDX-License-Identifier: GPL-3.0-or-later
#include "fieldmath.h"
#include "inttext.h"

#include <QTest>

#include <limits>

using namespace evm;

class TestIntText : public QObject
{
    Q_OBJECT

private slots:
    void parseInteger_data();
    void parseInteger();
    void toIntegerNamesRejectedText();
    void hexText_data();
    void hexText();
    void registerLine();
    void fieldArithmetic_data();
    void fieldArithmetic();
    void keepMaskIsComplementOfField();
    void setBit();
};

void TestIntText::parseInteger_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");

    constexpr int min = std::numeric_limits<int32_t>::min();
    constexpr int max = std::numeric_limits<int32_t>::max();

    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("decimal") << "65" << true << 65;
    QTest::newRow("leading zero is not octal") << "012" << true << 12;
    QTest::newRow("0x") << "0x41" << true << 0x41;
    QTest::newRow("0X") << "0X41" << true << 0x41;
    QTest::newRow("$") << "$41" << true << 0x41;
    QTest::newRow("x") << "x41" << true << 0x41;
    QTest::newRow("X") << "X41" << true << 0x41;
    QTest::newRow("mixed-case digits") << "0xaBcD" << true << 0xABCD;
    QTest::newRow("padded hex") << "0x000000FF" << true << 0xFF;
    QTest::newRow("plus") << "+5" << true << 5;
    QTest::newRow("minus") << "-5" << true << -5;
    QTest::newRow("minus hex") << "-0x10" << true << -16;
    QTest::newRow("plus dollar") << "+$10" << true << 16;
    QTest::newRow("minus x") << "-x10" << true << -16;
    QTest::newRow("leading spaces") << "   7" << true << 7;
    QTest::newRow("spaces then sign") << "  -0x7" << true << -7;
    QTest::newRow("int32 max") << "2147483647" << true << max;
    QTest::newRow("int32 max with plus") << "+2147483647" << true << max;
    QTest::newRow("int32 min") << "-2147483648" << true << min;
    QTest::newRow("zeros before max") << "000000000002147483647" << true << max;
    QTest::newRow("one past max") << "2147483648" << false << 0;
    QTest::newRow("one past min") << "-2147483649" << false << 0;
    QTest::newRow("far too long") << "99999999999999999999999" << false << 0;
    QTest::newRow("eight F") << "0xFFFFFFFF" << true << -1;
    QTest::newRow("top bit") << "0x80000000" << true << min;
    QTest::newRow("negated eight F") << "-0xFFFFFFFF" << true << 1;
    QTest::newRow("negated top bit") << "-$80000000" << true << min;
    QTest::newRow("zeros are not significant") << "0x00000000FFFFFFFF" << true << -1;
    QTest::newRow("nine hex digits") << "0x100000000" << false << 0;
    QTest::newRow("trailing junk") << "0x12z" << false << 0;
    QTest::newRow("decimal then letter") << "12a" << false << 0;
    QTest::newRow("fraction") << "1.5" << false << 0;
    QTest::newRow("exponent") << "1e3" << false << 0;
    QTest::newRow("trailing blank") << "5 " << false << 0;
    QTest::newRow("blank after sign") << "- 5" << false << 0;
    QTest::newRow("blank after prefix") << "0x 5" << false << 0;
    QTest::newRow("leading tab") << "\t5" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("only spaces") << "   " << false << 0;
    QTest::newRow("lone 0x") << "0x" << false << 0;
    QTest::newRow("lone $") << "$" << false << 0;
    QTest::newRow("lone x") << "x" << false << 0;
    QTest::newRow("lone sign") << "-" << false << 0;
    QTest::newRow("two signs") << "+-1" << false << 0;
    QTest::newRow("sign after prefix") << "0x-1" << false << 0;
    QTest::newRow("double prefix") << "$0x1" << false << 0;
    QTest::newRow("binary prefix") << "0b101" << false << 0;
    QTest::newRow("non-ASCII digits") << QStringLiteral("\u0661\u0662") << false << 0;
    QTest::newRow("fullwidth digits") << QStringLiteral("\uFF11\uFF12") << false << 0;
    QTest::newRow("NUL after digits") << QString::fromLatin1("12\0", 3) << false << 0;
}

void TestIntText::parseInteger()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);

    const std::optional<int32_t> result = evm::parseInteger(text.toStdString());
    QCOMPARE(result.has_value(), valid);
    if (valid)
        QCOMPARE(*result, value);
}

void TestIntText::toIntegerNamesRejectedText()
{
    QCOMPARE(toInteger("$44"), 0x44);
    try {
        toInteger("0x12z");
        QFAIL("no exception for 0x12z");
    } catch (const ConversionError &e) {
        QCOMPARE(QString::fromStdString(e.message()), QStringLiteral("'0x12z' is not a valid integer value"));
        QCOMPARE(QString::fromUtf8(e.what()), QString::fromStdString(e.message()));
    }
    QVERIFY_THROWS_EXCEPTION(ConversionError, toInteger(std::string()));
    // A NUL in the text stays in the message (what() is a C string and ends there).
    const std::string withNul("12\0z", 4);
    try {
        toInteger(withNul);
        QFAIL("no exception for a text holding NUL");
    } catch (const ConversionError &e) {
        QCOMPARE(e.message(), "'" + withNul + "' is not a valid integer value");
    }
}

void TestIntText::hexText_data()
{
    QTest::addColumn<uint>("value");
    QTest::addColumn<int>("minDigits");
    QTest::addColumn<QString>("text");

    QTest::newRow("padded code") << 5u << 4 << "0005";
    QTest::newRow("negative code") << uint(-1) << 4 << "FFFFFFFF";
    QTest::newRow("upper case, two digits") << 0x0Au << 2 << "0A";
    QTest::newRow("longer than minimum") << 0x1FFu << 2 << "1FF";
    QTest::newRow("zero") << 0u << 2 << "00";
}

void TestIntText::hexText()
{
    QFETCH(uint, value);
    QFETCH(int, minDigits);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(evm::hexText(value, minDigits)), text);
}

void TestIntText::registerLine()
{
    QCOMPARE(QString::fromStdString(evm::registerLine(0x46, 0x0A)), QStringLiteral("0x46, 0x0A"));
    QCOMPARE(QString::fromStdString(evm::registerLine(0x41, 0x1FF)), QStringLiteral("0x41, 0x1FF"));
    QCOMPARE(QString::fromStdString(evm::registerLine(0x5, 0x0)), QStringLiteral("0x05, 0x00"));
}

void TestIntText::fieldArithmetic_data()
{
    QTest::addColumn<int>("shift");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("keep");
    QTest::addColumn<int>("old");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("merged");

    QTest::newRow("DAC master/slave 5") << 4 << 3 << 0x8F << 0x83 << 5 << 0xD3;
    QTest::newRow("DAC master/slave slave") << 4 << 3 << 0x8F << 0xD3 << 0 << 0x83;
    QTest::newRow("de-emphasis 32kHz") << 4 << 2 << 0xCF << 0x81 << 3 << 0xB1;
    QTest::newRow("zero function 5") << 1 << 3 << 0xF1 << 0x00 << 5 << 0x0A;
    QTest::newRow("DAC format, shift 0") << 0 << 4 << 0xF0 << 0xA5 << 9 << 0xA9;
    QTest::newRow("sample rate keeps reset bits") << 0 << 2 << 0xFC << 0xC0 << 2 << 0xC2;
    QTest::newRow("single bit 3") << 3 << 1 << 0xF7 << 0xFF << 0 << 0xF7;
    QTest::newRow("top bit, field ends at 8") << 7 << 1 << 0x7F << 0x01 << 1 << 0x81;
    QTest::newRow("whole byte") << 0 << 8 << 0x00 << 0x5A << 0xA5 << 0xA5;
}

void TestIntText::fieldArithmetic()
{
    QFETCH(int, shift);
    QFETCH(int, width);
    QFETCH(int, keep);
    QFETCH(int, old);
    QFETCH(int, value);
    QFETCH(int, merged);

    QCOMPARE(int(keepMask(shift, width)), keep);
    const uint8_t result = mergeField(uint8_t(old), shift, width, value);
    QCOMPARE(int(result), merged);
    QCOMPARE(fieldValue(result, shift, width), value);
}

void TestIntText::keepMaskIsComplementOfField()
{
    static_assert(keepMask(0, 8) == 0 && fieldMask(8) == 0xFF, "usable in constant expressions");
    for (int width = 1; width <= 8; ++width) {
        for (int shift = 0; shift + width <= 8; ++shift) {
            const int field = (fieldMask(width) << shift) & 0xFF;
            QCOMPARE(keepMask(shift, width), uint8_t(~field & 0xFF));
            QCOMPARE(fieldValue(0xFF, shift, width), int(fieldMask(width)));
            QCOMPARE(fieldValue(uint8_t(~field), shift, width), 0);
        }
    }
}

void TestIntText::setBit()
{
    QCOMPARE(evm::setBit(0x00, 2, true), uint8_t(0x04));
    QCOMPARE(evm::setBit(0x04, 2, false), uint8_t(0x00));
    QCOMPARE(evm::setBit(0xFF, 7, false), uint8_t(0x7F));
    QCOMPARE(evm::setBit(0x7F, 7, true), uint8_t(0xFF));
    QCOMPARE(evm::setBit(0x81, 0, true), uint8_t(0x81));
}

QTEST_APPLESS_MAIN(TestIntText)
#include "tst_inttext.moc"
