// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up as a whole process, to the end of the connection sequence, against a bare Qt
// program that shows one empty window of the same size. The runs alternate, so both see the
// same machine.
#include "bench.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <cstdio>

QProcessEnvironment startupEnvironment(const QTemporaryDir &dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path()); // no settings file: SPI, as a first run
    env.insert(QStringLiteral("EVM_QUIT_AFTER_SHOW"), QStringLiteral("1"));
    env.insert(QStringLiteral("EVM_BOARD_LIBRARY"), QStringLiteral(OSTREL_SIM_PATH));
    env.remove(QStringLiteral("OSTREL_SIM_TRACE"));
    env.insert(QStringLiteral("OSTREL_SIM_STATE"), QString()); // no state file
    env.remove(QStringLiteral("OSTREL_SIM_FAIL"));
    env.remove(QStringLiteral("OSTREL_SIM_BOARD"));
    return env;
}

StartupRun runStartupOnce(const QString &program, const QProcessEnvironment &env, const QString &workDir)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(workDir);
    p.setProgram(program);
    p.setStandardErrorFile(QProcess::nullDevice());
    StartupRun run;
    QElapsedTimer t;
    t.start();
    p.start();
    while (run.shown < 0 && p.waitForReadyRead(60000))
        if (p.readAllStandardOutput().contains("shown\n"))
            run.shown = double(t.nsecsElapsed());
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || run.shown < 0) {
        std::fprintf(stderr, "bench: %s did not end cleanly\n", qPrintable(program));
        return {};
    }
    run.ended = double(t.nsecsElapsed());
    return run;
}

namespace {

// One traced run: the measured program must really have connected and read the registers back.
bool connects(const QString &program, QProcessEnvironment env, const QTemporaryDir &dir)
{
    const QString trace = dir.filePath(QStringLiteral("trace.txt"));
    env.insert(QStringLiteral("OSTREL_SIM_TRACE"), trace);
    runStartupOnce(program, env, dir.path());
    QFile f(trace);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = f.readAll();
    f.close();
    f.remove();
    return text.contains("_init") && text.count("_readData(channel=0") == 31;
}

} // namespace

BenchRows benchStartup(const QString &programPath, const QString &baselinePath, int runs)
{
    QTemporaryDir dir;
    const QProcessEnvironment env = startupEnvironment(dir);
    const bool connected = connects(programPath, env, dir);

    QList<double> program, baseline, programEnd, baselineEnd;
    // One run of each first, unmeasured, so both find the libraries in the page cache.
    runStartupOnce(programPath, env, dir.path());
    runStartupOnce(baselinePath, env, dir.path());
    for (int i = 0; i < runs; ++i) {
        const StartupRun b = runStartupOnce(baselinePath, env, dir.path());
        const StartupRun p = runStartupOnce(programPath, env, dir.path());
        baseline << b.shown;
        baselineEnd << b.ended;
        program << p.shown;
        programEnd << p.ended;
    }
    const double p = median(program), b = median(baseline);
    const double pe = median(programEnd), be = median(baselineEnd);
    BenchRow row;
    row.what = QStringLiteral("Start-up to the end of FormShow, as a whole process (median of %1)").arg(runs);
    row.figure = formatNs(p) + QStringLiteral(" (%1)").arg(formatRatio(p / b));
    if (!connected)
        row.figure += QStringLiteral(", DID NOT CONNECT");
    row.target = QStringLiteral("≤ 2 × baseline");
    row.baseline = QStringLiteral("bare program, one empty 739 × 565 + menu window: %1").arg(formatNs(b));
    row.met = connected && p <= 2 * b;
    BenchRow whole;
    whole.what = QStringLiteral("the same processes to their end, teardown included");
    whole.figure = formatNs(pe) + QStringLiteral(" (%1)").arg(formatRatio(pe / be));
    whole.target = QStringLiteral("(no target)");
    whole.baseline = QStringLiteral("bare program: %1").arg(formatNs(be));
    whole.met = true;
    whole.counted = false;
    return {row, whole};
}
