// SPDX-License-Identifier: GPL-3.0-or-later
// evm5170ctl get DEMP as a whole process, this build's tool against the tool as it was before
// the core left Qt (built by make bench from that commit, in Release, beside its own simulated
// board). The runs alternate, so both see the same machine.
#include "bench.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Nanoseconds from the start of the process to its end; -1 when it did not answer "0".
double runOnce(const QString &program, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(program, {QStringLiteral("get"), QStringLiteral("DEMP")});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return -1;
    const double ns = double(t.nsecsElapsed());
    return p.readAllStandardOutput() == "0\n" ? ns : -1;
}

} // namespace

BenchRows benchTool(const QString &ctlPath, const QString &baselineCtlPath, const QString &baselineName, int runs)
{
    BenchRow row;
    row.what = QStringLiteral("evm5170ctl get DEMP as a whole process (median of %1)").arg(runs);
    row.target = QStringLiteral("< baseline");
    if (baselineCtlPath.isEmpty() || !QFileInfo(baselineCtlPath).isExecutable()) {
        row.figure = QStringLiteral("not measured");
        row.baseline = QStringLiteral("no tool of the earlier commit (EVM_BENCH_BASELINE_CTL; make bench builds it)");
        return {row};
    }
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path()); // no settings file: SPI
    // Each tool finds the simulated board beside itself, as an installed tool does.
    for (const char *name : {"EVM_BOARD_LIBRARY", "OSTREL_SIM_TRACE", "OSTREL_SIM_STATE", "OSTREL_SIM_FAIL",
                             "OSTREL_SIM_BOARD", "OSTREL_SIM_DELAY_US", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("OSTREL_SIM_STATE"), QString()); // no state file

    runOnce(ctlPath, env); // once each unmeasured, so both find their libraries in the page cache
    runOnce(baselineCtlPath, env);
    QList<double> now, before;
    bool answered = true;
    for (int i = 0; i < runs; ++i) {
        const double b = runOnce(baselineCtlPath, env);
        const double n = runOnce(ctlPath, env);
        answered = answered && b > 0 && n > 0;
        before << b;
        now << n;
    }
    const double n = median(now), b = median(before);
    row.figure = formatNs(n) + QStringLiteral(" (%1)").arg(formatRatio(n / b));
    if (!answered)
        row.figure += QStringLiteral(", A RUN DID NOT ANSWER 0");
    row.baseline = QStringLiteral("the tool of %1, before the core left Qt (Release): %2").arg(baselineName, formatNs(b));
    row.met = answered && n < b;
    return {row};
}
