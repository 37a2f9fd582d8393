// SPDX-License-Identifier: GPL-3.0-or-later
// The program on a real X server under a real window manager (run-desktop.sh starts Xvfb and
// openbox): the real windows and the real message boxes and file dialogs, real key, button and
// wheel events through XTest, and the screen's pixels read back and compared with what each
// window paints itself. The offscreen suite cannot see any of this.
#include "fixture.h"
#include "toolrun.h"
#include "uitest.h"
#include "xscreen.h"

#include "main.h"
#include "pictures.h"
#include "pressableimage.h"
#include "scriptprogress.h"
#include "splash.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProcessEnvironment>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

constexpr int kWait = 15000; // bounded waits: generous, a loaded machine maps windows slowly

// The real seam (real boxes, dialogs and sleeps), with a look at the screen before each sleep:
// that is when the program's thread blocks and only what it has drawn is on the screen.
class SpySeam : public UiSeam
{
public:
    UiSeam *real = nullptr;
    std::function<void(int)> beforeSleep;

    Button messageBox(QWidget *owner, const QString &text, const QString &caption, Icon icon, int buttons,
                      const QString &detail) override
    {
        return real->messageBox(owner, text, caption, icon, buttons, detail);
    }
    void showMessage(const QString &text) override { real->showMessage(text); }
    void errorReport(const QString &text) override { real->errorReport(text); }
    QString openFileName(QWidget *owner, const QString &title, const QString &filter, const QString &suffix) override
    {
        return real->openFileName(owner, title, filter, suffix);
    }
    QString saveFileName(QWidget *owner, const QString &title, const QString &filter, const QString &suffix) override
    {
        return real->saveFileName(owner, title, filter, suffix);
    }
    void sleepMs(int ms) override
    {
        if (beforeSleep)
            beforeSleep(ms);
        real->sleepMs(ms);
    }
    int execDialog(QDialog *dialog) override { return real->execDialog(dialog); }
};

// Runs `handler` inside the event loop of each modal dialog the program shows, once per dialog.
// With `rejectExtra`, a dialog shown while the handler of another still runs is closed at once
// (and counted): a box that opens again must not hang the suite.
class DialogWatcher : public QObject
{
public:
    std::function<void(QDialog *)> handler;
    bool rejectExtra = false;
    int shown = 0;
    QStringList texts;

    DialogWatcher()
    {
        qApp->installEventFilter(this);
        connect(&m_timer, &QTimer::timeout, this, &DialogWatcher::poll);
        m_timer.start(10);
    }
    ~DialogWatcher() override { qApp->removeEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            auto *d = qobject_cast<QDialog *>(watched);
            if (d && d->isWindow() && d->isModal()) {
                ++shown;
                if (auto *box = qobject_cast<QMessageBox *>(d))
                    texts << box->text();
                if (rejectExtra && m_busy)
                    QTimer::singleShot(0, d, [d] { d->reject(); });
                else
                    m_pending << d;
            }
        }
        return false;
    }

private:
    void poll()
    {
        while (!m_pending.isEmpty() && !m_busy) {
            QPointer<QDialog> d = m_pending.takeFirst();
            if (!d || !d->isVisible() || !handler)
                continue;
            m_busy = true;
            handler(d);
            m_busy = false;
        }
    }
    QTimer m_timer;
    QList<QPointer<QDialog>> m_pending;
    bool m_busy = false;
};

// The simulated board's state file, which the tool shares with the window.
QString statePath()
{
    static const QTemporaryDir dir;
    return dir.filePath(QStringLiteral("state.csv"));
}

// One program on the desktop: the fixture's windows and simulator, the real seam.
struct Desk {
    AppFixture fx;
    SpySeam spy;
    XScreen x;
    DialogWatcher watch;

