// Program entry: the splash first, then the main window and the windows beside it.
#include "main.h"
#include "program.h"
#include "uiseam.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    try {
        QApplication app(argc, argv);
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
