// SPDX-License-Identifier: GPL-3.0-or-later
// A 100 000-line register script run with the progress window shown, each run in a process of
// its own so that its peak memory is its own.
#include "bench.h"
#include "bench_session.h"

#include "main.h"
#include "script.h"
#include "textfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kLines = 100000;

// Kilobytes of a /proc/self/status field (VmRSS, VmHWM).
long statusKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field)) + 1).trimmed().split(' ').value(0).toLong();
    return -1;
}

// The peak-memory mark starts again from the memory in use now.
void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

} // namespace

int runScriptChild(const QString &path)
{
    BenchSession s;
    const long before = statusKb("VmRSS:");
    resetPeak();
    const double ns = timeNs([&] { s.fx.form->RunScript(path, true); });
    const long peak = statusKb("VmHWM:");
    // The run must have gone to its end: the last line's value is in the shadow.
    const bool complete = s.fx.form->shadow.byte(0x5E) == 0x5A && s.fx.seam.count(QStringLiteral("box")) == 0;
    std::printf("%.0f %ld %ld %d\n", ns, before, peak, complete ? 1 : 0);
    return 0;
}

BenchRows benchScript(const QString &selfPath, int runs)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.csv"));
    QByteArray text;
    for (int i = 0; i < kLines - 1; ++i)
        text += QStringLiteral("0x%1, 0x%2\r\n")
                    .arg(0x41 + i % 30, 2, 16, QLatin1Char('0'))
                    .arg((i * 37) & 0xFF, 2, 16, QLatin1Char('0'))
                    .toUpper()
                    .replace(QStringLiteral("0X"), QStringLiteral("0x"))
                    .toLatin1();
    text += "0x5E, 0x5A\r\n";
    evm::saveWholeFile(path.toStdString(), text.toStdString());
    const double fileMiB = double(text.size()) / (1 << 20);

    QList<double> times, dry;
    long worstGrowthKb = 0, worstPeakKb = 0;
    bool complete = true;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        child.start(selfPath, {QStringLiteral("--script-child"), path});
        if (!child.waitForFinished(120000) || child.exitCode() != 0)
            qFatal("the script child failed: %s", child.readAllStandardError().constData());
        const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split('\n').last().split(' ');
        times << f.value(0).toDouble();
        const long before = f.value(1).toLong(), peak = f.value(2).toLong();
        worstGrowthKb = std::max(worstGrowthKb, peak - before);
        worstPeakKb = std::max(worstPeakKb, peak);
        complete = complete && f.value(3) == "1";

        // The floor: reading, splitting and parsing the same file, with nothing written.
        dry << timeNs([&] {
            std::string bytes;
            evm::readWholeFile(path.toStdString(), bytes);
            evm::runScriptLines(evm::splitScriptLines(bytes), evm::ScriptSink{});
        });
    }
    const double t = median(times);
    const double growthMiB = worstGrowthKb / 1024.0;
    const double limitMiB = 3 * fileMiB + 50;

    BenchRow r;
    r.what = QStringLiteral("A %1-line register script, progress window shown (median of %2 processes)").arg(kLines).arg(runs);
    r.figure = formatNs(t) + (complete ? QString() : QStringLiteral(", DID NOT COMPLETE"));
    r.target = QStringLiteral("≤ 0.5 s");
    r.baseline = QStringLiteral("read, split and parse the file, no writes: %1").arg(formatNs(median(dry)));
    r.met = complete && t <= 0.5e9;
    BenchRow m;
    m.what = QStringLiteral("its peak memory above the memory in use before the run (file %1 MiB)").arg(fileMiB, 0, 'f', 2);
    m.figure = QStringLiteral("%1 MiB").arg(growthMiB, 0, 'f', 1);
    m.target = QStringLiteral("≤ 3 × file + 50 MiB = %1 MiB").arg(limitMiB, 0, 'f', 1);
    m.baseline = QStringLiteral("whole process peak: %1 MiB").arg(worstPeakKb / 1024.0, 0, 'f', 1);
    m.met = growthMiB <= limitMiB;
    return {r, m};
}
