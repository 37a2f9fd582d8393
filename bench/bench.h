// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What every benchmark hands back: one row of the table, its figure beside the target and
// beside a baseline measured in the same run.
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <functional>

struct BenchRow {
    QString what;
    QString figure;   // e.g. "31.2 µs"
    QString target;   // e.g. "≤ 1.5 × baseline"
    QString baseline; // what it was compared with, and its figure
    bool met = false;
    bool counted = true; // false for a row shown only for context
};

using BenchRows = QList<BenchRow>;

inline double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Nanoseconds one call of body takes.
inline double timeNs(const std::function<void()> &body)
{
    QElapsedTimer t;
    t.start();
    body();
    return double(t.nsecsElapsed());
}

QString formatNs(double ns); // "812 ns", "31.2 µs", "4.10 ms", "0.312 s"
QString formatRatio(double r);  // "1.23 ×"

// The bare-Qt floors of this machine, measured in the same run, for reading the other rows.
struct Floors {
    double appendLine = 0;  // one appendPlainText of a short line to an empty bare log
    double palette8 = 0;    // a new palette on eight labels
    double styleSheet8 = 0; // a style sheet on eight labels
    double repaintTurn = 0; // one event-loop turn that repaints a window of the main window's size
};
Floors measureFloors();
BenchRows floorRows(const Floors &floors);

// One start-up of the program as a whole process, with EVM_QUIT_AFTER_SHOW in env.
struct StartupRun {
    double shown = -1; // from the start of the process to its "shown" line
    double ended = -1; // to its end, teardown included
};
class QProcessEnvironment;
class QTemporaryDir;
// Offscreen, against the simulated board, no settings file (SPI), no simulator settings.
QProcessEnvironment startupEnvironment(const QTemporaryDir &dir);
StartupRun runStartupOnce(const QString &program, const QProcessEnvironment &env, const QString &workDir);

// The benchmarks, each in its own file.
BenchRows benchStartup(const QString &programPath, const QString &baselinePath, int runs);
// WriteRegister with history on and off, RefreshControls, a track bar drag, saving the history.
BenchRows benchWrites(const Floors &floors);
BenchRows benchScript(const QString &selfPath, int runs);
// Read all and the automatic read, against the bare reads; a click while every register is read.
BenchRows benchReadBack();
// A register read through the Linux board library against the bare libi2c call (a child process).
BenchRows benchLinuxBoard(const QString &childPath);
// The instrument server and the remote board library.
BenchRows benchServe(const QString &selfPath, const QString &ctlPath, const QString &programPath, int runs);
// evm5170ctl get DEMP as a whole process against the tool of an earlier commit (baselineCtlPath).
BenchRows benchTool(const QString &ctlPath, const QString &baselineCtlPath, const QString &baselineName, int runs);
// The child side of benchServe's baseline: a bare TCP echo server.
int runEchoChild();
// The child side of benchScript: runs the script file with the progress window and prints its figures.
int runScriptChild(const QString &path);
