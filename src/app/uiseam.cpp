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

class RealSeam : public UiSeam
{
public:
    Button messageBox(QWidget *owner, const QString &text, const QString &caption, Icon icon, int buttons) override
    {
        QMessageBox box(owner);
        box.setWindowTitle(caption);
        box.setText(text);
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
        switch (box.exec()) {
        case QMessageBox::Yes: return Yes;
        case QMessageBox::No: return No;
        default: return Ok;
        }
    }

    void showMessage(const QString &text) override
    {
        QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    }

    void errorReport(const QString &text) override
    {
        QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    }

    QString openFileName(QWidget *owner, const QString &filter, const QString &defaultSuffix) override
    {
        return runDialog(owner, QFileDialog::AcceptOpen, filter, defaultSuffix);
    }

    QString saveFileName(QWidget *owner, const QString &filter, const QString &defaultSuffix) override
    {
        return runDialog(owner, QFileDialog::AcceptSave, filter, defaultSuffix);
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
    static QString runDialog(QWidget *owner, QFileDialog::AcceptMode mode, const QString &filter, const QString &suffix)
    {
        QFileDialog dialog(owner);
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
