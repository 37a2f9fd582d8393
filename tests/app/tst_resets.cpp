// SPDX-License-Identifier: GPL-3.0-or-later
// The three reset buttons, the zero and overflow lamps and the DIN/DOUT routing
// lines, driven through the real windows against the simulated board, whose chip
// resets on MRST and on a pulse of line 53 and whose flags follow the DIN lines
// and the ADC attenuators.
#include "fixture.h"
#include "uitest.h"

#include "main.h"
#include "pictures.h"
#include "radiogroup.h"
#include "regview.h"
#include "shadow.h"
#include "splash.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>

#include <optional>

namespace {

QString zeroLamps(const AppFixture &fx) { return lamps(fx, "ZERO", 8); }
QString overflowLamps(const AppFixture &fx) { return lamps(fx, "OVF", 6); }

evm::RegisterShadow defaultShadow()
{
    evm::RegisterShadow s;
    s.fillReadableMask();
    s.resetToDefaults();
    return s;
}

struct Flags {
    bool ioSuppressed;
    bool historyEnabled;
    bool commErrorShown;
    bool operator==(const Flags &) const = default;
};
Flags flagsOf(const TForm1 *form)
{
    return {form->ioSuppressed, form->historyEnabled, form->commErrorShown};
}
char *toString(const Flags &f)
{
    return qstrdup(QStringLiteral("ioSuppressed %1, historyEnabled %2, commErrorShown %3")
                       .arg(f.ioSuppressed).arg(f.historyEnabled).arg(f.commErrorShown).toLatin1().constData());
}

QStringList messages(const RecordingSeam &seam)
{
    QStringList out;
    for (const auto &m : seam.of(QStringLiteral("message")))
        out << m.text;
    return out;
}

// What the busy window and the flags were when the handler paused.
struct AtSleep {
    bool busyShown = false;
    QString busyText;
    bool barShown = false;
    Flags flags{};
    QStringList log;
};

} // namespace

class TestResets : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void mrstWritesClearedTriggerAndLoadsDefaults();
    void srstWritesClearedSyncOnly();
    void resetPulsesLineAndReadsBack();
    void resetWithoutBoard();
    void flagRead_data();
    void flagRead();
    void flagsFollowTheBoard();
    void clearNeverReachesBoard();
    void dinLines_data();
    void dinLines();
    void doutLines_data();
    void doutLines();
    void withoutBoardRoutingAndReadsDoNothing();
    void everyFailingLineWriteIsReported();
    void registerErrorsOnceUntilAReset();

private:
    void startWithBoard();
    std::optional<AppFixture> fx;
    AtSleep atSleep;
};

void TestResets::init()
{
    fx.emplace();
    atSleep = {};
    fx->seam.onSleep = [this](int) {
        atSleep = {SplashForm->isVisible(), SplashForm->Label1->text(), SplashForm->ProgressBar1->isVisible(),
                   flagsOf(fx->form), fx->sim.log()};
    };
}

void TestResets::cleanup()
{
    fx->destroy();
    fx.reset();
}

void TestResets::startWithBoard()
{
    fx->create_and_show();
    QVERIFY(fx->form->boardPort() != 0);
    QVERIFY(fx->seam.calls.isEmpty());
    fx->sim.clearLog();
}

