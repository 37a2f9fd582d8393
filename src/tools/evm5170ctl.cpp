// evm5170ctl: the board from the command line, one command a run, for lab automation.
#include "ctl_args.h"
#include "ctl_commands.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("evm5170ctl"));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const auto parsed = ctl::parseCommandLine(arguments);
    if (const QString *error = std::get_if<QString>(&parsed)) {
        ctl::printError(*error);
        return ctl::Failure;
    }
    return ctl::runCommand(std::get<ctl::Invocation>(parsed));
}
