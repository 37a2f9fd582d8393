// Program entry: the splash first, then the main window and the windows beside it.
#include "about.h"
#include "main.h"
#include "regview.h"
#include "scriptprogress.h"
#include "splash.h"
#include "uiseam.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    try {
        QApplication app(argc, argv);
        SplashForm = new TSplashForm;
        SplashForm->show();
        SplashForm->repaintNow();
        QApplication::setApplicationName(QStringLiteral("evm5170"));

        Form1 = new TForm1;
        AboutDialog = new TAboutDialog(Form1);
        scriptProgress = new TscriptProgress;
        RegViewForm = new TRegViewForm;

        Form1->show();
        // For the start-up benchmark: say when the connection sequence has ended, then end.
        if (qEnvironmentVariableIntValue("EVM_QUIT_AFTER_SHOW") == 1) {
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
        } else {
            app.exec();
        }

        delete RegViewForm;
        delete scriptProgress;
        delete Form1;
        delete SplashForm;
    } catch (const std::exception &e) {
        UiSeam::current().errorReport(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        UiSeam::current().errorReport(QString());
    }
    return 0;
}
