// SPDX-License-Identifier: GPL-3.0-or-later
// make bench: every figure beside its target and beside a baseline measured in the same run.
#include "bench.h"

#include <QApplication>
#include <QDir>
#include <QSysInfo>
#include <QThread>

#include <cstdio>

QString formatNs(double ns)
{
    if (ns < 1e3)
        return QStringLiteral("%1 ns").arg(ns, 0, 'f', 0);
    if (ns < 1e6)
        return QStringLiteral("%1 µs").arg(ns / 1e3, 0, 'f', ns < 1e4 ? 2 : 1);
    if (ns < 1e9)
        return QStringLiteral("%1 ms").arg(ns / 1e6, 0, 'f', ns < 1e7 ? 2 : 1);
    return QStringLiteral("%1 s").arg(ns / 1e9, 0, 'f', 3);
}

QString formatRatio(double r)
{
    return QStringLiteral("%1 ×").arg(r, 0, 'f', 2);
}

namespace {

void printTable(const QString &title, const BenchRows &rows, bool withTarget)
{
    std::printf("\n%s\n\n", qPrintable(title));
    if (withTarget) {
        std::printf("| What | Measured | Target | Baseline (same run) | Met |\n|---|---|---|---|---|\n");
        for (const BenchRow &r : rows)
            std::printf("| %s | %s | %s | %s | %s |\n", qPrintable(r.what), qPrintable(r.figure), qPrintable(r.target),
                        qPrintable(r.baseline), !r.counted ? "–" : r.met ? "yes" : "**no**");
    } else {
        std::printf("| Floor | Measured | Reference |\n|---|---|---|\n");
        for (const BenchRow &r : rows)
            std::printf("| %s | %s | %s |\n", qPrintable(r.what), qPrintable(r.figure), qPrintable(r.baseline));
    }
}

QString cpuName()
{
    QFile f(QStringLiteral("/proc/cpuinfo"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith("model name"))
                return QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
    return QStringLiteral("unknown CPU");
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QStringLiteral("--script-child"))
        return runScriptChild(args[2]);
    if (args.size() == 2 && args[1] == QStringLiteral("--echo-child"))
        return runEchoChild();

    const QString dir = QCoreApplication::applicationDirPath();
    const int runs = qEnvironmentVariableIsSet("EVM_BENCH_RUNS") ? qEnvironmentVariableIntValue("EVM_BENCH_RUNS") : 30;

    // --only startup|writes|readback|script|linux|serve|tool runs one group, for a profiler.
    const QString only = args.size() == 3 && args[1] == QStringLiteral("--only") ? args[2] : QString();
    auto wanted = [&](const char *group) { return only.isEmpty() || only == QLatin1String(group); };

    const Floors floors = measureFloors();
    BenchRows rows;
    if (wanted("startup"))
        rows << benchStartup(QDir(dir).filePath(QStringLiteral("evm5170")), QDir(dir).filePath(QStringLiteral("evm5170-bench-empty")), runs);
    if (wanted("writes"))
        rows << benchWrites(floors);
    if (wanted("readback"))
        rows << benchReadBack();
    if (wanted("script"))
        rows << benchScript(QCoreApplication::applicationFilePath(), 5);
    if (wanted("linux"))
        rows << benchLinuxBoard(QDir(dir).filePath(QStringLiteral("evm5170-bench-linux")));
    if (wanted("tool"))
        rows << benchTool(QDir(dir).filePath(QStringLiteral("evm5170ctl")), qEnvironmentVariable("EVM_BENCH_BASELINE_CTL"),
                          qEnvironmentVariable("EVM_BENCH_BASELINE_NAME", QStringLiteral("an earlier commit")), runs);
    if (wanted("serve"))
        rows << benchServe(QCoreApplication::applicationFilePath(), QDir(dir).filePath(QStringLiteral("evm5170ctl")),
                           QDir(dir).filePath(QStringLiteral("evm5170")), runs);

    std::printf("Machine: %s, %d threads, %s, Qt %s, offscreen\n", qPrintable(cpuName()), QThread::idealThreadCount(),
                qPrintable(QSysInfo::prettyProductName()), qVersion());
    printTable(QStringLiteral("Targets"), rows, true);
    printTable(QStringLiteral("Bare-Qt floors of this machine (for reading the figures above)"), floorRows(floors), false);

    int missed = 0, counted = 0;
    for (const BenchRow &r : rows) {
        counted += r.counted ? 1 : 0;
        missed += r.counted && !r.met ? 1 : 0;
    }
    std::printf("\n%d of %d targets met\n", counted - missed, counted);
    return missed ? 1 : 0;
}
