// SPDX-License-Identifier: GPL-3.0-or-later
// Register writes with and without the history, the refresh of every control, a track bar
// dragged end to end, and saving a long history: all through the program's real windows
// against the simulated board, each beside a bare-Qt baseline run in step with it.
#include "bench.h"
#include "bench_session.h"

#include "inttext.h"
#include "main.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>

#include <array>

namespace {

constexpr int kWrites = 100000;
constexpr int kBlock = 1000;

uint32_t regOf(int i) { return 0x41 + uint32_t(i % 30); }
int32_t valueOf(int i) { return (i * 37 + i / 30) & 0xFF; }

BenchRows writesWithHistory(BenchSession &s, BareLog &bare)
{
    TForm1 *form = s.fx.form;
    form->historyEnabled = true;
    form->bClearHistryClick();
    bare.log->clear();

    QStringList lines;
    lines.reserve(kWrites);
    for (int i = 0; i < kWrites; ++i)
        lines << QString::fromStdString(evm::registerLine(regOf(i), uint32_t(valueOf(i))));

    // Block by block, the program's log and the bare one grow in step.
    double program = 0, baseline = 0, first = 0, last = 0;
    for (int b = 0; b < kWrites / kBlock; ++b) {
        const int from = b * kBlock;
        const double tb = timeNs([&] {
            for (int i = from; i < from + kBlock; ++i)
                bare.log->appendPlainText(lines[i]);
        });
        const double tp = timeNs([&] {
            for (int i = from; i < from + kBlock; ++i)
                form->WriteRegister(regOf(i), valueOf(i));
        });
        baseline += tb;
        program += tp;
        if (b == 0)
            first = tp / kBlock;
        last = tp / kBlock;
    }
    if (s.memo->blockCount() != kWrites)
        qFatal("the history holds %d lines, not %d", s.memo->blockCount(), kWrites);

    BenchRow r;
    r.what = QStringLiteral("WriteRegister, history on, map updated (mean of %1 writes)").arg(kWrites);
    r.figure = formatNs(program / kWrites) + QStringLiteral(" (%1)").arg(formatRatio(program / baseline));
    r.target = QStringLiteral("≤ 1.5 × baseline");
    r.baseline = QStringLiteral("bare appendPlainText, same line, log of the same length: %1").arg(formatNs(baseline / kWrites));
    r.met = program <= 1.5 * baseline;

    BenchRow growth;
    growth.what = QStringLiteral("the same, the last 1000 writes (to 100 000) against the first 1000");
    growth.figure = formatNs(last) + QStringLiteral(" (%1)").arg(formatRatio(last / first));
    growth.target = QStringLiteral("≤ 2 × the first");
    growth.baseline = QStringLiteral("first 1000: %1 a write").arg(formatNs(first));
    growth.met = last <= 2 * first;
    return {r, growth};
}

BenchRow saveHistory(BenchSession &s, BareLog &bare)
{
    // The log holds the 100 000 lines of the writes above.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.csv"));
    QList<double> program, baseline;
    for (int i = 0; i < 5; ++i) {
        QFile::remove(path);
        s.fx.seam.fileNames << path;
        program << timeNs([&] { s.fx.form->bSaveHistryClick(); });
        if (QFileInfo(path).size() < 12 * s.memo->blockCount())
            qFatal("the history was not saved");
        QFile::remove(path);
        baseline << timeNs([&] {
            QSaveFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write(bare.log->toPlainText().toUtf8());
            f.commit();
        });
    }
    const double p = median(program), b = median(baseline);
    BenchRow r;
    r.what = QStringLiteral("Saving a %1-line history (median of 5)").arg(s.memo->blockCount());
    r.figure = formatNs(p);
    r.target = QStringLiteral("≤ 0.2 s");
    r.baseline = QStringLiteral("bare log's text to a QSaveFile: %1").arg(formatNs(b));
    r.met = p <= 0.2e9;
    return r;
}

BenchRow writesWithoutHistory(BenchSession &s)
{
    TForm1 *form = s.fx.form;
    form->historyEnabled = false;
    const double program = timeNs([&] {
        for (int i = 0; i < kWrites; ++i)
            form->WriteRegister(regOf(i), valueOf(i));
    });
    // The floor: the library call alone, through the loader.
    uint8_t buffer[evm::TransferBufferSize] = {};
    const double call = timeNs([&] {
        for (int i = 0; i < kWrites; ++i) {
            buffer[0] = uint8_t(valueOf(i));
            form->boardSession.library().writeData(evm::ChipChannel, int32_t(regOf(i)), buffer, 1);
        }
    });
    BenchRow r;
    r.what = QStringLiteral("WriteRegister, history off, map updated (mean of %1 writes)").arg(kWrites);
    r.figure = formatNs(program / kWrites);
    r.target = QStringLiteral("≤ 5 µs");
    r.baseline = QStringLiteral("the bare _writeData call: %1").arg(formatNs(call / kWrites));
    r.met = program / kWrites <= 5000;
    return r;
}

BenchRows refresh(BenchSession &s, const Floors &floors)
{
    TForm1 *form = s.fx.form;
    form->historyEnabled = false;
    form->RefreshControls();
    QList<double> same;
    for (int i = 0; i < 2000; ++i)
        same << timeNs([&] { form->RefreshControls(); });

    // Two shadows in which every bound bit and field differs: each refresh sets every control.
    std::array<uint8_t, evm::ShadowSize> patterns[2];
    for (int i = 0; i < evm::ShadowSize; ++i) {
        patterns[0][i] = 0x00 & form->shadow.mask[i];
        patterns[1][i] = 0xFF & form->shadow.mask[i];
    }
    patterns[0][0] |= 0xC0;
    patterns[1][0] |= 0xC0;
    QList<double> all;
    int handlerWrites = 0;
    for (int i = 0; i < 400; ++i) {
        form->shadow.bytes = patterns[i & 1];
        if (i == 2) {
            setSimulatorLog(true);
            s.fx.sim.clearLog();
        }
        all << timeNs([&] { form->RefreshControls(); });
        if (i == 2) {
            handlerWrites = int(s.fx.sim.log(QStringLiteral("_writeData(channel=0")).size());
            setSimulatorLog(false);
            s.fx.sim.clearLog();
        }
    }

    BenchRow r1;
    r1.what = QStringLiteral("RefreshControls, nothing differs (median of 2000)");
    r1.figure = formatNs(median(same));
    r1.target = QStringLiteral("≤ 0.2 ms");
    r1.baseline = QStringLiteral("palette of eight labels: %1").arg(formatNs(floors.palette8));
    r1.met = median(same) <= 0.2e6;
    BenchRow r2;
    r2.what = QStringLiteral("RefreshControls, every control differs, history off (median of 400; %1 handler writes each)").arg(handlerWrites);
    r2.figure = formatNs(median(all));
    r2.target = QStringLiteral("≤ 5 ms");
    r2.baseline = QStringLiteral("style sheet on eight labels: %1").arg(formatNs(floors.styleSheet8));
    r2.met = median(all) <= 5e6;
    return {r1, r2};
}

BenchRow drag(BenchSession &s, BareLog &bare)
{
    TForm1 *form = s.fx.form;
    auto *tab = s.fx.find<QTabWidget>(QStringLiteral("MainTab"));
    tab->setCurrentWidget(s.fx.find<QWidget>(QStringLiteral("DACAtt")));
    auto *track = s.fx.find<QSlider>(QStringLiteral("tkDAC1"));
    QApplication::processEvents();

    QList<double> program, baseline;
    for (int round = 0; round < 5; ++round) {
        // Both logs hold the same 1000 lines before each drag.
        form->bClearHistryClick();
        bare.log->clear();
        for (int i = 0; i < 1000; ++i) {
            const QString line = QString::fromStdString(evm::registerLine(regOf(i), uint32_t(valueOf(i))));
            form->appendHistory(line);
            bare.log->appendPlainText(line);
        }
        form->historyEnabled = true;
        track->setValue(255);
        QApplication::processEvents();

        baseline << timeNs([&] {
            for (int p = 0; p < 256; ++p) {
                bare.log->appendPlainText(QString::fromStdString(evm::registerLine(0x48, uint32_t(p))));
                QApplication::processEvents();
            }
        });
        program << timeNs([&] {
            for (int p = 0; p < 256; ++p) {
                track->setSliderPosition(p); // as a drag moves it: valueChanged, then the handler
                QApplication::processEvents();
            }
        });
    }
    if (!s.memo->toPlainText().endsWith(QStringLiteral("0x48, 0xFF")))
        qFatal("the drag did not reach the history");
    const double p = median(program), b = median(baseline);
    BenchRow r;
    r.what = QStringLiteral("Track bar dragged end to end: 256 positions, a turn each, history on (median of 5)");
    r.figure = formatNs(p) + QStringLiteral(" (%1)").arg(formatRatio(p / b));
    r.target = QStringLiteral("≤ 1.5 × baseline");
    r.baseline = QStringLiteral("256 turns appending one line to a bare log and repainting: %1").arg(formatNs(b));
    r.met = p <= 1.5 * b;
    return r;
}

} // namespace

BenchRows benchWrites(const Floors &floors)
{
    BenchSession s;
    BareLog bare(s.memo);
    BenchRows rows;
    rows << writesWithHistory(s, bare);
    rows << saveHistory(s, bare);
    rows << writesWithoutHistory(s);
    rows << refresh(s, floors);
    rows << drag(s, bare);
    return rows;
}
