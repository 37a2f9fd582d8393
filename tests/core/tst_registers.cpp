// SPDX-License-Identifier: GPL-3.0-or-later
// The register model: the store rule, masks, defaults and read-back of the
// shadow, and the bit names derived from the field table.
#include "registers.h"
#include "shadow.h"

#include <QTest>

using evm::RegisterShadow;

class TestRegisters : public QObject
{
    Q_OBJECT
private slots:
    void storeRule_data();
    void storeRule();
    void storeOutsideRegistersChangesNothing_data();
    void storeOutsideRegistersChangesNothing();
    void defaults();
    void readBack_data();
    void readBack();
    void bitNames_data();
    void bitNames();
    void everyBitNamedOnce();
};

static RegisterShadow loadedShadow()
{
    RegisterShadow s;
    s.fillReadableMask();
    s.resetToDefaults();
    return s;
}

void TestRegisters::storeRule_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("mapRow");
    QTest::addColumn<int>("mapValue");
    QTest::newRow("0x40 keeps its triggers set") << 0x40 << 0x01 << 0xC1 << 0 << 0xC1;
    QTest::newRow("0x40 bits 5..2 kept, map shows 0xC0") << 0x40 << 0x3C << 0xFC << 0 << 0xC0;
    QTest::newRow("0x40 MRST written 0") << 0x40 << 0x7F << 0xFF << 0 << 0xC3;
    QTest::newRow("0x40 reset write") << 0x40 << 0x40 << 0xC0 << 0 << 0xC0;
    QTest::newRow("0x45 flags never kept") << 0x45 << 0xFF << 0x00 << 5 << 0xFF;
    QTest::newRow("0x56 overflow flags never kept") << 0x56 << 0xFF << 0xC0 << 22 << 0xFF;
    QTest::newRow("plain register") << 0x46 << 0x0A << 0x0A << 6 << 0x0A;
    QTest::newRow("above 0xFF keeps the low byte") << 0x41 << 0x1FF << 0xFF << 1 << 0xFF;
    QTest::newRow("last register") << 0x5E << 0x12 << 0x12 << 30 << 0x12;
}

void TestRegisters::storeRule()
{
    QFETCH(int, reg);
    QFETCH(int, value);
    QFETCH(int, stored);
    QFETCH(int, mapRow);
    QFETCH(int, mapValue);
    RegisterShadow s = loadedShadow();
    const auto before = s.bytes;
    const auto shown = s.store(reg, value);
    QVERIFY(shown.has_value());
    QCOMPARE(shown->row, mapRow);
    QCOMPARE(int(shown->value), mapValue);
    QCOMPARE(int(s.byte(reg)), stored);
    for (int i = 0; i < evm::ShadowSize; ++i)
        if (i != reg - 0x40)
            QCOMPARE(s.bytes[i], before[i]);
}

void TestRegisters::storeOutsideRegistersChangesNothing_data()
{
    QTest::addColumn<qint64>("reg");
    QTest::newRow("0x3F") << qint64(0x3F);
    QTest::newRow("0x5F, the unused entry") << qint64(0x5F);
    QTest::newRow("0") << qint64(0);
    QTest::newRow("huge") << qint64(0xFFFFFFFFu);
}

void TestRegisters::storeOutsideRegistersChangesNothing()
{
    QFETCH(qint64, reg);
    RegisterShadow s = loadedShadow();
    s.bytes[31] = 0x5A;
    const auto before = s.bytes;
    QVERIFY(!s.store(static_cast<uint32_t>(reg), 0x77).has_value());
    QCOMPARE(s.bytes, before);
}

void TestRegisters::defaults()
{
    RegisterShadow s;
    s.bytes.fill(0x33);
    s.fillReadableMask();
    s.resetToDefaults();
    for (int reg = 0x40; reg <= 0x5E; ++reg) {
        const int expected = reg == 0x40 ? 0xC0 : (reg >= 0x47 && reg <= 0x4F) ? 0xFF : reg >= 0x58 ? 0xD7 : 0x00;
        QCOMPARE(int(s.byte(reg)), expected);
    }
    QCOMPARE(int(s.bytes[31]), 0x33); // entry 31 is never touched
    QCOMPARE(int(s.mask[0]), 0x3F);
    QCOMPARE(int(s.mask[5]), 0x00);
    QCOMPARE(int(s.mask[22]), 0xC0);
    QCOMPARE(int(s.mask[31]), 0xFF);
}

