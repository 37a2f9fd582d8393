// SPDX-License-Identifier: GPL-3.0-or-later
// A seeded random walk through the real windows: picks, ticks, radio clicks, track bars,
// typed dB and direct-access text (junk included), the resets, Reconnect, interface and
// address changes, master mutes (with a user's action inside their pause), flag reads,
// short scripts, Read all and the automatic reads, while board faults come and go. After
// every action the controls show the shadow whenever a board is connected; at the end, with
// the faults gone and a RESET made with a healthy board, every control shows the chip.
//
// EVM_MONKEY_SEED=n replays one seed; EVM_MONKEY_SEEDS=k walks seeds 1..k;
// EVM_MONKEY_STEPS sets the number of actions a seed.
#include "consistency.h"
#include "fixture.h"
#include "uitest.h"

#include "main.h"
#include "pressableimage.h"
#include "radiogroup.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <random>

namespace {

class Monkey
{
public:
    Monkey(AppFixture &fx, unsigned seed) : m_fx(fx), m_rng(seed) {}

    int below(int n) { return int(m_rng() % unsigned(n)); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T>
    const T &oneOf(const QList<T> &list) { return list[below(int(list.size()))]; }

    // One user action; nested ones (inside a pause or a box) are kept simple.
    void act(bool nested = false);
    QStringList trail; // the actions so far, for the report of a failing seed

private:
    void say(const QString &what) { trail << (m_depth > 1 ? QStringLiteral("  (nested) ") : QString()) + what; }
    void clickButton(QAbstractButton *b);
    void typeInto(QLineEdit *edit, const QString &text);
    QString junkOrNumber(const QStringList &good);

    AppFixture &m_fx;
    std::mt19937 m_rng;
    int m_depth = 0;
    int m_file = 0;
};

void Monkey::clickButton(QAbstractButton *b)
{
    showPageOf(m_fx, b);
    // Check boxes and radios on their indicator, push and tool buttons in the middle.
    if (qobject_cast<QCheckBox *>(b) || qobject_cast<QRadioButton *>(b))
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    else
        QTest::mouseClick(b, Qt::LeftButton);
}

void Monkey::typeInto(QLineEdit *edit, const QString &text)
{
    showPageOf(m_fx, edit);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

QString Monkey::junkOrNumber(const QStringList &good)
{
    static const QStringList junk{QString(), QStringLiteral("zz"), QStringLiteral("0x"), QStringLiteral("1e3"),
                                  QStringLiteral("--1"), QStringLiteral("$"), QStringLiteral("12,5"), QStringLiteral("nan"),
                                  QStringLiteral(" 7 "), QStringLiteral("99999999999")};
    return chance(25) ? oneOf(junk) : oneOf(good);
}

void Monkey::act(bool nested)
{
    TForm1 *f = m_fx.form;
    ++m_depth;
    // Nested inside a pause: what a user does in 200 ms, the resets and Reconnect most of all.
    static const int kNested[] = {0, 1, 3, 5, 7, 7, 7, 10};
    switch (nested ? kNested[below(8)] : below(20)) {
    case 0: { // a pick
        const ComboBinding &row = f->comboTable[size_t(below(int(f->comboTable.size())))];
        const int index = below(row.combo->count());
        say(QStringLiteral("pick %1 item %2").arg(row.combo->objectName()).arg(index));
        pick(m_fx, row.combo, index);
        break;
    }
    case 1: { // a tick
        QCheckBox *box = f->checkTable[size_t(below(int(f->checkTable.size())))].box;
        say(QStringLiteral("tick %1").arg(box->objectName()));
        clickButton(box);
        break;
    }
    case 2: { // a radio item
        const RadioBinding &row = f->radioTable[size_t(below(int(f->radioTable.size())))];
        const int index = below(row.group->count());
        say(QStringLiteral("radio %1 item %2").arg(row.group->objectName()).arg(index));
        clickButton(row.group->button(index));
        break;
    }
    case 3: { // a track bar, dragged or by keyboard
        const SliderBinding &row = f->sliderTable[size_t(below(int(f->sliderTable.size())))];
        if (!row.track->isEnabled())
            break;
        showPageOf(m_fx, row.track);
        if (chance(50)) {
            const int to = below(256);
            say(QStringLiteral("drag %1 to %2").arg(row.track->objectName()).arg(to));
            row.track->setSliderPosition(to);
        } else {
            const Qt::Key key = oneOf(QList<Qt::Key>{Qt::Key_Left, Qt::Key_Right, Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End});
            say(QStringLiteral("key %1 on %2").arg(int(key)).arg(row.track->objectName()));
            QTest::keyClick(row.track, key);
        }
        break;
    }
    case 4: { // typed dB
        const SliderBinding &row = f->sliderTable[size_t(below(int(f->sliderTable.size())))];
        if (!row.edit->isEnabled())
            break;
        const QString text = junkOrNumber({QStringLiteral("0"), QStringLiteral("-3.2"), QStringLiteral("10.25"), QStringLiteral("-200"),
                                           QStringLiteral("30"), QStringLiteral("0.2"), QStringLiteral("-0.1"), QStringLiteral("-64")});
        say(QStringLiteral("type '%1' and Enter in %2").arg(text, row.edit->objectName()));
        typeInto(row.edit, text);
        QTest::keyClick(row.edit, Qt::Key_Return);
        break;
    }
    case 5: { // the master mutes, in "Offset + Master" mode most of the time
        const bool dac = chance(50);
        auto *mute = m_fx.find<QToolButton>(dac ? QStringLiteral("sbDACMute") : QStringLiteral("sbADCMute"));
        if (!mute->isEnabled() && chance(70)) {
            say(QStringLiteral("radio rg%1AttMode item 1").arg(dac ? QStringLiteral("DAC") : QStringLiteral("ADC")));
            clickButton(m_fx.find<QRadioButton>(QStringLiteral("rg%1AttMode_1").arg(dac ? QStringLiteral("DAC") : QStringLiteral("ADC"))));
        }
        say(QStringLiteral("click %1%2").arg(mute->objectName(), mute->isEnabled() ? QString() : QStringLiteral(" (disabled)")));
        clickButton(mute);
        break;
    }
    case 6: { // the flag lamps
        const char *name = oneOf(QList<const char *>{"btnZeroRead", "btnOVFRead", "btnZeroClr", "btnOVFClr"});
        say(QStringLiteral("click %1").arg(QLatin1String(name)));
        clickPush(m_fx, name);
        break;
    }
    case 7: { // the resets
        const char *name = oneOf(QList<const char *>{"btnMRST", "btnSRST", "btnRESET"});
        say(QStringLiteral("click %1").arg(QLatin1String(name)));
        clickPush(m_fx, name);
        break;
    }
    case 8:
    case 9: { // direct access
        auto *reg = m_fx.find<QLineEdit>(QStringLiteral("RDA_reg"));
        auto *data = m_fx.find<QLineEdit>(QStringLiteral("RDA_data"));
        const QString r = junkOrNumber({QStringLiteral("0x%1").arg(0x41 + below(30), 2, 16), QStringLiteral("0x40"), QStringLiteral("$46"),
                                        QStringLiteral("0x5F"), QStringLiteral("-1")});
        const QString d = junkOrNumber({QStringLiteral("0x%1").arg(below(256), 2, 16), QStringLiteral("0x1FF"), QStringLiteral("255")});
        const bool write = chance(60);
        say(QStringLiteral("direct %1 reg '%2' data '%3'").arg(write ? QStringLiteral("write") : QStringLiteral("read"), r, d));
        typeInto(reg, r);
        typeInto(data, d);
        if (chance(50))
            QTest::keyClick(write ? data : reg, Qt::Key_Return);
        else
            QTest::mouseClick(m_fx.find<PressableImage>(write ? QStringLiteral("imgWrite") : QStringLiteral("imgRead")), Qt::LeftButton);
        break;
    }
    case 10: { // Reconnect, sometimes with a user's click waiting in the queue for its pause
        if (chance(30)) {
            QCheckBox *box = f->checkTable[size_t(below(int(f->checkTable.size())))].box;
            say(QStringLiteral("queue a tick of %1").arg(box->objectName()));
            showPageOf(m_fx, box);
            const QPointF at(6, box->height() / 2.0);
            QCoreApplication::postEvent(box, new QMouseEvent(QEvent::MouseButtonPress, at, box->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {}));
            QCoreApplication::postEvent(box, new QMouseEvent(QEvent::MouseButtonRelease, at, box->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, {}));
        }
        say(QStringLiteral("Reconnect"));
        clickPush(m_fx, "bBDRST");
        if (!nested)
            QCoreApplication::processEvents(); // whatever the pause left in the queue
        break;
    }
    case 11: { // interface and address
        if (chance(50)) {
            const int index = below(2);
            say(QStringLiteral("interface item %1").arg(index));
            clickButton(m_fx.find<QRadioButton>(QStringLiteral("rgInterface_%1").arg(index)));
        } else {
            auto *addr = m_fx.find<QComboBox>(QStringLiteral("cbAddr"));
            const int index = below(4);
            say(QStringLiteral("address item %1%2").arg(index).arg(addr->isEnabled() ? QString() : QStringLiteral(" (disabled)")));
            if (addr->isEnabled())
                pick(m_fx, addr, index);
        }
        break;
    }
    case 12: { // board faults in and out
        const int kind = below(4);
        if (kind == 3) {
            const bool present = chance(70);
            say(QStringLiteral("board %1").arg(present ? QStringLiteral("present") : QStringLiteral("absent")));
            m_fx.sim.setPresent(present);
        } else {
            const int code = chance(50) ? 0 : oneOf(QList<int>{0x0101, 0x0105, 0x0003});
            const int after = below(20);
            say(QStringLiteral("fault kind %1 after %2 code %3").arg(kind).arg(after).arg(code));
            m_fx.sim.setFault(SimApi::Fault(kind), after, code);
        }
        if (chance(20)) {
            const int address = 0x44 + below(4);
            say(QStringLiteral("board strapped at %1").arg(address, 0, 16));
            m_fx.sim.setIicAddress(address);
        }
        break;
    }
    case 13: { // a short script, junk lines included
        QByteArray text;
        const int lines = 1 + below(5);
        for (int i = 0; i < lines; ++i) {
            if (chance(15))
                text += oneOf(QList<QByteArray>{"nonsense", "sleep, 5", "0x46", "0x46, zz", "0x41, 0x12, 3"});
            else
                text += QStringLiteral("0x%1, 0x%2").arg(0x41 + below(30), 2, 16).arg(below(256), 2, 16).toLatin1();
            text += "\r\n";
        }
        const QString path = m_fx.file(QStringLiteral("script%1.csv").arg(++m_file));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
        file.close();
        say(QStringLiteral("script %1").arg(QString::fromLatin1(text).replace(QLatin1String("\r\n"), QLatin1String(" / "))));
        m_fx.seam.fileNames = {path};
        f->findChild<QAction *>(QStringLiteral("Open1"))->trigger();
        break;
    }
    case 14: { // routing lines
        if (chance(50)) {
            auto *din = m_fx.find<QCheckBox>(QStringLiteral("cbDIN%1").arg(1 + below(4)));
            say(QStringLiteral("tick %1").arg(din->objectName()));
            clickButton(din);
        } else {
            auto *item = m_fx.find<QRadioButton>(QStringLiteral("selDout_%1").arg(below(3)));
            say(QStringLiteral("radio %1").arg(item->objectName()));
            clickButton(item);
        }
        break;
    }
    case 15: { // snapshot and history
        const QString path = m_fx.file(QStringLiteral("saved%1.csv").arg(below(3)));
        m_fx.seam.fileNames = {path};
        m_fx.seam.answers = {chance(50) ? UiSeam::Yes : UiSeam::No};
        if (chance(50)) {
            say(QStringLiteral("save snapshot"));
            f->findChild<QAction *>(QStringLiteral("SaveRegisterDump"))->trigger();
        } else {
            say(QStringLiteral("save history"));
            QTest::mouseClick(m_fx.find<PressableImage>(QStringLiteral("imgSave")), Qt::LeftButton);
        }
        break;
    }
    case 16: { // Read all, by menu or by its key
        say(QStringLiteral("Read all"));
        f->findChild<QAction *>(QStringLiteral("actReadAll"))->trigger();
        break;
    }
    case 17: { // the automatic reads on and off, and a while for them to run
        QAction *a = f->findChild<QAction *>(chance(50) ? QStringLiteral("actAutoRead") : QStringLiteral("actAutoReadAll"));
        say(QStringLiteral("%1 %2").arg(a->isChecked() ? QStringLiteral("untick") : QStringLiteral("tick"), a->objectName()));
        a->trigger();
        if (!nested)
            QTest::qWait(3 * f->autoReadIntervalMs());
        break;
    }
    default: { // the commonest: ticks and picks again
        QCheckBox *box = f->checkTable[size_t(below(int(f->checkTable.size())))].box;
        say(QStringLiteral("tick %1").arg(box->objectName()));
        clickButton(box);
        break;
    }
    }
    --m_depth;
}

QList<unsigned> seeds()
{
    if (qEnvironmentVariableIsSet("EVM_MONKEY_SEED"))
        return {unsigned(qEnvironmentVariable("EVM_MONKEY_SEED").toULong())};
    const int count = qEnvironmentVariableIsSet("EVM_MONKEY_SEEDS") ? qEnvironmentVariableIntValue("EVM_MONKEY_SEEDS") : 4;
    QList<unsigned> out;
    for (int i = 1; i <= count; ++i)
        out << unsigned(i);
    return out;
}

} // namespace

class TestMonkey : public QObject
{
    Q_OBJECT

private slots:
    void walk_data();
    void walk();
};

void TestMonkey::walk_data()
{
    QTest::addColumn<unsigned>("seed");
    for (unsigned seed : seeds())
        QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
}

void TestMonkey::walk()
{
    QFETCH(unsigned, seed);
    const int steps = qEnvironmentVariableIsSet("EVM_MONKEY_STEPS") ? qEnvironmentVariableIntValue("EVM_MONKEY_STEPS") : 250;
    AppFixture fx;
    fx.writeSettings("[View]\nAutoReadMs=20\n"); // the automatic reads get their turns within the walk
    fx.create_and_show();
    TForm1 *f = fx.form;
    Monkey monkey(fx, seed);
    const auto replay = [&](const QString &what) {
        return QStringLiteral("seed %1 (replay with EVM_MONKEY_SEED=%1): %2\nlast actions:\n%3")
            .arg(seed)
            .arg(what, monkey.trail.mid(qMax(0, int(monkey.trail.size()) - 12)).join(QLatin1Char('\n')));
    };

    // A user's action inside a master mute's pause, or inside a box, now and then.
    bool inside = false;
    fx.seam.onSleep = [&](int ms) {
        if (ms == 200 && !inside && monkey.chance(40)) {
            inside = true;
            monkey.act(true);
            inside = false;
        }
    };
    fx.seam.onBox = [&](const RecordingSeam::Call &) {
        if (!inside && monkey.chance(20)) {
            inside = true;
            monkey.act(true);
            inside = false;
        }
    };

    for (int step = 0; step < steps; ++step) {
        monkey.act();
        fx.seam.clear();
        fx.seam.fileNames.clear();
        fx.seam.answers.clear();
        QVERIFY2(f->isVisible(), qPrintable(replay(QStringLiteral("the window is gone"))));
        if (f->boardPort() != 0) {
            const QStringList wrong = controlsAgainstShadow(f);
            QVERIFY2(wrong.isEmpty(), qPrintable(replay(QStringLiteral("after step %1 the controls do not show the shadow:\n%2")
                                                            .arg(step)
                                                            .arg(wrong.join(QLatin1Char('\n'))))));
        }
    }
    fx.seam.onSleep = nullptr;
    fx.seam.onBox = nullptr;

    // A healthy board, reached with the interface the window has chosen, then a RESET.
    for (int kind = 0; kind < 3; ++kind)
        fx.sim.setFault(SimApi::Fault(kind), 0, 0);
    fx.sim.setPresent(true);
    if (f->rgInterface->itemIndex() == 0)
        fx.sim.setIicAddress(f->chosenAddress);
    if (f->boardPort() == 0 || f->connectionSettings().interfaceCode != (f->rgInterface->itemIndex() == 0 ? 1 : 3)
        || (f->rgInterface->itemIndex() == 0 && f->connectionSettings().deviceAddress != f->chosenAddress))
        clickPush(fx, "bBDRST");
    QVERIFY2(f->boardPort() != 0, qPrintable(replay(QStringLiteral("no board after Reconnect"))));
    clickPush(fx, "btnRESET");
    QVERIFY2(fx.seam.count(QStringLiteral("message")) == 0, qPrintable(replay(QStringLiteral("the healthy board failed"))));
    const QStringList wrong = controlMismatches(f, [&](int reg) { return fx.sim.reg(reg); }, true);
    QVERIFY2(wrong.isEmpty(), qPrintable(replay(QStringLiteral("after the RESET the controls do not show the chip:\n%1")
                                                    .arg(wrong.join(QLatin1Char('\n'))))));
    QVERIFY(!f->ioSuppressed);
    QVERIFY(f->historyEnabled);
}

QTEST_MAIN(TestMonkey)
#include "tst_monkey.moc"
