// SPDX-License-Identifier: GPL-3.0-or-later
// evm5170ctl as a child process: one run with its environment, working folder and input,
// its exit code and both outputs. The path comes from the test's EVM5170CTL_PATH.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct ToolRun {
    int exitCode = -1; // -1 when the tool crashed or did not finish in time
    QByteArray out;
    QByteArray err;
};

inline ToolRun runTool(const QProcessEnvironment &env, const QString &workingDir, const QStringList &args,
                       const QByteArray &input = {})
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(workingDir);
    p.start(QStringLiteral(EVM5170CTL_PATH), args);
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    ToolRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        qWarning("evm5170ctl did not finish");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}
