// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QDialog>

class QProgressBar;
namespace Ui { class TscriptProgress; }

// Shown, not modal, while a register script runs. Closing it only hides it.
class TscriptProgress : public QDialog
{
    Q_OBJECT
public:
    explicit TscriptProgress(QWidget *parent = nullptr);
    ~TscriptProgress() override;

    QProgressBar *ProgressBar1;
    void repaintNow();

private:
    Ui::TscriptProgress *ui;
};

extern TscriptProgress *scriptProgress;
