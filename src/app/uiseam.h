// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

class QDialog;
class QWidget;

// Everything that blocks goes through here: message boxes, plain messages, the
// error report, file dialogs and sleeps. The program uses the real one; tests
// install one that records what was asked and answers from a queue.
class UiSeam
{
public:
    enum class Icon { None, Error, Question };
    enum Button { Ok = 0x1, Yes = 0x2, No = 0x4 };

    virtual ~UiSeam() = default;

    // A system message box owned by `owner`; returns the button pressed. `detail`, when not empty,
    // is shown below the text as the box's informative text.
    virtual Button messageBox(QWidget *owner, const QString &text, const QString &caption, Icon icon, int buttons,
                              const QString &detail = QString()) = 0;
    // The plain message dialog: application title as caption, no icon, OK.
    virtual void showMessage(const QString &text) = 0;
    // The default report of an error that ended a handler (error icon, OK).
    virtual void errorReport(const QString &text) = 0;
    // Empty when the user cancels. `title` is the dialog's caption; `defaultSuffix` is added to a
    // name typed without one.
    virtual QString openFileName(QWidget *owner, const QString &title, const QString &filter, const QString &defaultSuffix) = 0;
    virtual QString saveFileName(QWidget *owner, const QString &title, const QString &filter, const QString &defaultSuffix) = 0;
    // Blocks the calling thread.
    virtual void sleepMs(int ms) = 0;
    // Runs a modal dialog (the About box); returns its result.
    virtual int execDialog(QDialog *dialog) = 0;

    static UiSeam &current();
    // Installs a replacement (not owned); nullptr restores the real one.
    static void install(UiSeam *seam);
};

// The application title, caption of the plain messages.
QString applicationTitle();