    Desk()
    {
        QFile::remove(statePath()); // every program starts on a powered-on chip
        UiSeam::install(nullptr);
        spy.real = &UiSeam::current();
        UiSeam::install(&spy);
    }
    ~Desk()
    {
        watch.handler = nullptr;
        fx.destroy();
        UiSeam::install(nullptr);
    }
    // Shows the main window (the connection sequence runs) and waits until it has the keyboard.
    bool start()
    {
        fx.show();
        return QTest::qWaitForWindowActive(fx.form, kWait) && activeWithKeyboard(fx.form) && x.shows(fx.form, kWait);
    }
    bool activeWithKeyboard(QWidget *window)
    {
        return QTest::qWaitFor([&] { return window->isActiveWindow() && x.hasInputFocus(window); }, kWait);
    }
    template <typename T>
    T *find(const char *name) const
    {
        return fx.find<T>(QLatin1String(name));
    }
    // Closes a dialog the way a user does, once it has the keyboard, and waits until it is gone;
    // false if it never got the keyboard or the key did not close it.
    bool closeWithKey(QDialog *d, const char *key = "Return")
    {
        QPointer<QDialog> p(d);
        if (!QTest::qWaitFor([&] { return !p || (p->isActiveWindow() && x.hasInputFocus(p)); }, kWait)) {
            qWarning("%s never got the keyboard", d->metaObject()->className());
            if (p)
                p->reject();
            return false;
        }
        x.key(key);
        if (QTest::qWaitFor([&] { return !p || !p->isVisible(); }, kWait))
            return true;
        qWarning("%s stayed open after %s", d->metaObject()->className(), key);
        if (p)
            p->reject();
        return false;
    }
};

bool waitFocus(QWidget *w)
{
    return QTest::qWaitFor([w] { return QApplication::focusWidget() == w; }, kWait);
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void boxesAboveBusyWindowTakeInput_data();
    void boxesAboveBusyWindowTakeInput();
    void busyWindowsDrawnBeforeWork_data();
    void busyWindowsDrawnBeforeWork();
    void enterClosingErrorBoxDoesNotReopenIt_data();
    void enterClosingErrorBoxDoesNotReopenIt();
    void statusTextSurvivesMenus();
    void keyboard();
    void wheelTurnsOnlyFocusedControl();
    void dialogTitles();
    void scriptStopSaysWhere_data();
    void scriptStopSaysWhere();
    void windowFollowsTheChip();
};

void TestDesktop::initTestCase()
{
    // Named before the first window loads the simulator, which reads its environment then.
    qputenv("OSTREL_SIM_STATE", QFile::encodeName(statePath()));
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    XScreen x;
    QVERIFY2(x.isOpen(), "no X server: run through run-desktop.sh");
}

// --- 1: a box raised while the busy window is up is seen above it and takes the Enter key.

void TestDesktop::boxesAboveBusyWindowTakeInput_data()
{
    QTest::addColumn<QString>("fault");  // read, pin, write or none
    QTest::addColumn<int>("after");
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("button"); // clicked after start-up; empty: the boxes come at start-up
    QTest::addColumn<int>("boxes");
    QTest::newRow("read-back fails at start-up") << "read" << 5 << QByteArray() << QString() << 1;
    QTest::newRow("line writes fail at start-up") << "pin" << 0 << QByteArray() << QString() << 17;
    QTest::newRow("settings file corrupted") << "none" << 0 << QByteArray("[SerialInterface]\nType=abc\n") << QString() << 1;
    QTest::newRow("MRST write fails") << "write" << 0 << QByteArray() << "btnMRST" << 1;
    QTest::newRow("RESET read-back fails") << "read" << 3 << QByteArray() << "btnRESET" << 1;
    QTest::newRow("Reconnect line writes fail") << "pin" << 0 << QByteArray() << "bBDRST" << 15;
}

void TestDesktop::boxesAboveBusyWindowTakeInput()
{
    QFETCH(QString, fault);
    QFETCH(int, after);
    QFETCH(QByteArray, ini);
    QFETCH(QString, button);
    QFETCH(int, boxes);

    Desk desk;
    int seen = 0, drawn = 0, closedByKey = 0, busyUp = 0;
    desk.watch.handler = [&](QDialog *d) {
        ++seen;
        busyUp += SplashForm && SplashForm->isVisible();
        // After the first failure the rest are only closed, so a broken program fails quickly.
        if (drawn == seen - 1 && desk.x.shows(d, kWait))
            ++drawn;
        if (closedByKey == seen - 1 && desk.closeWithKey(d))
            ++closedByKey;
        else if (d->isVisible())
            d->reject();
    };
    const auto arm = [&] {
        const SimApi::Fault kind = fault == QLatin1String("read") ? SimApi::Read
                                   : fault == QLatin1String("pin") ? SimApi::Pin
                                                                  : SimApi::Write;
        if (fault != QLatin1String("none"))
            desk.fx.sim.setFault(kind, after, 0x0105);
    };
    if (!ini.isEmpty())
        desk.fx.writeSettings(ini);
    if (button.isEmpty())
        arm();
    desk.fx.create();
    QVERIFY(desk.start());
    if (!button.isEmpty()) {
        arm();
        desk.x.clickOn(desk.find<QWidget>(button.toLatin1().constData()));
        QVERIFY(QTest::qWaitFor([&] { return seen >= boxes && !SplashForm->isVisible(); }, 4 * kWait));
    }
    QCOMPARE(seen, boxes);
    QCOMPARE(busyUp, boxes); // each box came while the busy window was up
    QCOMPARE(drawn, boxes);
    QCOMPARE(closedByKey, boxes);
}