void TestResets::mrstWritesClearedTriggerAndLoadsDefaults()
{
    startWithBoard();
    TForm1 *form = fx->form;
    pick(*fx, "cbDACSAM", 1);
    clickIndicator(*fx, QStringLiteral("cDAC2"));
    clickIndicator(*fx, QStringLiteral("cbDIN4"));
    clickPush(*fx, "btnZeroRead");
    QCOMPARE(zeroLamps(*fx), QStringLiteral("00000022"));
    QCOMPARE(form->shadow.byte(0x40), 0xC1);
    fx->sim.clearLog();
    fx->seam.clear();

    clickPush(*fx, "btnMRST");

    QCOMPARE(fx->sim.log(), QStringList{regLine(0x40, 0x41)});
    QCOMPARE(historyOf(*fx).last(), QStringLiteral("0x40, 0x41"));
    QCOMPARE(fx->seam.sleeps(), QList<int>{1000});
    QVERIFY(atSleep.busyShown);
    QCOMPARE(atSleep.busyText, QStringLiteral("Reset in progress ..."));
    QVERIFY(!atSleep.barShown);
    QCOMPARE(SplashForm->ProgressBar1->value(), 0);
    QCOMPARE(fx->seam.count(QStringLiteral("box")) + fx->seam.count(QStringLiteral("message")), 0);

    // The chip took the cleared MRST as a reset; the shadow, controls and map hold its power-on values.
    const evm::RegisterShadow defaults = defaultShadow();
    QCOMPARE(form->shadow.bytes, defaults.bytes);
    for (int reg = evm::FirstRegister; reg <= evm::LastRegister; ++reg)
        if (reg != 0x45) // DAC7 and DAC8 have no input, so their zero flags are up
            QCOMPARE(fx->sim.reg(reg), int(defaults.byte(reg)));
    QCOMPARE(fx->find<QComboBox>(QStringLiteral("cbDACSAM"))->currentIndex(), 0);
    QVERIFY(!fx->find<QCheckBox>(QStringLiteral("cDAC2"))->isChecked());
    for (int row = 0; row < evm::RegisterCount; ++row)
        QCOMPARE(RegViewForm->shownValue(row), int(defaults.bytes[row]));
    // Refreshing the controls made no further history line.
    QCOMPARE(historyOf(*fx).count(QStringLiteral("0x40, 0x41")), 1);
    QCOMPARE(historyOf(*fx).filter(QStringLiteral("0x44,")).size(), 1);

    QCOMPARE(zeroLamps(*fx), QStringLiteral("00000000"));
    QCOMPARE(overflowLamps(*fx), QStringLiteral("000000"));
    QVERIFY(!SplashForm->isVisible());
    QCOMPARE(flagsOf(form), (Flags{false, true, false}));
}

void TestResets::srstWritesClearedSyncOnly()
{
    startWithBoard();
    TForm1 *form = fx->form;
    pick(*fx, "cbDACSAM", 2);
    QCOMPARE(form->shadow.byte(0x40), 0xC2);
    // A combo box set from code runs no handler: if SRST refreshed the controls, this would go back.
    auto *demp = fx->find<QComboBox>(QStringLiteral("cbDEMP"));
    demp->setCurrentIndex(3);
    clickIndicator(*fx, QStringLiteral("cbDIN1"));
    clickPush(*fx, "btnZeroRead");
    const QString zero = zeroLamps(*fx);
    QCOMPARE(zero, QStringLiteral("22000000"));
    const auto map = mapRows();
    fx->sim.clearLog();
    fx->seam.clear();
    const Flags before = flagsOf(form);

    clickPush(*fx, "btnSRST");

    QCOMPARE(fx->sim.log(), QStringList{regLine(0x40, 0x82)});
    QCOMPARE(historyOf(*fx).last(), QStringLiteral("0x40, 0x82"));
    QCOMPARE(form->shadow.byte(0x40), 0xC2);
    QCOMPARE(fx->sim.reg(0x40), 0xC2); // SRST only restarts the serial port: no register reset
    QCOMPARE(fx->sim.reg(0x46), 0x00);
    QVERIFY(fx->seam.calls.isEmpty()); // no busy wait, no message
    QVERIFY(!atSleep.busyShown);
    QCOMPARE(demp->currentIndex(), 3);
    auto expectedMap = map;
    expectedMap[0] = 0xC2;
    QCOMPARE(mapRows(), expectedMap);
    QCOMPARE(zeroLamps(*fx), zero);
    QCOMPARE(flagsOf(form), before);
}

