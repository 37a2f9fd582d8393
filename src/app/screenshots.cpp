// SPDX-License-Identifier: GPL-3.0-or-later
// evm5170-screenshots DIR: starts the program's windows as the program does,
// against the board library it finds the program's way (in the build directory,
// the simulated board beside this tool), and saves the main window on
// each of its pages and the register map as PNG files in DIR. Run it headless
// (QT_QPA_PLATFORM=offscreen); `make screenshots` fills docs/screenshots.
#include "about.h"
#include "main.h"
#include "program.h"
#include "regview.h"
#include "scriptprogress.h"
#include "splash.h"
#include "uiseam.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Nothing may wait for a click that never comes: every message is written to
// stderr and answered at once; a message at start-up means no pictures.
class UnattendedSeam : public UiSeam
{
public:
    int messages = 0;

    Button messageBox(QWidget *, const QString &text, const QString &caption, Icon, int buttons, const QString &) override
    {
        report(caption + QStringLiteral(": ") + text);
        return (buttons & No) ? No : Ok;
    }
    void showMessage(const QString &text) override { report(text); }
    void errorReport(const QString &text) override { report(text); }
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    void sleepMs(int) override {}
    int execDialog(QDialog *) override { return QDialog::Rejected; }

private:
    void report(const QString &text)
    {
        ++messages;
        std::fprintf(stderr, "evm5170-screenshots: the program said: %s\n", qPrintable(text));
    }
};

bool save(QWidget *window, const QDir &dir, const QString &name)
{
    QCoreApplication::processEvents();
    const QString path = dir.filePath(name);
    if (!window->grab().save(path, "PNG")) {
        std::fprintf(stderr, "evm5170-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// "DAC/ADC I/O Configuration" -> "dac-adc-i-o-configuration": a file name from a tab's text.
QString slug(const QString &text)
{
    QString out;
    for (const QChar c : text.toLower()) {
        if (c.isLetterOrNumber())
            out += c;
        else if (!out.isEmpty() && !out.endsWith(QLatin1Char('-')))
            out += QLatin1Char('-');
    }
    while (out.endsWith(QLatin1Char('-')))
        out.chop(1);
    return out;
}

// One picture of the main window on each page, then one of the register map.
int takePictures(const UnattendedSeam &seam, const QDir &out)
{
    if (seam.messages) {
        std::fprintf(stderr, "evm5170-screenshots: the start-up did not reach the board; no pictures taken\n");
        return 1;
    }
    auto *tabs = Form1->findChild<QTabWidget *>(QStringLiteral("MainTab"));
    if (!tabs) {
        std::fprintf(stderr, "evm5170-screenshots: the main window has no MainTab\n");
        return 1;
    }
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        const QString name = QStringLiteral("main-%1-%2.png").arg(page + 1).arg(slug(tabs->tabText(page)));
        if (!save(Form1, out, name))
            return 1;
    }
    tabs->setCurrentIndex(0);
    Form1->RegisterMap1Click();
    return save(RegViewForm, out, QStringLiteral("register-map.png")) ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: evm5170-screenshots OUTPUT-DIRECTORY\n");
        return 2;
    }
    QDir out(args[1]);
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "evm5170-screenshots: cannot create %s\n", qPrintable(args[1]));
        return 1;
    }
    out.setPath(out.absolutePath());

    // A fresh working and settings directory: the pictures show the program's own
    // defaults, never a startup.csv, settings file or simulated chip state that happens to lie around.
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    QDir::setCurrent(work.path());
    qputenv("XDG_CONFIG_HOME", work.path().toLocal8Bit());
    qputenv("OSTREL_SIM_STATE", QByteArray()); // set but empty: the power-on chip, nothing kept

    UnattendedSeam seam;
    UiSeam::install(&seam);

    createProgramWindows();
    Form1->show();

    const int status = takePictures(seam, out);

    Form1->close();
    destroyProgramWindows();
    UiSeam::install(nullptr);
    return status;
}