// --- 2: the busy window and the script progress window are on the screen while the work blocks.

void TestDesktop::busyWindowsDrawnBeforeWork_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("MRST") << "btnMRST";
    QTest::newRow("RESET") << "btnRESET";
    QTest::newRow("Reconnect") << "bBDRST";
    QTest::newRow("script") << "script";
}

void TestDesktop::busyWindowsDrawnBeforeWork()
{
    QFETCH(QString, what);
    Desk desk;
    desk.fx.create();
    QVERIFY(desk.start());

    const bool script = what == QLatin1String("script");
    QWidget *busy = script ? static_cast<QWidget *>(scriptProgress) : SplashForm;
    int sleeps = 0;
    bool drawn = false;
    QString text;
    desk.spy.beforeSleep = [&](int) {
        if (sleeps++ == 0) {
            text = SplashForm->Label1->text();
            // The thread is blocked here: only what the program drew before can be on the screen.
            drawn = desk.x.showsWithoutEvents(busy, 5000);
        }
    };
    if (script) {
        const QString path = desk.fx.file(QStringLiteral("slow.csv"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("0x41, 0x01\nsleep, 50\n0x41, 0x00\n");
        f.close();
        desk.watch.handler = [&](QDialog *d) {
            if (auto *fd = qobject_cast<QFileDialog *>(d)) {
                fd->selectFile(path);
                desk.closeWithKey(fd);
            }
        };
        QTimer::singleShot(0, desk.find<QAction>("Open1"), &QAction::trigger);
        QVERIFY(QTest::qWaitFor([&] { return sleeps > 0 && !scriptProgress->isVisible(); }, 2 * kWait));
    } else {
        desk.x.clickOn(desk.find<QWidget>(what.toLatin1().constData()));
        QVERIFY(QTest::qWaitFor([&] { return sleeps > 0 && !SplashForm->isVisible(); }, 2 * kWait));
        QCOMPARE(text, QStringLiteral("Reset in progress ..."));
    }
    QVERIFY2(drawn, "the screen did not show the window while the work went on");
}

// --- 3: the Enter that closes an error box does not open it again.

void TestDesktop::enterClosingErrorBoxDoesNotReopenIt_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("typed");
    QTest::newRow("direct access data") << "RDA_data" << QString() << "zz";
    QTest::newRow("dB edit") << "edDAC1" << "DACAtt" << "abc";
}

void TestDesktop::enterClosingErrorBoxDoesNotReopenIt()
{
    QFETCH(QString, edit);
    QFETCH(QString, page);
    QFETCH(QString, typed);
    Desk desk;
    desk.fx.create();
    QVERIFY(desk.start());
    if (!page.isEmpty()) {
        auto *tabs = desk.find<QTabWidget>("MainTab");
        tabs->setCurrentWidget(desk.find<QWidget>(page.toLatin1().constData()));
    }
    auto *lineEdit = desk.find<QLineEdit>(edit.toLatin1().constData());
    QVERIFY(lineEdit);
    QVERIFY(desk.x.shows(lineEdit, kWait));
    desk.x.clickOn(lineEdit);
    QVERIFY(waitFocus(lineEdit));
    lineEdit->clear();
    for (const QChar c : typed)
        desk.x.key(QByteArray(1, char(c.toLatin1())).constData());
    QVERIFY(QTest::qWaitFor([&] { return lineEdit->text() == typed; }, kWait));

    // The releases of Enter that reach the edit.
    struct ReleaseCounter : QObject {
        QObject *target = nullptr;
        int count = 0;
        bool eventFilter(QObject *o, QEvent *e) override
        {
            if (o == target && e->type() == QEvent::KeyRelease && static_cast<QKeyEvent *>(e)->key() == Qt::Key_Return)
                ++count;
            return false;
        }
    } releases;
    releases.target = lineEdit;
    qApp->installEventFilter(&releases);

    bool closedOnPress = false;
    desk.watch.rejectExtra = true;
    desk.watch.handler = [&](QDialog *d) {
        QPointer<QDialog> box(d);
        if (!desk.x.shows(d, kWait))
            return d->reject();
        // A user's Enter: the box goes on the key press, the release comes once the edit has the
        // keyboard again.
        desk.x.keyDown("Return");
        closedOnPress = QTest::qWaitFor([&] { return !box || !box->isVisible(); }, kWait);
        if (!closedOnPress && box)
            box->reject();
        (void)QTest::qWaitFor(
            [&] { return QApplication::focusWidget() == lineEdit && desk.x.hasInputFocus(lineEdit->window()); }, kWait);
        const int before = releases.count;
        desk.x.keyUp("Return");
        (void)QTest::qWaitFor([&] { return releases.count > before; }, kWait);
    };
    desk.x.key("Return");
    QVERIFY(QTest::qWaitFor([&] { return desk.watch.shown >= 1 && releases.count >= 2; }, 2 * kWait));
    qApp->removeEventFilter(&releases);
    QVERIFY(closedOnPress);
    QCOMPARE(desk.watch.shown, 1);
}

// --- 4: "Ready" stays in the status bar after a menu has been opened.

void TestDesktop::statusTextSurvivesMenus()
{
    Desk desk;
    desk.fx.create();
    QVERIFY(desk.start());
    auto *bar = desk.find<QWidget>("StatusBar1");
    QVERIFY(desk.x.shows(bar, kWait));
    const QRect rect(bar->mapToGlobal(QPoint(0, 0)), bar->size());
    const QImage before = desk.x.grab(rect);

    auto *menuBar = desk.fx.form->menuBar();
    auto *file = desk.find<QMenu>("File1");
    QVERIFY(file);
    desk.x.click(menuBar->mapToGlobal(menuBar->actionGeometry(file->menuAction()).center()));
    QVERIFY(QTest::qWaitFor([&] { return file->isVisible() && desk.x.matchOf(file) >= XScreen::kMatch; }, kWait));
    auto *open = desk.find<QAction>("Open1");
    desk.x.moveTo(file->mapToGlobal(file->actionGeometry(open).center()));
    QVERIFY(QTest::qWaitFor([&] { return file->activeAction() == open; }, kWait));
    desk.x.key("Escape");
    QVERIFY(QTest::qWaitFor([&] { return !file->isVisible(); }, kWait));
    desk.x.key("Escape");
    QVERIFY2(QTest::qWaitFor([&] { return desk.x.grab(rect) == before; }, 5000),
             "the status bar lost its text when a menu was opened");
}

// --- 5: Tab, Space, Enter and the usual shortcuts.

void TestDesktop::keyboard()
{
    Desk desk;
    desk.fx.create();
    QVERIFY(desk.start());

    // Tab round the window from the direct-access address, noting every stop.
    auto *start = desk.find<QWidget>("RDA_reg");
    desk.x.clickOn(start);
    QVERIFY(waitFocus(start));
    QStringList stops;
    for (int i = 0; i < 200; ++i) {
        QWidget *before = QApplication::focusWidget();
        desk.x.key("Tab");
        QVERIFY2(QTest::qWaitFor([&] { return QApplication::focusWidget() != before; }, kWait),
                 qPrintable(QStringLiteral("Tab stays in ") + (before ? before->objectName() : QStringLiteral("nothing"))));
        QWidget *now = QApplication::focusWidget();
        if (now == start)
            break;
        stops << now->objectName();
        if (qobject_cast<PressableImage *>(now)) {
            // A visible focus frame: the screen shows the plate with something drawn on it.
            QVERIFY2(desk.x.shows(now, kWait), qPrintable(now->objectName()));
            const QImage plate = static_cast<PressableImage *>(now)->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
            const QImage shown = desk.x.grab(QRect(now->mapToGlobal(QPoint(0, 0)), plate.size()));
            QVERIFY2(shown != plate, qPrintable(now->objectName() + QStringLiteral(" shows no focus frame")));
        }
    }
    for (const char *name : {"imgSave", "imgClear", "imgRead", "imgWrite", "imgExit"})
        QVERIFY2(stops.contains(QLatin1String(name)), name);
    // The interface group's one stop is its checked item, SPI.
    QVERIFY(stops.contains(QStringLiteral("rgInterface_1")));
    QVERIFY(!stops.contains(QStringLiteral("rgInterface_0")));

    // Space presses Clear: down while the key is down, the click on its release.
    auto *clear = desk.find<PressableImage>("imgClear");
    auto *group = desk.find<QWidget>("GroupBox23");
    const QPoint home = clear->pos();
    desk.fx.form->appendHistory(QStringLiteral("0x41, 0x00"));
    clear->setFocus();
    QVERIFY(waitFocus(clear));
    desk.x.keyDown("space");
    QVERIFY(QTest::qWaitFor([&] { return clear->pos() == home + QPoint(1, 1); }, kWait));
    QVERIFY(desk.x.shows(group, kWait));
    QVERIFY(!historyOf(desk.fx).isEmpty());
    desk.x.keyUp("space");
    QVERIFY(QTest::qWaitFor([&] { return historyOf(desk.fx).isEmpty() && clear->pos() == home; }, kWait));

    // Enter presses Read.
    auto *read = desk.find<PressableImage>("imgRead");
    desk.find<QLineEdit>("RDA_reg")->setText(QStringLiteral("0x47"));
    desk.find<QLineEdit>("RDA_data")->setText(QStringLiteral("0x00"));
    read->setFocus();
    QVERIFY(waitFocus(read));
    desk.x.key("Return");
    QVERIFY(QTest::qWaitFor([&] { return desk.find<QLineEdit>("RDA_data")->text() == QLatin1String("0xFF"); }, kWait));

    // The shortcuts; the captions stay as designed.
    QCOMPARE(desk.find<QAction>("Open1")->text(), QStringLiteral("&Open script"));
    QCOMPARE(desk.find<QAction>("SaveRegisterDump")->text(), QStringLiteral("&Save register snapshot"));
    QCOMPARE(desk.find<QAction>("Exit1")->text(), QStringLiteral("Exit"));
    QCOMPARE(desk.find<QAction>("About2")->text(), QStringLiteral("&About"));
    QStringList opened;
    desk.watch.handler = [&](QDialog *d) {
        opened << d->metaObject()->className();
        desk.closeWithKey(d, "Escape");
    };
    const auto chord = [&](const char *key, int dialogs) {
        desk.x.keyDown("Control_L");
        desk.x.key(key);
        desk.x.keyUp("Control_L");
        return QTest::qWaitFor([&] { return opened.size() == dialogs; }, kWait);
    };
    QVERIFY(chord("o", 1));
    QVERIFY(chord("s", 2));
    desk.x.key("F1");
    QVERIFY(QTest::qWaitFor([&] { return opened.size() == 3; }, kWait));
    QCOMPARE(opened, QStringList({"QFileDialog", "QFileDialog", "TAboutDialog"}));
    QVERIFY(desk.activeWithKeyboard(desk.fx.form));
    desk.x.keyDown("Control_L");
    desk.x.key("q");
    desk.x.keyUp("Control_L");
    QVERIFY(QTest::qWaitFor([&] { return !desk.fx.form->isVisible(); }, kWait));
}

// --- 6: the wheel turns only a control that has the keyboard focus.

void TestDesktop::wheelTurnsOnlyFocusedControl()
{
    Desk desk;
    desk.fx.create();
    QVERIFY(desk.start());

    struct WheelCounter : QObject {
        QObject *target = nullptr;
        int count = 0;
        bool eventFilter(QObject *o, QEvent *e) override
        {
            if (o == target && e->type() == QEvent::Wheel)
                ++count;
            return false;
        }
    } wheels;
    qApp->installEventFilter(&wheels);
    auto *tabs = desk.find<QTabWidget>("MainTab");
    const auto turn = [&](QWidget *w) {
        wheels.target = w;
        const int before = wheels.count;
        desk.x.wheel(w->mapToGlobal(w->rect().center()), false);
        return QTest::qWaitFor([&] { return wheels.count > before; }, kWait);
    };

    auto *combo = desk.find<QComboBox>("cbDACFMT");
    auto *slider = desk.find<QSlider>("tkDAC1");
    QVERIFY(combo && slider);
    desk.x.clickOn(desk.find<QWidget>("RDA_reg"));
    QVERIFY(waitFocus(desk.find<QWidget>("RDA_reg")));

    desk.fx.sim.clearLog();
    const int index = combo->currentIndex();
    QVERIFY(turn(combo));
    QVERIFY(turn(combo));
    QCOMPARE(combo->currentIndex(), index);
    QVERIFY(!combo->hasFocus());

    tabs->setCurrentWidget(desk.find<QWidget>("DACAtt"));
    QVERIFY(desk.x.shows(slider, kWait));
    const int position = slider->value();
    QVERIFY(turn(slider));
    QCOMPARE(slider->value(), position);
    QCOMPARE(desk.fx.sim.log(QStringLiteral("_writeData")), QStringList());

    // With the focus the wheel works as ever.
    slider->setFocus();
    QVERIFY(waitFocus(slider));
    QVERIFY(turn(slider));
    QVERIFY(QTest::qWaitFor([&] { return slider->value() != position; }, kWait));
    QVERIFY(!desk.fx.sim.log(QStringLiteral("_writeData(channel=0, reg=0x48")).isEmpty());
    qApp->removeEventFilter(&wheels);
}

// --- 7: the file dialogs say what they do.

void TestDesktop::dialogTitles()
{
    Desk desk;
    desk.fx.create();
    QVERIFY(desk.start());
    QStringList titles;
    desk.watch.handler = [&](QDialog *d) {
        QString shown;
        // The title as the window manager draws it.
        (void)QTest::qWaitFor([&] { return !(shown = desk.x.windowManagerTitle(d)).isEmpty(); }, kWait);
        titles << shown;
        desk.closeWithKey(d, "Escape");
    };
    QTimer::singleShot(0, desk.find<QAction>("Open1"), &QAction::trigger);
    QVERIFY(QTest::qWaitFor([&] { return titles.size() == 1; }, kWait));
    QTimer::singleShot(0, desk.find<QAction>("SaveRegisterDump"), &QAction::trigger);
    QVERIFY(QTest::qWaitFor([&] { return titles.size() == 2; }, kWait));
    QVERIFY(desk.activeWithKeyboard(desk.fx.form));
    desk.x.clickOn(desk.find<QWidget>("imgSave"));
    QVERIFY(QTest::qWaitFor([&] { return titles.size() == 3; }, kWait));
    QCOMPARE(titles, QStringList({"Open script", "Save register snapshot", "Save register setting history"}));
}

// --- 8: a script's stop box says where it stopped.

void TestDesktop::scriptStopSaysWhere_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("detail");
    QTest::newRow("opened script") << "bad.csv"
                                   << QByteArray("0x40, 0xC1\n0x41,0x06\nsleep, 1\n72 200\nSLEEP,1,settle\n$44, 0XFF\n0x4A, 0x1FF\n0x4B, 0x00\n")
                                   << "Invalid register data!" << "bad.csv, line 7: 0x4A, 0x1FF";
    QTest::newRow("startup.csv") << "startup.csv" << QByteArray("0x41, 0x12\r\nsleep, 10ms\r\n")
                                 << "Invalid sleep time." << "startup.csv, line 2: sleep, 10ms";
}

