// SPDX-License-Identifier: GPL-3.0-or-later
#include "uiseam.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

QString applicationTitle()
{
    return QStringLiteral("EVM control application");
}

namespace {

// A box raised while a window that stays on top is up (the busy window) would open beneath it,
// out of sight and out of reach of the mouse, and the program would look frozen. It stays on
// top as well, and being newer it is stacked above.
void keepAboveStayingWindows(QWidget *box)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != box && w->isVisible() && (w->windowFlags() & Qt::WindowStaysOnTopHint)) {
            box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
            return;
        }
}

class RealSeam : public UiSeam
{
public:
    Button messageBox(QWidget *owner, const QString &text, const QString &caption, Icon icon, int buttons,
                      const QString &detail) override
    {
        QMessageBox box(owner);
        box.setWindowTitle(caption);
        box.setText(text);
        if (!detail.isEmpty())
            box.setInformativeText(detail);
        box.setIcon(icon == Icon::Error ? QMessageBox::Critical
                    : icon == Icon::Question ? QMessageBox::Question
                                             : QMessageBox::NoIcon);
        QMessageBox::StandardButtons standard;
        if (buttons & Ok)
            standard |= QMessageBox::Ok;
        if (buttons & Yes)
            standard |= QMessageBox::Yes;
        if (buttons & No)
            standard |= QMessageBox::No;
        box.setStandardButtons(standard);
        keepAboveStayingWindows(&box);
        switch (box.exec()) {
        case QMessageBox::Yes: return Yes;
        case QMessageBox::No: return No;
        default: return Ok;
        }
    }

    void showMessage(const QString &text) override
    {
        QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, QApplication::activeWindow());
        keepAboveStayingWindows(&box);
        box.exec();
    }

    void errorReport(const QString &text) override
    {
        QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok, QApplication::activeWindow());
        keepAboveStayingWindows(&box);
        box.exec();
    }

    QString openFileName(QWidget *owner, const QString &title, const QString &filter, const QString &defaultSuffix) override
    {
        return runDialog(owner, title, QFileDialog::AcceptOpen, filter, defaultSuffix);
    }

    QString saveFileName(QWidget *owner, const QString &title, const QString &filter, const QString &defaultSuffix) override
    {
        return runDialog(owner, title, QFileDialog::AcceptSave, filter, defaultSuffix);
    }

    void sleepMs(int ms) override
    {
        if (ms > 0)
            QThread::msleep(static_cast<unsigned long>(ms));
    }

    int execDialog(QDialog *dialog) override
    {
        return dialog->exec();
    }

private:
    static QString runDialog(QWidget *owner, const QString &title, QFileDialog::AcceptMode mode, const QString &filter,
                             const QString &suffix)
    {
        QFileDialog dialog(owner, title);
        dialog.setAcceptMode(mode);
        dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        // "CSV|*.csv|All Files|*.*" in the designer's form becomes Qt's "CSV (*.csv);;All Files (*)".
        const QStringList parts = filter.split(QLatin1Char('|'));
        QStringList filters;
        for (int i = 0; i + 1 < parts.size(); i += 2)
            filters << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1] == QLatin1String("*.*") ? QStringLiteral("*") : parts[i + 1]);
        dialog.setNameFilters(filters);
        dialog.setDefaultSuffix(suffix);
        // The handlers ask their own overwrite question.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().first();
    }
};

RealSeam g_real;
UiSeam *g_current = &g_real;

} // namespace

UiSeam &UiSeam::current()
{
    return *g_current;
}

void UiSeam::install(UiSeam *seam)
{
    g_current = seam ? seam : &g_real;
}
