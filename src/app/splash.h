// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QWidget>

class QLabel;
class QProgressBar;
namespace Ui { class TSplashForm; }

// The splash window, shown first at start-up and used afterwards as the busy
// window of resets and Reconnect. Its callers process no window messages while
// it is up, so every change is followed by repaintNow().
class TSplashForm : public QWidget
{
    Q_OBJECT
public:
    explicit TSplashForm(QWidget *parent = nullptr);
    ~TSplashForm() override;

    QLabel *Label1;
    QProgressBar *ProgressBar1;

    void setText(const QString &text);
    // Paints the window at once and returns when it is on the screen; no user input is
    // processed meanwhile.
    void repaintNow();

protected:
    // The busy window lives as long as the program: a close request from outside is refused.
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::TSplashForm *ui;
};

extern TSplashForm *SplashForm;
