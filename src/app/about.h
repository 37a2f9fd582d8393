// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QDialog>

class QLabel;
namespace Ui { class TAboutDialog; }

class TAboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TAboutDialog(QWidget *parent = nullptr);
    ~TAboutDialog() override;

    QLabel *lDLLver;
    QLabel *lPort;
    void OKBtnClick();

private:
    Ui::TAboutDialog *ui;
};

// "%1d.%1d.%1d.%1d" of the version word: a := v/4096, b, c, d the next hexadecimal
// digits; everything above the low twelve bits lands in the first number.
QString libraryVersionText(int32_t v);

extern TAboutDialog *AboutDialog;
