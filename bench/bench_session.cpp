// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench_session.h"

#include "main.h"

#include <QApplication>
#include <QLibrary>
#include <QMenuBar>

void setSimulatorLog(bool enabled)
{
    // The same library the program loaded: QLibrary hands back the loaded handle.
    QLibrary lib(QStringLiteral(OSTREL_SIM_PATH));
    if (!lib.load())
        qFatal("cannot load the simulator");
    auto set = reinterpret_cast<void (*)(int)>(lib.resolve("ostrel_sim_set_log_enabled"));
    if (!set)
        qFatal("simulator lacks ostrel_sim_set_log_enabled");
    set(enabled ? 1 : 0);
}

BenchSession::BenchSession(const QByteArray &settings)
{
    if (!settings.isEmpty())
        fx.writeSettings(settings);
    fx.create_and_show();
    if (!fx.form->boardPort())
        qFatal("the simulated board did not answer");
    memo = fx.find<QPlainTextEdit>(QStringLiteral("Memo1"));
    setSimulatorLog(false);
    QApplication::processEvents();
}

BareLog::BareLog(const QPlainTextEdit *like)
{
    window.setFixedSize(739, 565 + QMenuBar().sizeHint().height());
    log = new QPlainTextEdit(&window);
    log->setGeometry(QRect(like->mapTo(like->window(), QPoint(0, 0)), like->size()));
    log->setFont(like->font());
    log->setVerticalScrollBarPolicy(like->verticalScrollBarPolicy());
    log->setHorizontalScrollBarPolicy(like->horizontalScrollBarPolicy());
    log->setLineWrapMode(like->lineWrapMode());
    window.show();
    QApplication::processEvents();
}
