// SPDX-License-Identifier: GPL-3.0-or-later
#include "dbtext.h"

#include <QLocale>
#include <QTest>

#include <clocale>
#include <cmath>
#include <limits>

using namespace evm;

namespace {
constexpr int dacZero = 255;
constexpr int adcZero = 215;
} // namespace

class TestDbText : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dbText_data();
    void dbText();
    void dbTextNeverNegativeZero();
    void parseDb_data();
    void parseDb();
    void position_data();
    void position();
    void displayedTextTypedBackKeepsPosition();
};

void TestDbText::initTestCase()
{
    // A comma-decimal locale must change neither the text nor the parse.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_ALL, "de_DE.UTF-8");
}

void TestDbText::dbText_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("zeroDb");
    QTest::addColumn<QString>("text");

    QTest::newRow("DAC 250") << 250 << dacZero << "-2.5";
    QTest::newRow("DAC one step down") << 254 << dacZero << "-0.5";
    QTest::newRow("DAC 0 dB") << 255 << dacZero << "0.0";
    QTest::newRow("DAC bottom") << 0 << dacZero << "-127.5";
    QTest::newRow("ADC top") << 255 << adcZero << "20.0";
    QTest::newRow("ADC 0 dB") << 215 << adcZero << "0.0";
    QTest::newRow("ADC one step up") << 216 << adcZero << "0.5";
    QTest::newRow("ADC bottom") << 0 << adcZero << "-107.5";
}

void TestDbText::dbText()
{
    QFETCH(int, value);
    QFETCH(int, zeroDb);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(evm::dbText(value, zeroDb)), text);
}

void TestDbText::dbTextNeverNegativeZero()
{
    for (int zero : {dacZero, adcZero}) {
        for (int v = 0; v <= 255; ++v) {
            const QString text = QString::fromStdString(evm::dbText(v, zero));
            const double expected = (v - zero) * 0.5;
            QVERIFY2(!text.startsWith(u"-0.0"), qPrintable(text));
            QCOMPARE(QLocale::c().toDouble(text), expected);
            QCOMPARE(text.size() - text.indexOf(u'.'), 2); // exactly one decimal
        }
    }
}

void TestDbText::parseDb_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<float>("value");

    QTest::newRow("integer") << "-200" << true << -200.0f;
    QTest::newRow("fraction") << "-3.2" << true << -3.2f;
    QTest::newRow("two decimals") << "10.25" << true << 10.25f;
    QTest::newRow("plus sign") << "+3" << true << 3.0f;
    QTest::newRow("surrounding blanks") << " \t1.5 \t" << true << 1.5f;
    QTest::newRow("trailing point") << "5." << true << 5.0f;
    QTest::newRow("leading point") << ".5" << true << 0.5f;
    QTest::newRow("exponent") << "-2.5E-1" << true << -0.25f;
    QTest::newRow("exponent with zeros") << "1e0000000000000000000001" << true << 10.0f;
    QTest::newRow("underflow is zero") << "1e-50" << true << 0.0f;
    QTest::newRow("far underflow is zero") << "-0.001e-99999999999" << true << 0.0f;
    QTest::newRow("empty") << "" << false << 0.0f;
    QTest::newRow("blanks") << "  " << false << 0.0f;
    QTest::newRow("letters") << "abc" << false << 0.0f;
    QTest::newRow("unit") << "-3dB" << false << 0.0f;
    QTest::newRow("nan") << "nan" << false << 0.0f;
    QTest::newRow("inf") << "inf" << false << 0.0f;
    QTest::newRow("minus infinity") << "-infinity" << false << 0.0f;
    QTest::newRow("overflow") << "1e999" << false << 0.0f;
    QTest::newRow("beyond float") << "1e39" << false << 0.0f;
    QTest::newRow("comma separator") << "1,5" << false << 0.0f;
    QTest::newRow("blank inside") << "1 5" << false << 0.0f;
    QTest::newRow("hexadecimal") << "0x10" << false << 0.0f;
    QTest::newRow("two signs") << "+-1" << false << 0.0f;
    QTest::newRow("bare exponent") << "1e" << false << 0.0f;
    QTest::newRow("exponent sign only") << "1e+" << false << 0.0f;
    QTest::newRow("lone point") << "." << false << 0.0f;
    QTest::newRow("lone sign") << "-" << false << 0.0f;
    QTest::newRow("two points") << "1.2.3" << false << 0.0f;
    QTest::newRow("fullwidth digit") << QStringLiteral("\uFF15") << false << 0.0f;
}

void TestDbText::parseDb()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(float, value);

    const std::optional<float> result = evm::parseDb(text.toStdString());
    QCOMPARE(result.has_value(), valid);
    if (valid)
        QCOMPARE(*result, value);
}

void TestDbText::position_data()
{
    QTest::addColumn<float>("d");
    QTest::addColumn<int>("zeroDb");
    QTest::addColumn<int>("position");

    const float inf = std::numeric_limits<float>::infinity();
    QTest::newRow("DAC -200 clamps to bottom") << -200.0f << dacZero << 0;
    QTest::newRow("ADC 30 clamps to top") << 30.0f << adcZero << 255;
    QTest::newRow("DAC 5 clamps to 0 dB") << 5.0f << dacZero << 255;
    QTest::newRow("DAC -0.1 goes a step down") << -0.1f << dacZero << 254;
    QTest::newRow("DAC -3.2") << -3.2f << dacZero << 248;
    QTest::newRow("ADC 10.25") << 10.25f << adcZero << 235;
    QTest::newRow("DAC 0.2 stays") << 0.2f << dacZero << 255;
    QTest::newRow("ADC bottom exactly") << -107.5f << adcZero << 0;
    QTest::newRow("ADC below bottom") << -107.6f << adcZero << 0;
    QTest::newRow("negative zero") << -0.0f << dacZero << 255;
    QTest::newRow("just below a step") << -3.0000002f << dacZero << 248;
    QTest::newRow("tiny negative") << -1e-30f << dacZero << 254;
    QTest::newRow("plus infinity") << inf << adcZero << 255;
    QTest::newRow("minus infinity") << -inf << adcZero << 0;
    QTest::newRow("NaN is the most attenuation") << std::numeric_limits<float>::quiet_NaN() << dacZero << 0;
}

void TestDbText::position()
{
    QFETCH(float, d);
    QFETCH(int, zeroDb);
    QFETCH(int, position);
    QCOMPARE(dbToPosition(d, 0, 255, zeroDb), position);
}

void TestDbText::displayedTextTypedBackKeepsPosition()
{
    // Enter in an edit that shows the track bar's own text must not move the track bar.
    for (int zero : {dacZero, adcZero}) {
        for (int p = 0; p <= 255; ++p) {
            const std::optional<float> d = evm::parseDb(evm::dbText(p, zero));
            QVERIFY(d);
            QCOMPARE(dbToPosition(*d, 0, 255, zero), p);
        }
    }
}

QTEST_APPLESS_MAIN(TestDbText)
#include "tst_dbtext.moc"
