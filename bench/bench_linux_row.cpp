// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux board library's row: evm5170-bench-linux runs as a process of its own, since it
// runs under umockdev's preload.
#include "bench.h"

#include <QProcess>

BenchRows benchLinuxBoard(const QString &childPath)
{
    BenchRow row;
    row.what = QStringLiteral("One register read through libOstrelLinux.so, emulated /dev/i2c-1 (median of 21 rounds of 200)");
    row.target = QStringLiteral("≤ 1.2 × baseline");
    QProcess child;
    child.start(childPath, {});
    const QList<QByteArray> figures = child.waitForFinished(120000) && child.exitCode() == 0
                                          ? child.readAllStandardOutput().trimmed().split(' ')
                                          : QList<QByteArray>();
    if (figures.size() != 2) {
        row.figure = QStringLiteral("failed");
        row.baseline = QString::fromLocal8Bit(child.readAllStandardError().trimmed());
        return {row};
    }
    const double library = figures[0].toDouble();
    const double bare = figures[1].toDouble();
    row.figure = QStringLiteral("%1 (%2)").arg(formatNs(library), formatRatio(library / bare));
    row.baseline = QStringLiteral("the bare libi2c call, same device: %1").arg(formatNs(bare));
    row.met = library <= 1.2 * bare;
    return {row};
}