void TestResets::resetPulsesLineAndReadsBack()
{
    startWithBoard();
    TForm1 *form = fx->form;
    clickIndicator(*fx, QStringLiteral("cDAC5"));
    fx->find<QSlider>(QStringLiteral("tkADC2"))->setValue(0xE0);
    clickPush(*fx, "btnOVFRead");
    QCOMPARE(overflowLamps(*fx), QStringLiteral("010000"));
    clickIndicator(*fx, QStringLiteral("cbDIN2"));
    clickPush(*fx, "btnZeroRead");
    QCOMPARE(zeroLamps(*fx), QStringLiteral("00220000"));
    fx->sim.clearLog();
    fx->seam.clear();

    clickPush(*fx, "btnRESET");

    // The line falls (the chip resets), 10 ms later rises, then every register is read back in order.
    QStringList expected{pinLine(53, 0), pinLine(53, 1)};
    for (int reg = evm::FirstRegister; reg <= evm::LastRegister; ++reg)
        expected << QStringLiteral("_readData(channel=0, reg=0x%1) = 0 value=0x%2").arg(hex2(reg), hex2(fx->sim.reg(reg)));
    QCOMPARE(fx->sim.log(), expected);
    QCOMPARE(fx->seam.sleeps(), QList<int>{10});
    QCOMPARE(atSleep.log, QStringList{pinLine(53, 0)});
    QVERIFY(atSleep.busyShown);
    QCOMPARE(atSleep.busyText, QStringLiteral("Reset in progress ..."));
    QCOMPARE(fx->sim.line(53), 1);
    QCOMPARE(SplashForm->ProgressBar1->maximum(), 30);
    QCOMPARE(SplashForm->ProgressBar1->value(), 30);

    // The shadow holds what the chip gave back: the power-on values, DIN2's zero flags not kept.
    QCOMPARE(form->shadow.bytes, defaultShadow().bytes);
    QVERIFY(!fx->find<QCheckBox>(QStringLiteral("cDAC5"))->isChecked());
    QCOMPARE(fx->find<QSlider>(QStringLiteral("tkADC2"))->value(), 0xD7);
    QCOMPARE(zeroLamps(*fx), QStringLiteral("00000000"));
    QCOMPARE(overflowLamps(*fx), QStringLiteral("000000"));
    QCOMPARE(statusText(*fx), QStringLiteral("Ready"));
    QVERIFY(!SplashForm->isVisible());
    QVERIFY(fx->seam.of(QStringLiteral("box")).isEmpty());
    QCOMPARE(flagsOf(form), (Flags{false, true, false}));
    // The routing lines are not driven again.
    QVERIFY(!fx->find<QCheckBox>(QStringLiteral("cbDIN2"))->isChecked());
    QCOMPARE(fx->sim.line(48), 0);
}

void TestResets::resetWithoutBoard()
{
    startWithBoard();
    TForm1 *form = fx->form;
    clickIndicator(*fx, QStringLiteral("cbDIN3"));
    clickPush(*fx, "btnZeroRead");
    clickIndicator(*fx, QStringLiteral("cDAC7"));
    // Unplugged and a failed Reconnect: the library is loaded, the board port 0.
    fx->sim.setPresent(false);
    clickPush(*fx, "bBDRST");
    QCOMPARE(form->boardPort(), 0);
    QCOMPARE(zeroLamps(*fx), QStringLiteral("00002200"));
    QVERIFY(form->shadow.bytes != defaultShadow().bytes);
    // As after an earlier reported failure, which no access can produce without a board: RESET clears it.
    form->commErrorShown = true;
    fx->sim.clearLog();
    fx->seam.clear();

    clickPush(*fx, "btnRESET");

    QVERIFY(fx->sim.log().isEmpty());
    QCOMPARE(fx->seam.sleeps(), QList<int>{10});
    QCOMPARE(fx->seam.count(QStringLiteral("box")), 1);
    const RecordingSeam::Call box = fx->seam.of(QStringLiteral("box")).first();
    QCOMPARE(box.text, QStringLiteral("No EVM was foud"));
    QCOMPARE(box.caption, QStringLiteral("Error"));
    QCOMPARE(box.icon, UiSeam::Icon::Error);
    QCOMPARE(statusText(*fx), QStringLiteral("No EVM was found"));
    QCOMPARE(fx->find<QLabel>(QStringLiteral("imgConnection"))->pixmap().toImage(), pictures::connectionPlate(0).toImage());
    QVERIFY(!SplashForm->isVisible());
    QCOMPARE(zeroLamps(*fx), QStringLiteral("00002200"));
    QCOMPARE(form->shadow.bytes, defaultShadow().bytes);
    QVERIFY(!fx->find<QCheckBox>(QStringLiteral("cDAC7"))->isChecked());
    QCOMPARE(flagsOf(form), (Flags{true, false, false}));
}

