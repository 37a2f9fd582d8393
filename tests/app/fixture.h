// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared by the window tests: the simulated board as the tests see it, a seam
// that records every blocking call, and the program's windows built in the
// program's own order against the simulator.
#include "uiseam.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class TForm1;

// The simulator's test API, resolved from the very library the program loads.
class SimApi
{
public:
    bool load(const QString &path = QStringLiteral(OSTREL_SIM_PATH));
    void reset();
    void setPresent(bool present);
    void setPort(int port);
    void setIicAddress(int address);
    void setVersion(int version);
    enum Fault { Read = 0, Write = 1, Pin = 2 };
    void setFault(Fault kind, int after, int code);
    int reg(int reg);
    void poke(int reg, int value);
    int line(int pin);
    // The call log since the last clear, one entry per library call.
    QStringList log();
    // Only the lines of the log that start with prefix (e.g. "_writeData(channel=7").
    QStringList log(const QString &prefix);
    void clearLog();
    bool isOpen();

    ~SimApi();

private:
    void *m_handle = nullptr;
    template <typename F>
    F fn(const char *name);
};

class RecordingSeam : public UiSeam
{
public:
    struct Call {
        QString kind; // "box", "message", "error", "open", "save", "sleep", "dialog"
        QString caption;
        QString text;
        Icon icon = Icon::None;
        int buttons = 0;
        int ms = 0;
        QString detail; // a box's informative text
        QString title;  // a file dialog's caption
    };
    QList<Call> calls;
    QList<Button> answers;       // for message boxes; Ok (or No for Yes/No) when empty
    QStringList fileNames;       // for file dialogs; empty text (cancel) when empty
    std::function<void(int)> onSleep;
    std::function<void(const Call &)> onBox; // runs inside a message box, like a nested event loop

    QList<Call> of(const QString &kind) const;
    int count(const QString &kind) const { return int(of(kind).size()); }
    QList<int> sleeps() const;
    void clear() { calls.clear(); }

    Button messageBox(QWidget *owner, const QString &text, const QString &caption, Icon icon, int buttons,
                      const QString &detail = QString()) override;
    void showMessage(const QString &text) override;
    void errorReport(const QString &text) override;
    QString openFileName(QWidget *owner, const QString &title, const QString &filter, const QString &defaultSuffix) override;
    QString saveFileName(QWidget *owner, const QString &title, const QString &filter, const QString &defaultSuffix) override;
    void sleepMs(int ms) override;
    int execDialog(QDialog *dialog) override;
};

// One program run: the windows in start-up order, the simulator reset before,
// the working and configuration directories fresh and private to the run.
class AppFixture
{
public:
    enum class Library { Simulator, WithoutVersion, Missing };

    AppFixture();
    ~AppFixture();

    // The simulator is reset, then the hook runs (faults, absent board...), then the windows are created.
    void create(Library library = Library::Simulator);
    // Shows the main window, which runs the connection sequence.
    void show();
    void create_and_show(Library library = Library::Simulator)
    {
        create(library);
        show();
    }
    // Closes the main window (its close handling runs) and destroys every window.
    void destroy();

    QString workDir() const { return m_work.path(); }
    QString configDir() const { return m_config.path(); }
    QString settingsPath() const;
    void writeSettings(const QByteArray &iniText);
    // A file in the private working directory.
    QString file(const QString &name) const;

    TForm1 *form = nullptr;
    SimApi sim;
    RecordingSeam seam;

    template <typename T>
    T *find(const QString &name) const;

private:
    QTemporaryDir m_work;
    QTemporaryDir m_config;
    QString m_oldCwd;
    QByteArray m_oldConfig;
    QByteArray m_oldLibrary;
};

#include <QWidget>
#include "main.h"
#include "regview.h"

template <typename T>
T *AppFixture::find(const QString &name) const
{
    if (T *w = form->findChild<T *>(name))
        return w;
    if (RegViewForm)
        return RegViewForm->findChild<T *>(name);
    return nullptr;
}
