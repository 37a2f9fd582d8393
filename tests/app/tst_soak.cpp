// SPDX-License-Identifier: GPL-3.0-or-later
// A long run of the real window over the simulated board: 200 000 reads through the
// direct-access Read, and the process's memory stays where it was.
#include "fixture.h"
#include "main.h"

#include <QFile>
#include <QtTest>

#if defined(__SANITIZE_ADDRESS__)
// Freed memory must come back to be reused, not wait in the sanitizer's quarantine, or the
// process grows with every allocation whatever the program keeps.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
}
#endif

namespace {

qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void readsLeaveMemoryFlat();
};

void TestSoak::readsLeaveMemoryFlat()
{
    AppFixture fx;
    fx.create_and_show();
    QVERIFY(fx.form->boardPort() != 0);
    auto reads = [&](int n) {
        for (int i = 0; i < n; ++i)
            fx.form->ReadClick();
    };
    reads(30000); // the board's call log reaches its bound
    const qint64 before = residentBytes();
    QVERIFY(before > 0);
    reads(200000);
    const qint64 grown = residentBytes() - before;
    QVERIFY2(grown < 1024 * 1024, qPrintable(QStringLiteral("grew by %1 bytes over 200 000 reads").arg(grown)));
    QCOMPARE(fx.sim.log().last(), QStringLiteral("_readData(channel=0, reg=0x40) = 0 value=0xC0"));
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