void TestResets::flagRead_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("zero");
    QTest::addColumn<QString>("overflow");

    QTest::newRow("zero 0x81") << "btnZeroRead" << 0x45 << 0x81 << "20000002" << "000000";
    QTest::newRow("zero 0xFF") << "btnZeroRead" << 0x45 << 0xFF << "22222222" << "000000";
    QTest::newRow("zero 0x00") << "btnZeroRead" << 0x45 << 0x00 << "00000000" << "000000";
    // Bits 7 and 6 of 0x56 are no flags; bit 5 of 0xE1 is ADC6's.
    QTest::newRow("overflow 0xC1") << "btnOVFRead" << 0x56 << 0xC1 << "00000000" << "100000";
    QTest::newRow("overflow 0xE1") << "btnOVFRead" << 0x56 << 0xE1 << "00000000" << "100001";
    QTest::newRow("overflow 0x3F") << "btnOVFRead" << 0x56 << 0x3F << "00000000" << "111111";
    QTest::newRow("overflow 0x22") << "btnOVFRead" << 0x56 << 0x22 << "00000000" << "010001";
}

void TestResets::flagRead()
{
    QFETCH(QString, button);
    QFETCH(int, reg);
    QFETCH(int, value);
    QFETCH(QString, zero);
    QFETCH(QString, overflow);

    startWithBoard();
    TForm1 *form = fx->form;
    const auto shadow = form->shadow.bytes;
    const QStringList history = historyOf(*fx);
    fx->sim.poke(reg, value);

    clickPush(*fx, button.toLatin1().constData());

    QCOMPARE(fx->sim.log(), QStringList{QStringLiteral("_readData(channel=0, reg=0x%1) = 0 value=0x%2").arg(hex2(reg), hex2(value))});
    QCOMPARE(zeroLamps(*fx), zero);
    QCOMPARE(overflowLamps(*fx), overflow);
    QCOMPARE(form->shadow.bytes, shadow);
    QCOMPARE(historyOf(*fx), history);
    QVERIFY(fx->seam.calls.isEmpty());
}

void TestResets::flagsFollowTheBoard()
{
    startWithBoard();
    // Without data on DIN1 and DIN4, DAC1, DAC2, DAC7 and DAC8 see zeros.
    clickIndicator(*fx, QStringLiteral("cbDIN1"));
    clickIndicator(*fx, QStringLiteral("cbDIN4"));
    // ADC4 and ADC6 asked for gain above 0 dB overflow.
    fx->find<QSlider>(QStringLiteral("tkADC4"))->setValue(0xD8);
    fx->find<QSlider>(QStringLiteral("tkADC6"))->setValue(0xFF);
    fx->sim.clearLog();

    clickPush(*fx, "btnZeroRead");
    clickPush(*fx, "btnOVFRead");

    QCOMPARE(fx->sim.log(), (QStringList{QStringLiteral("_readData(channel=0, reg=0x45) = 0 value=0xC3"),
                                         QStringLiteral("_readData(channel=0, reg=0x56) = 0 value=0x28")}));
    QCOMPARE(zeroLamps(*fx), QStringLiteral("22000022"));
    QCOMPARE(overflowLamps(*fx), QStringLiteral("000101"));

    // Data back on DIN1: its lamps go out at the next read, the others stay.
    clickIndicator(*fx, QStringLiteral("cbDIN1"));
    clickPush(*fx, "btnZeroRead");
    QCOMPARE(zeroLamps(*fx), QStringLiteral("00000022"));
}