void TestDesktop::scriptStopSaysWhere()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, text);
    QFETCH(QString, detail);
    Desk desk;
    const QString path = desk.fx.file(file);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();

    QStringList texts, captions, details;
    bool drawn = false, closed = false;
    desk.watch.handler = [&](QDialog *d) {
        if (auto *fd = qobject_cast<QFileDialog *>(d)) {
            fd->selectFile(path);
            desk.closeWithKey(fd);
            return;
        }
        auto *box = qobject_cast<QMessageBox *>(d);
        texts << box->text();
        captions << box->windowTitle();
        details << box->informativeText();
        drawn = desk.x.shows(box, kWait);
        closed = desk.closeWithKey(box);
    };
    desk.fx.create();
    QVERIFY(desk.start());
    if (file != QLatin1String("startup.csv")) {
        QTimer::singleShot(0, desk.find<QAction>("Open1"), &QAction::trigger);
        QVERIFY(QTest::qWaitFor([&] { return closed; }, 2 * kWait));
    }
    QCOMPARE(texts, QStringList{text});
    QCOMPARE(captions, QStringList{QStringLiteral("Script file error")});
    QCOMPARE(details, QStringList{detail});
    QVERIFY(drawn);
    QVERIFY(closed);
}

// --- 9: the window follows the chip: F5 after the tool changed it, the lamps lit live by the
// automatic read, and a failed read said in the status bar and the picture.

