// SPDX-License-Identifier: GPL-3.0-or-later
#include "splash.h"
#include "ui_splash.h"

#include "designfonts.h"
#include "paintnow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

TSplashForm *SplashForm = nullptr;

TSplashForm::TSplashForm(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      ui(new Ui::TSplashForm)
{
    ui->setupUi(this);
    Label1 = ui->Label1;
    ProgressBar1 = ui->ProgressBar1;

    setFont(designfonts::base());
    Label1->setFont(designfonts::arialBlack(12));
    Label1->adjustSize();
    setFixedSize(313, 182);
    // Only the main window's closing ends the program.
    setAttribute(Qt::WA_QuitOnClose, false);

    designfonts::centreOnScreen(this);
}

TSplashForm::~TSplashForm()
{
    delete ui;
}

void TSplashForm::setText(const QString &text)
{
    Label1->setText(text);
    Label1->adjustSize();
}

void TSplashForm::repaintNow()
{
    paintnow::paint(this);
}

void TSplashForm::closeEvent(QCloseEvent *event)
{
    // Resets and Reconnect keep using this window; a close from the window
    // manager or another program would leave them without one.
    event->ignore();
}
