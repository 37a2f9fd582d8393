// SPDX-License-Identifier: GPL-3.0-or-later
// The floors the targets are set against, measured on a bare Qt program in the same run.
#include "bench.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QWidget>

Floors measureFloors()
{
    Floors f;
    {
        QWidget window;
        window.setFixedSize(739, 565 + QMenuBar().sizeHint().height());
        auto *log = new QPlainTextEdit(&window);
        log->setGeometry(8, 20, 201, 294);
        window.show();
        QApplication::processEvents();
        QList<double> t;
        for (int i = 0; i < 2000; ++i) {
            if (i % 100 == 0)
                log->clear(); // a short log: the floor of one append
            t << timeNs([&] { log->appendPlainText(QStringLiteral("0x46, 0x0A")); });
        }
        f.appendLine = median(t);

        QList<double> turns;
        for (int i = 0; i < 200; ++i) {
            window.update();
            turns << timeNs([] { QApplication::processEvents(); });
        }
        f.repaintTurn = median(turns);
    }
    {
        QWidget window;
        QList<QLabel *> labels;
        for (int i = 0; i < 8; ++i) {
            auto *l = new QLabel(QStringLiteral("ATDA0%1").arg(i), &window);
            l->setGeometry(60 * i + 68, 23, 58, 13);
            l->setAutoFillBackground(true);
            labels << l;
        }
        window.show();
        QApplication::processEvents();
        const QColor colours[2] = {QColor(175, 253, 134), Qt::white};
        QList<double> pal, sheet;
        for (int i = 0; i < 400; ++i) {
            pal << timeNs([&] {
                for (QLabel *l : labels) {
                    QPalette p = l->palette();
                    p.setColor(QPalette::Window, colours[i & 1]);
                    l->setPalette(p);
                }
            });
        }
        for (QLabel *l : labels)
            l->setPalette(QPalette());
        const QString sheets[2] = {QStringLiteral("background: #AFFD86"), QStringLiteral("background: white")};
        for (int i = 0; i < 100; ++i)
            sheet << timeNs([&] {
                for (QLabel *l : labels)
                    l->setStyleSheet(sheets[i & 1]);
            });
        f.palette8 = median(pal);
        f.styleSheet8 = median(sheet);
    }
    return f;
}

BenchRows floorRows(const Floors &f)
{
    auto row = [](const QString &what, double ns, const QString &reference) {
        BenchRow r;
        r.what = what;
        r.figure = formatNs(ns);
        r.baseline = reference;
        r.met = true;
        return r;
    };
    return {
        row(QStringLiteral("appendPlainText of a short line"), f.appendLine, QStringLiteral("30–40 µs")),
        row(QStringLiteral("palette of eight labels"), f.palette8, QStringLiteral("≈ 20 µs")),
        row(QStringLiteral("style sheet on eight labels"), f.styleSheet8, QStringLiteral("≈ 1.9 ms")),
        row(QStringLiteral("event-loop turn repainting a 739 × 565 window"), f.repaintTurn, QStringLiteral("several hundred µs")),
    };
}