void TestDesktop::windowFollowsTheChip()
{
    Desk desk;
    desk.fx.writeSettings("[View]\nAutoReadMs=100\n");
    desk.fx.create();
    QVERIFY(desk.start());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("EVM_BOARD_LIBRARY"), QStringLiteral(OSTREL_SIM_PATH));
    env.insert(QStringLiteral("OSTREL_SIM_STATE"), statePath());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), desk.fx.configDir());
    const ToolRun run = runTool(env, desk.fx.workDir(), {"set", "MUTDA1", "1"});
    QVERIFY2(run.exitCode == 0, run.err.constData());

    auto *mute = desk.find<QCheckBox>("cDAC1");
    showPageOf(desk.fx, mute);
    QVERIFY(desk.x.shows(mute, kWait));
    const QImage unticked = desk.x.grab(QRect(mute->mapToGlobal(QPoint(0, 0)), mute->size()));
    QVERIFY(!mute->isChecked());
    desk.fx.sim.clearLog();
    QVERIFY(desk.activeWithKeyboard(desk.fx.form));
    desk.x.key("F5");
    QVERIFY(QTest::qWaitFor([&] { return mute->isChecked(); }, kWait));
    QVERIFY(desk.x.shows(mute, kWait));
    QVERIFY(desk.x.grab(QRect(mute->mapToGlobal(QPoint(0, 0)), mute->size())) != unticked);
    const QStringList log = desk.fx.sim.log();
    QCOMPARE(log.size(), 31);
    for (const QString &line : log)
        QVERIFY2(line.startsWith(QLatin1String("_readData(channel=0, ")), qPrintable(line));
    QVERIFY(historyOf(desk.fx).isEmpty());

    // The automatic read of the flags, ticked in the menu with the mouse.
    auto *menuBar = desk.fx.form->menuBar();
    auto *view = desk.find<QMenu>("View1");
    auto *autoRead = desk.find<QAction>("actAutoRead");
    desk.x.click(menuBar->mapToGlobal(menuBar->actionGeometry(view->menuAction()).center()));
    QVERIFY(QTest::qWaitFor([&] { return view->isVisible() && desk.x.matchOf(view) >= XScreen::kMatch; }, kWait));
    desk.x.click(view->mapToGlobal(view->actionGeometry(autoRead).center()));
    QVERIFY(QTest::qWaitFor([&] { return autoRead->isChecked() && !view->isVisible(); }, kWait));

    auto *lamp = desk.find<QLabel>("OVF3");
    showPageOf(desk.fx, lamp);
    QVERIFY(desk.x.shows(lamp, kWait));
    desk.fx.sim.poke(0x5B, 0xE0); // ADC3 above 0 dB: its overflow flag is set while it is
    QVERIFY(QTest::qWaitFor([&] { return lamps(desk.fx, "OVF", 6) == QLatin1String("001000"); }, kWait));
    QVERIFY(desk.x.shows(lamp, kWait));

    // The board stops answering: one box, the read stops, and the screen shows the error.
    QStringList texts;
    desk.watch.handler = [&](QDialog *d) {
        if (auto *box = qobject_cast<QMessageBox *>(d))
            texts << box->text();
        desk.closeWithKey(d);
    };
    desk.fx.sim.setFault(SimApi::Read, 0, 0x0102);
    QVERIFY(QTest::qWaitFor([&] { return !autoRead->isChecked() && texts.size() == 1 && !QApplication::activeModalWidget(); }, kWait));
    QCOMPARE(texts, QStringList{QStringLiteral("Communication error: RDERR0102\nPlease check interface setting.")});
    auto *picture = desk.find<QLabel>("imgConnection");
    QCOMPARE(picture->pixmap().toImage(), pictures::connectionPlate(2).toImage());
    QVERIFY(statusText(desk.fx).startsWith(QLatin1String("Communication error: RDERR0102 at ")));
    QVERIFY(desk.x.shows(picture, kWait));
    QVERIFY(desk.x.shows(desk.find<QWidget>("StatusBar1"), kWait));
    desk.fx.sim.clearLog();
    QTest::qWait(500);
    QCOMPARE(desk.fx.sim.log(), QStringList());
    QCOMPARE(texts.size(), 1);
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
