// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's windows built in start-up order against the simulated board, shown
// offscreen, with the simulator's in-memory call log switched off (it is a test aid the real
// board does not have, and it would grow with every write), and a bare log beside them to
// measure against.
#include "fixture.h"

#include <QPlainTextEdit>
#include <QWidget>

#include <memory>

class BenchSession
{
public:
    // settings: the settings file's text, when the benchmark needs one.
    explicit BenchSession(const QByteArray &settings = {});
    AppFixture fx;
    QPlainTextEdit *memo = nullptr;
};

// A bare log of the main log's size, font and scroll bars in a bare window of the main
// window's size: what a register write's history line is measured against.
class BareLog
{
public:
    explicit BareLog(const QPlainTextEdit *like);
    QWidget window;
    QPlainTextEdit *log;
};

void setSimulatorLog(bool enabled);
