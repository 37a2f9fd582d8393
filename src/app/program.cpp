// SPDX-License-Identifier: GPL-3.0-or-later
#include "program.h"

#include "about.h"
#include "main.h"
#include "regview.h"
#include "scriptprogress.h"
#include "splash.h"

#include <QApplication>

void createProgramWindows()
{
    SplashForm = new TSplashForm;
    SplashForm->show();
    SplashForm->repaintNow();
    QApplication::setApplicationName(QStringLiteral("evm5170"));

    Form1 = new TForm1;
    AboutDialog = new TAboutDialog(Form1); // centred over the main window, destroyed with it
    scriptProgress = new TscriptProgress;
    RegViewForm = new TRegViewForm;
}

void destroyProgramWindows()
{
    delete RegViewForm;
    RegViewForm = nullptr;
    delete scriptProgress;
    scriptProgress = nullptr;
    delete Form1;
    Form1 = nullptr;
    AboutDialog = nullptr;
    delete SplashForm;
    SplashForm = nullptr;
}
