// SPDX-License-Identifier: GPL-3.0-or-later
#include "fixture.h"

#include "about.h"
#include "main.h"
#include "program.h"
#include "regview.h"
#include "scriptprogress.h"
#include "splash.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <dlfcn.h>

template <typename F>
F SimApi::fn(const char *name)
{
    auto f = m_handle ? reinterpret_cast<F>(dlsym(m_handle, name)) : nullptr;
    if (!f)
        qFatal("simulator lacks %s", name);
    return f;
}

bool SimApi::load(const QString &path)
{
    // A handle of our own, counted by the dynamic loader, keeps the simulator (and its state)
    // in memory while the program loads and unloads it.
    if (!m_handle)
        m_handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW);
    return m_handle != nullptr;
}

SimApi::~SimApi()
{
    if (m_handle)
        dlclose(m_handle);
}

void SimApi::reset() { fn<void (*)()>("ostrel_sim_reset")(); }
void SimApi::setPresent(bool present) { fn<void (*)(int)>("ostrel_sim_set_present")(present ? 1 : 0); }
void SimApi::setPort(int port) { fn<void (*)(int)>("ostrel_sim_set_port")(port); }
void SimApi::setIicAddress(int address) { fn<void (*)(int)>("ostrel_sim_set_iic_address")(address); }
void SimApi::setVersion(int version) { fn<void (*)(int)>("ostrel_sim_set_version")(version); }
void SimApi::setFault(Fault kind, int after, int code) { fn<void (*)(int, int, int)>("ostrel_sim_set_fault")(kind, after, code); }
int SimApi::reg(int reg) { return fn<int (*)(int)>("ostrel_sim_register")(reg); }
void SimApi::poke(int reg, int value) { fn<void (*)(int, int)>("ostrel_sim_poke")(reg, value); }
int SimApi::line(int pin) { return fn<int (*)(int)>("ostrel_sim_line")(pin); }
void SimApi::clearLog() { fn<void (*)()>("ostrel_sim_clear_log")(); }
bool SimApi::isOpen() { return fn<int (*)()>("ostrel_sim_is_open")() != 0; }

QStringList SimApi::log()
{
    const QString text = QString::fromLatin1(fn<const char *(*)()>("ostrel_sim_log")());
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList SimApi::log(const QString &prefix)
{
    QStringList out;
    for (const QString &l : log())
        if (l.startsWith(prefix))
            out << l;
    return out;
}

QList<RecordingSeam::Call> RecordingSeam::of(const QString &kind) const
{
    QList<Call> out;
    for (const Call &c : calls)
        if (c.kind == kind)
            out << c;
    return out;
}

QList<int> RecordingSeam::sleeps() const
{
    QList<int> out;
    for (const Call &c : of(QStringLiteral("sleep")))
        out << c.ms;
    return out;
}

UiSeam::Button RecordingSeam::messageBox(QWidget *, const QString &text, const QString &caption, Icon icon, int buttons,
                                         const QString &detail)
{
    Call c{QStringLiteral("box"), caption, text, icon, buttons, 0, detail, {}};
    calls << c;
    if (onBox)
        onBox(c);
    if (!answers.isEmpty())
        return answers.takeFirst();
    return (buttons & No) ? No : Ok;
}

void RecordingSeam::showMessage(const QString &text)
{
    calls << Call{QStringLiteral("message"), applicationTitle(), text, Icon::None, Ok, 0, {}, {}};
}

void RecordingSeam::errorReport(const QString &text)
{
    calls << Call{QStringLiteral("error"), applicationTitle(), text, Icon::Error, Ok, 0, {}, {}};
}

QString RecordingSeam::openFileName(QWidget *, const QString &title, const QString &filter, const QString &suffix)
{
    calls << Call{QStringLiteral("open"), suffix, filter, Icon::None, 0, 0, {}, title};
    return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
}

QString RecordingSeam::saveFileName(QWidget *, const QString &title, const QString &filter, const QString &suffix)
{
    calls << Call{QStringLiteral("save"), suffix, filter, Icon::None, 0, 0, {}, title};
    return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
}

void RecordingSeam::sleepMs(int ms)
{
    calls << Call{QStringLiteral("sleep"), {}, {}, Icon::None, 0, ms, {}, {}};
    if (onSleep)
        onSleep(ms);
}

int RecordingSeam::execDialog(QDialog *dialog)
{
    calls << Call{QStringLiteral("dialog"), dialog->windowTitle(), {}, Icon::None, 0, 0, {}, {}};
    return QDialog::Accepted;
}

AppFixture::AppFixture()
{
    m_oldCwd = QDir::currentPath();
    m_oldConfig = qgetenv("XDG_CONFIG_HOME");
    m_oldLibrary = qgetenv("EVM_BOARD_LIBRARY");
    // Run by hand, outside CTest: the power-on chip, never the user's own state file.
    if (!qEnvironmentVariableIsSet("OSTREL_SIM_STATE"))
        qputenv("OSTREL_SIM_STATE", QByteArray());
    if (!sim.load())
        qFatal("cannot load the simulator from %s", OSTREL_SIM_PATH);
    sim.reset();
    UiSeam::install(&seam);
}

AppFixture::~AppFixture()
{
    destroy();
    UiSeam::install(nullptr);
    QDir::setCurrent(m_oldCwd);
    qputenv("XDG_CONFIG_HOME", m_oldConfig);
    if (m_oldLibrary.isEmpty())
        qunsetenv("EVM_BOARD_LIBRARY");
    else
        qputenv("EVM_BOARD_LIBRARY", m_oldLibrary);
}

QString AppFixture::settingsPath() const
{
    return QDir(m_config.path()).filePath(QStringLiteral("EVM5170.ini"));
}

void AppFixture::writeSettings(const QByteArray &iniText)
{
    QFile f(settingsPath());
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write the settings file");
    f.write(iniText);
}

QString AppFixture::file(const QString &name) const
{
    return QDir(m_work.path()).filePath(name);
}

void AppFixture::create(Library library)
{
    QDir::setCurrent(m_work.path());
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    switch (library) {
    case Library::Simulator: qputenv("EVM_BOARD_LIBRARY", OSTREL_SIM_PATH); break;
    case Library::WithoutVersion: qputenv("EVM_BOARD_LIBRARY", OSTREL_NOVER_PATH); break;
    case Library::Missing: qputenv("EVM_BOARD_LIBRARY", QDir(m_work.path()).filePath(QStringLiteral("none/libOstrel.so")).toLocal8Bit()); break;
    }
    createProgramWindows();
    form = Form1;
}

void AppFixture::show()
{
    form->show();
}

void AppFixture::destroy()
{
    if (!form)
        return;
    form->close();
    destroyProgramWindows();
    form = nullptr;
}