void TestResets::clearNeverReachesBoard()
{
    startWithBoard();
    fx->sim.poke(0x45, 0x5A);
    fx->sim.poke(0x56, 0x15);
    clickPush(*fx, "btnZeroRead");
    clickPush(*fx, "btnOVFRead");
    QCOMPARE(zeroLamps(*fx), QStringLiteral("02022020"));
    QCOMPARE(overflowLamps(*fx), QStringLiteral("101010"));
    fx->sim.clearLog();

    clickPush(*fx, "btnZeroClr");
    QCOMPARE(zeroLamps(*fx), QStringLiteral("00000000"));
    QCOMPARE(overflowLamps(*fx), QStringLiteral("101010"));
    clickPush(*fx, "btnOVFClr");
    QCOMPARE(overflowLamps(*fx), QStringLiteral("000000"));

    QVERIFY(fx->sim.log().isEmpty());
    QCOMPARE(fx->sim.reg(0x45), 0x5A);
    QVERIFY(fx->seam.calls.isEmpty());
}

void TestResets::dinLines_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("line");

    QTest::newRow("DIN1") << "cbDIN1" << 49;
    QTest::newRow("DIN2") << "cbDIN2" << 48;
    QTest::newRow("DIN3") << "cbDIN3" << 47;
    QTest::newRow("DIN4") << "cbDIN4" << 46;
}

void TestResets::dinLines()
{
    QFETCH(QString, box);
    QFETCH(int, line);

    startWithBoard();
    const auto shadow = fx->form->shadow.bytes;
    const QStringList history = historyOf(*fx);
    QCOMPARE(fx->sim.line(line), 1);

    clickIndicator(*fx, box);
    QVERIFY(!fx->find<QCheckBox>(box)->isChecked());
    QCOMPARE(fx->sim.log(), QStringList{pinLine(line, 0)});
    QCOMPARE(fx->sim.line(line), 0);

    fx->sim.clearLog();
    clickIndicator(*fx, box);
    QCOMPARE(fx->sim.log(), QStringList{pinLine(line, 1)});
    QCOMPARE(fx->sim.line(line), 1);

    QCOMPARE(fx->form->shadow.bytes, shadow);
    QCOMPARE(historyOf(*fx), history);
    QVERIFY(fx->seam.calls.isEmpty());
}

void TestResets::doutLines_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("then");
    QTest::addColumn<int>("line50");
    QTest::addColumn<int>("line51");

    QTest::newRow("DOUT2") << 1 << -1 << 0 << 1;
    QTest::newRow("DOUT3") << 2 << -1 << 1 << 0;
    QTest::newRow("DOUT3 then DOUT1") << 2 << 0 << 1 << 1;
}

void TestResets::doutLines()
{
    QFETCH(int, first);
    QFETCH(int, then);
    QFETCH(int, line50);
    QFETCH(int, line51);

    startWithBoard();
    // Start-up drove the lines for DOUT1.
    QCOMPARE(fx->sim.line(50), 1);
    QCOMPARE(fx->sim.line(51), 1);
    const QStringList history = historyOf(*fx);

    clickIndicator(*fx, QStringLiteral("selDout_%1").arg(first));
    if (then >= 0) {
        fx->sim.clearLog();
        clickIndicator(*fx, QStringLiteral("selDout_%1").arg(then));
    }
    QCOMPARE(fx->form->selDout->itemIndex(), then >= 0 ? then : first);
    QCOMPARE(fx->sim.log(), (QStringList{pinLine(50, line50), pinLine(51, line51)}));
    QCOMPARE(historyOf(*fx), history);
    QVERIFY(fx->seam.calls.isEmpty());
}

void TestResets::withoutBoardRoutingAndReadsDoNothing()
{
    fx->sim.setPresent(false);
    fx->create_and_show();
    QCOMPARE(fx->form->boardPort(), 0);
    fx->sim.clearLog();
    fx->seam.clear();

    clickIndicator(*fx, QStringLiteral("cbDIN2"));
    clickIndicator(*fx, QStringLiteral("selDout_1"));
    clickPush(*fx, "btnZeroRead");
    clickPush(*fx, "btnOVFRead");
    clickPush(*fx, "btnSRST");
    QVERIFY(fx->sim.log().isEmpty());
    QVERIFY(fx->seam.calls.isEmpty());
    QCOMPARE(zeroLamps(*fx), QStringLiteral("00000000"));
    QCOMPARE(overflowLamps(*fx), QStringLiteral("000000"));

    // MRST still waits and loads the defaults, and brings the flags to the reset state.
    clickIndicator(*fx, QStringLiteral("cDAC1"));
    clickPush(*fx, "btnMRST");
    QVERIFY(fx->sim.log().isEmpty());
    QCOMPARE(fx->seam.sleeps(), QList<int>{1000});
    QCOMPARE(fx->form->shadow.bytes, defaultShadow().bytes);
    QVERIFY(!fx->find<QCheckBox>(QStringLiteral("cDAC1"))->isChecked());
    QCOMPARE(flagsOf(fx->form), (Flags{false, true, false}));
}

