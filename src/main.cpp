// SPDX-License-Identifier: GPL-3.0-or-later
// Program entry: the command line first, then the splash, the main window and the windows beside it.
#include "main.h"
#include "program.h"
#include "uiseam.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

namespace {

const char kEnvironment[] =
    "\n"
    "Environment:\n"
    "  EVM_BOARD_LIBRARY     the board library: a file, or sim, linux or remote for the\n"
    "                        libraries installed with the program (default: Ostrel)\n"
    "  XDG_CONFIG_HOME       where EVM5170.ini keeps the interface (default ~/.config)\n"
    "  OSTREL_SIM_STATE      the simulated board's register file; empty for none\n"
    "                        (default $XDG_STATE_HOME/evm5170/sim-state.csv, else\n"
    "                        ~/.local/state/evm5170/sim-state.csv)\n"
    "  EVM_LINUX_BOARD       the Linux board library's configuration file\n"
    "                        (default $XDG_CONFIG_HOME/EVM5170-linux.ini)\n"
    "  EVM_BOARD_REMOTE      HOST:PORT of the server the remote board library reaches\n"
    "\n"
    "The toolkit's own options (-platform NAME, -display DISPLAY, -style STYLE, ...) are\n"
    "taken as well. The manual page evm5170(1) says more.\n";

} // namespace

int main(int argc, char *argv[])
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "EVM Controller: the CDX5170 evaluation board's registers, DACs and ADCs, through a board library."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and exit."));
    parser.addOption(help);
    parser.addOption(version);

    // Help and version need no display: they are answered before the toolkit looks for one, and
    // before its own options are known, so an unknown option is no error yet.
    QStringList early;
    for (int i = 0; i < argc; ++i)
        early << QString::fromLocal8Bit(argv[i]);
    parser.parse(early);
    if (parser.isSet(help) || parser.isSet(version)) {
        QCoreApplication core(argc, argv);
        const QString text = parser.isSet(version)
            ? QStringLiteral("evm5170 " EVM_PROGRAM_VERSION "\n")
            : parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("evm5170"))
                + QString::fromLatin1(kEnvironment);
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 2;
    }

    try {
        QApplication app(argc, argv);
        QCoreApplication::setApplicationVersion(QStringLiteral(EVM_PROGRAM_VERSION));
        // What the toolkit left of the command line must be empty: the window takes no arguments.
        if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
            const QString error = parser.errorText().isEmpty()
                ? QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst())
                : parser.errorText();
            std::fprintf(stderr, "evm5170: %s (see evm5170 --help)\n", error.toLocal8Bit().constData());
            return 2;
        }
        createProgramWindows();
        Form1->show();
        // For the start-up benchmark: say when the connection sequence has ended, then end.
        if (qEnvironmentVariableIntValue("EVM_QUIT_AFTER_SHOW") == 1) {
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
        } else {
            app.exec();
        }

        destroyProgramWindows();
    } catch (const std::exception &e) {
        UiSeam::current().errorReport(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        UiSeam::current().errorReport(QString());
    }
    return 0;
}