void TestRegisters::readBack_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("chip");
    QTest::addColumn<int>("stored");
    QTest::newRow("0x40 keeps bits 5..0, forces 7 and 6") << 0x40 << 0x15 << 0xD5;
    QTest::newRow("0x40 chip returning 0") << 0x40 << 0x00 << 0xC0;
    QTest::newRow("0x45 stores 0") << 0x45 << 0xFF << 0x00;
    QTest::newRow("0x56 keeps bits 7 and 6") << 0x56 << 0xFF << 0xC0;
    QTest::newRow("0x47 as read") << 0x47 << 0x80 << 0x80;
}

void TestRegisters::readBack()
{
    QFETCH(int, reg);
    QFETCH(int, chip);
    QFETCH(int, stored);
    RegisterShadow s;
    s.fillReadableMask();
    s.storeReadBack(reg - 0x40, chip);
    s.finishReadBack();
    QCOMPARE(int(s.byte(reg)), stored);
}

void TestRegisters::bitNames_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<QString>("names");
    QTest::newRow("0x40") << 0x40 << "MRST SRST - - - - SRDA1 SRDA0";
    QTest::newRow("0x41") << 0x41 << "PSMDA MSDA2 MSDA1 MSDA0 FMTDA3 FMTDA2 FMTDA1 FMTDA0";
    QTest::newRow("0x42") << 0x42 << "OPEDA3 OPEDA2 OPEDA1 OPEDA0 FLT3 FLT2 FLT1 FLT0";
    QTest::newRow("0x45") << 0x45 << "ZERO8 ZERO7 ZERO6 ZERO5 ZERO4 ZERO3 ZERO2 ZERO1";
    QTest::newRow("0x46") << 0x46 << "ATMDDA ATSPDA DEMP1 DEMP0 AZRO2 AZRO1 AZRO0 ZREV";
    QTest::newRow("0x47") << 0x47 << "ATDA07 ATDA06 ATDA05 ATDA04 ATDA03 ATDA02 ATDA01 ATDA00";
    QTest::newRow("0x4F") << 0x4F << "ATDA87 ATDA86 ATDA85 ATDA84 ATDA83 ATDA82 ATDA81 ATDA80";
    QTest::newRow("0x51") << 0x51 << "- MSAD2 MSAD1 MSAD0 - FMTAD2 FMTAD1 FMTAD0";
    QTest::newRow("0x52") << 0x52 << "- PSVAD2 PSVAD1 PSVAD0 - BYP2 BYP1 BYP0";
    QTest::newRow("0x53") << 0x53 << "- - SEAD6 SEAD5 SEAD4 SEAD3 SEAD2 SEAD1";
    QTest::newRow("0x56") << 0x56 << "- - OVF6 OVF5 OVF4 OVF3 OVF2 OVF1";
    QTest::newRow("0x57") << 0x57 << "ATMDAD ATSPAD - - - - - OVFP";
    QTest::newRow("0x5E") << 0x5E << "ATAD67 ATAD66 ATAD65 ATAD64 ATAD63 ATAD62 ATAD61 ATAD60";
}

void TestRegisters::bitNames()
{
    QFETCH(int, reg);
    QFETCH(QString, names);
    const auto &row = evm::registerBitNames()[reg - 0x40];
    QStringList texts;
    for (const std::string &name : row)
        texts << QString::fromStdString(name);
    QCOMPARE(texts.join(QLatin1Char(' ')), names);
}

void TestRegisters::everyBitNamedOnce()
{
    // Fields never overlap, so no bit gets two names, and row 31 stays empty.
    QSet<QString> seen;
    for (int r = 0; r < evm::RegisterCount; ++r) {
        int used = 0;
        for (const auto &f : evm::registerFields())
            if (f.reg == 0x40 + r)
                for (int b = f.shift; b < f.shift + f.width; ++b) {
                    QVERIFY2(!(used & (1 << b)), qPrintable(QStringLiteral("bit %1 of 0x%2 twice").arg(b).arg(0x40 + r, 0, 16)));
                    used |= 1 << b;
                }
        for (const std::string &bitName : evm::registerBitNames()[r])
            if (const QString n = QString::fromStdString(bitName); n != QLatin1String("-")) {
                QVERIFY2(!seen.contains(n), qPrintable(n));
                seen.insert(n);
                QVERIFY(n.size() <= 6);
            }
    }
    for (const std::string &n : evm::registerBitNames()[31])
        QVERIFY(n.empty());
    QVERIFY(evm::findField("demp") && evm::findField("demp")->reg == 0x46);
    QVERIFY(!evm::findField("NOPE"));
}

QTEST_GUILESS_MAIN(TestRegisters)
#include "tst_registers.moc"