void TestResets::everyFailingLineWriteIsReported()
{
    startWithBoard();
    fx->sim.setFault(SimApi::Pin, 0, 0x0301);
    fx->seam.clear();
    const QString sperr = QStringLiteral("Communication error: SPERR0301");

    clickIndicator(*fx, QStringLiteral("cbDIN1"));
    QCOMPARE(messages(fx->seam), QStringList{sperr});
    clickIndicator(*fx, QStringLiteral("cbDIN1"));
    QCOMPARE(messages(fx->seam), (QStringList{sperr, sperr}));

    fx->seam.clear();
    clickIndicator(*fx, QStringLiteral("selDout_2"));
    QCOMPARE(messages(fx->seam), (QStringList{sperr, sperr}));
    QCOMPARE(fx->sim.log(QStringLiteral("_writeData(channel=7, pin=5")).size(), 2);

    // RESET reports both halves of its pulse and still reads every register back.
    fx->seam.clear();
    fx->sim.clearLog();
    clickPush(*fx, "btnRESET");
    QCOMPARE(messages(fx->seam), (QStringList{sperr, sperr}));
    QCOMPARE(fx->sim.log(QStringLiteral("_writeData(channel=7")),
             (QStringList{pinLine(53, 0, QStringLiteral("0x0301")), pinLine(53, 1, QStringLiteral("0x0301"))}));
    QCOMPARE(fx->sim.log(QStringLiteral("_readData")).size(), evm::RegisterCount);
    QCOMPARE(flagsOf(fx->form), (Flags{false, true, false}));
}

void TestResets::registerErrorsOnceUntilAReset()
{
    startWithBoard();
    TForm1 *form = fx->form;
    fx->sim.setFault(SimApi::Write, 0, 0x0005);
    fx->sim.setFault(SimApi::Read, 0, 0x0006);
    fx->seam.clear();
    const QString wrerr = QStringLiteral("Communication error: WRERR0005");
    const QString rderr = QStringLiteral("Communication error: RDERR0006\nPlease check interface setting.");

    // SRST fails twice and is reported once; a failing read after it is not reported at all.
    clickPush(*fx, "btnSRST");
    clickPush(*fx, "btnSRST");
    clickPush(*fx, "btnZeroRead");
    QCOMPARE(messages(fx->seam), QStringList{wrerr});
    QVERIFY(form->commErrorShown);
    // The failed read shows the value it returned: nothing lit.
    QCOMPARE(zeroLamps(*fx), QStringLiteral("00000000"));

    // MRST's own write comes while the error is still shown; MRST then clears it.
    fx->seam.clear();
    clickPush(*fx, "btnMRST");
    QVERIFY(messages(fx->seam).isEmpty());
    QCOMPARE(flagsOf(form), (Flags{false, true, false}));
    clickPush(*fx, "btnSRST");
    clickPush(*fx, "btnSRST");
    QCOMPARE(messages(fx->seam), QStringList{wrerr});

    // RESET clears it first: one failure of its read-back is reported, and the read-back goes on.
    fx->seam.clear();
    fx->sim.clearLog();
    clickPush(*fx, "btnRESET");
    QCOMPARE(messages(fx->seam), QStringList{rderr});
    QCOMPARE(fx->sim.log(QStringLiteral("_readData")).size(), evm::RegisterCount);
    QCOMPARE(flagsOf(form), (Flags{false, true, true}));
}

QTEST_MAIN(TestResets)
#include "tst_resets.moc"
