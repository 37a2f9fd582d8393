// SPDX-License-Identifier: GPL-3.0-or-later
#include "scriptprogress.h"
#include "ui_scriptprogress.h"

#include "designfonts.h"
#include "paintnow.h"

#include <QGuiApplication>
#include <QScreen>

TscriptProgress *scriptProgress = nullptr;

TscriptProgress::TscriptProgress(QWidget *parent)
    : QDialog(parent), ui(new Ui::TscriptProgress)
{
    ui->setupUi(this);
    ProgressBar1 = ui->ProgressBar1;

    // A dialog border: title bar and close box, nothing to resize or maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(designfonts::base());
    ui->Label1->setFont(designfonts::arialBlack(12));
    ui->Label1->adjustSize();
    setFixedSize(313, 182);
    setAttribute(Qt::WA_QuitOnClose, false);

    // Centred on the screen, whoever owns it; moving it now keeps QDialog from
    // centring it over its parent instead.
    designfonts::centreOnScreen(this);
}

TscriptProgress::~TscriptProgress()
{
    delete ui;
}

void TscriptProgress::repaintNow()
{
    paintnow::paint(this);
}
