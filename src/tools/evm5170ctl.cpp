// evm5170ctl: the board from the command line, one command a run, for lab automation.
#include "ctl_commands.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("evm5170ctl"));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    // Unbuffered here: the C streams buffer, and a flush reports what could not be written.
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    evm::BoardSession session;
    ctl::Context context{session, &out, &err};
    return ctl::runCommand(context, arguments);
}
