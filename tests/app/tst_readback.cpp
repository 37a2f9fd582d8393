// SPDX-License-Identifier: GPL-3.0-or-later
// The window looks at the chip again: Read all after the tool changed the chip the window holds
// open (through the simulated board's shared state file), the automatic read of the flags and of
// every register, and the connection's state after a failed access, all through the real
// windows and loader, the simulator's call log checked.
#include "consistency.h"
#include "fixture.h"
#include "toolrun.h"
#include "uitest.h"

#include "main.h"
#include "settingsfile.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcessEnvironment>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <optional>

namespace {

// Long enough on a loaded two-core machine for many intervals of the short one the tests set.
constexpr int kWaitMs = 10000;
constexpr int kIntervalMs = 40;

QAction *action(const AppFixture &fx, const char *name)
{
    return fx.form->findChild<QAction *>(QLatin1String(name));
}

QStringList readsOf(const QStringList &log)
{
    QStringList out;
    for (const QString &line : log)
        out << line.section(QLatin1Char(')'), 0, 0) + QLatin1Char(')');
    return out;
}

QStringList allReads()
{
    QStringList out;
    for (int reg = evm::FirstRegister; reg <= evm::LastRegister; ++reg)
        out << QStringLiteral("_readData(channel=0, reg=0x%1)").arg(hex2(reg));
    return out;
}

QImage connectionPicture(const AppFixture &fx)
{
    return fx.find<QLabel>(QStringLiteral("imgConnection"))->pixmap().toImage();
}

// "Communication error: WRERR0101 at 09:41:07", and what follows it.
void verifyFault(const AppFixture &fx, const QString &error)
{
    const QString status = statusText(fx);
    QVERIFY2(QRegularExpression(QStringLiteral("^%1 at \\d\\d:\\d\\d:\\d\\d").arg(QRegularExpression::escape(error))).match(status).hasMatch(),
             qPrintable(status));
    QCOMPARE(fx.form->communicationFault(), status);
    QCOMPARE(connectionPicture(fx), pictures::connectionPlate(2).toImage());
    QCOMPARE(fx.find<QLabel>(QStringLiteral("imgConnection"))->toolTip(), status);
}

void verifyReady(const AppFixture &fx)
{
    QCOMPARE(statusText(fx), QStringLiteral("Ready"));
    QCOMPARE(connectionPicture(fx), pictures::connectionPlate(1).toImage());
    QVERIFY(fx.form->communicationFault().isEmpty());
}

} // namespace

class TestReadBack : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void readAllFollowsTheTool();
    void readAllStopsAtAFailedRead();
    void autoReadLightsTheLamps_data();
    void autoReadLightsTheLamps();
    void autoReadWaitsForHandlers_data();
    void autoReadWaitsForHandlers();
    void autoReadNeedsABoard();
    void autoReadStopsAfterAFailedRead();
    void faultShownUntilTheNextGoodAccess_data();
    void faultShownUntilTheNextGoodAccess();
    void intervalFromTheSettingsFile_data();
    void intervalFromTheSettingsFile();

private:
    void start(const QByteArray &settings = "[View]\nAutoReadMs=" + QByteArray::number(kIntervalMs) + "\n");
    QString statePath() const { return m_stateDir.filePath(QStringLiteral("state.csv")); }

    QTemporaryDir m_stateDir;
    std::optional<AppFixture> fx;
};

void TestReadBack::initTestCase()
{
    // The simulator reads its environment once, when it is loaded: the state file it shares
    // with the tool is named before the first window loads it.
    QVERIFY(m_stateDir.isValid());
    qputenv("OSTREL_SIM_STATE", QFile::encodeName(statePath()));
}

void TestReadBack::init()
{
    QFile::remove(statePath());
    fx.emplace();
}

void TestReadBack::cleanup()
{
    fx.reset();
}

void TestReadBack::start(const QByteArray &settings)
{
    fx->writeSettings(settings);
    fx->create_and_show();
    QCOMPARE(fx->form->autoReadIntervalMs(), kIntervalMs);
    fx->sim.clearLog();
    fx->seam.clear();
}

void TestReadBack::readAllFollowsTheTool()
{
    start();
    QVERIFY(!fx->find<QCheckBox>(QStringLiteral("cDAC1"))->isChecked());

    // The tool, in a process of its own, on the chip the window holds open.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("EVM_BOARD_LIBRARY"), QStringLiteral(OSTREL_SIM_PATH));
    env.insert(QStringLiteral("OSTREL_SIM_STATE"), statePath());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), fx->configDir());
    for (const QStringList &args : {QStringList{"set", "MUTDA1", "1"}, QStringList{"set", "DEMP", "3"}, QStringList{"write", "0x4A", "0x80"},
                                    QStringList{"write", "0x59", "0xE0"}}) {
        const ToolRun run = runTool(env, fx->workDir(), args);
        QVERIFY2(run.exitCode == 0, run.err.constData());
    }
    QVERIFY(!fx->find<QCheckBox>(QStringLiteral("cDAC1"))->isChecked());
    QCOMPARE(fx->form->findChild<QAction *>(QStringLiteral("actReadAll"))->shortcut(), QKeySequence(Qt::Key_F5));

    action(*fx, "actReadAll")->trigger();

    // 31 reads in order and nothing else: no write, no line, no reset, nothing logged.
    QCOMPARE(readsOf(fx->sim.log()), allReads());
    QVERIFY(historyOf(*fx).isEmpty());
    QCOMPARE(fx->seam.calls.size(), 0);
    QVERIFY(fx->find<QCheckBox>(QStringLiteral("cDAC1"))->isChecked());
    QCOMPARE(fx->find<QComboBox>(QStringLiteral("cbDEMP"))->currentIndex(), 3);
    QCOMPARE(fx->find<QSlider>(QStringLiteral("tkDAC3"))->value(), 0x80);
    QCOMPARE(fx->find<QLineEdit>(QStringLiteral("edDAC3"))->text(), QStringLiteral("-63.5"));
    const QStringList wrong = controlMismatches(fx->form, [&](int reg) { return evm::readModifyWriteBase(reg, uint8_t(fx->sim.reg(reg))); }, true);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    QCOMPARE(mapRows()[4], 0x01);
    QCOMPARE(mapRows()[0x4A - 0x40], 0x80);
    // ADC1's attenuator above 0 dB overflows; the lamp shows the flag read.
    QCOMPARE(lamps(*fx, "OVF", 6), QStringLiteral("100000"));
    verifyReady(*fx);

    // A second Read all with nothing changed reads again and changes nothing.
    fx->sim.clearLog();
    const auto before = fx->form->shadow.bytes;
    action(*fx, "actReadAll")->trigger();
    QCOMPARE(readsOf(fx->sim.log()), allReads());
    QCOMPARE(fx->form->shadow.bytes, before);

    // The window's own change survives the next run of the tool, which saves only its own.
    clickIndicator(*fx, QStringLiteral("cInvDAC1"));
    QCOMPARE(fx->sim.reg(0x43), 0x01);
    QVERIFY(runTool(env, fx->workDir(), {"set", "MUTDA2", "1"}).exitCode == 0);
    action(*fx, "actReadAll")->trigger();
    QVERIFY(fx->find<QCheckBox>(QStringLiteral("cInvDAC1"))->isChecked());
    QVERIFY(fx->find<QCheckBox>(QStringLiteral("cDAC2"))->isChecked());
}

void TestReadBack::readAllStopsAtAFailedRead()
{
    start();
    fx->sim.poke(0x41, 0x12);
    fx->sim.poke(0x44, 0x01);
    fx->sim.setFault(SimApi::Read, 3, 0x0105); // 0x40..0x42 answer, 0x43 fails
    action(*fx, "actReadAll")->trigger();
    // A chip that stops answering is not asked 28 times more; what was read is shown.
    QCOMPARE(readsOf(fx->sim.log()), allReads().mid(0, 4));
    QCOMPARE(fx->find<QComboBox>(QStringLiteral("cbDACFMT"))->currentIndex(), 2);
    QVERIFY(!fx->find<QCheckBox>(QStringLiteral("cDAC1"))->isChecked());
    QCOMPARE(fx->seam.of(QStringLiteral("message")).size(), 1);
    QCOMPARE(fx->seam.of(QStringLiteral("message"))[0].text,
             QStringLiteral("Communication error: RDERR0105\nPlease check interface setting."));
    verifyFault(*fx, QStringLiteral("Communication error: RDERR0105"));

    fx->sim.setFault(SimApi::Read, 0, 0);
    action(*fx, "actReadAll")->trigger();
    QVERIFY(fx->find<QCheckBox>(QStringLiteral("cDAC1"))->isChecked());
    verifyReady(*fx);
    QCOMPARE(fx->seam.of(QStringLiteral("message")).size(), 1);
}

void TestReadBack::autoReadLightsTheLamps_data()
{
    QTest::addColumn<bool>("all");
    QTest::newRow("flags") << false;
    QTest::newRow("all registers") << true;
}

void TestReadBack::autoReadLightsTheLamps()
{
    QFETCH(bool, all);
    start();
    action(*fx, all ? "actAutoReadAll" : "actAutoRead")->setChecked(true);
    QVERIFY(action(*fx, "actAutoRead")->isChecked()); // all registers are read with the flags among them

    fx->sim.poke(0x5B, 0xE0); // ADC3 above 0 dB overflows while it is
    QTRY_COMPARE_WITH_TIMEOUT(lamps(*fx, "OVF", 6), QStringLiteral("001000"), kWaitMs);
    // Another client unmutes DAC5: shown within an interval when every register is read.
    fx->sim.poke(0x44, 0x10);
    if (all) {
        QTRY_VERIFY_WITH_TIMEOUT(fx->find<QCheckBox>(QStringLiteral("cDAC5"))->isChecked(), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(fx->find<QSlider>(QStringLiteral("tkADC3"))->value(), 0xE0, kWaitMs);
    }
    fx->sim.poke(0x5B, 0xD7);
    QTRY_COMPARE_WITH_TIMEOUT(lamps(*fx, "OVF", 6), QStringLiteral("000000"), kWaitMs);

    // Reads only: never a write or a line, nothing in the history, no box.
    const QStringList log = fx->sim.log();
    QVERIFY(!log.isEmpty());
    for (const QString &line : log)
        QVERIFY2(line.startsWith(QLatin1String("_readData(channel=0, reg=0x")), qPrintable(line));
    if (!all)
        for (const QString &line : log)
            QVERIFY2(line.contains(QLatin1String("reg=0x45")) || line.contains(QLatin1String("reg=0x56")), qPrintable(line));
    QVERIFY(historyOf(*fx).isEmpty());
    QCOMPARE(fx->seam.calls.size(), 0);
    QCOMPARE(fx->find<QCheckBox>(QStringLiteral("cDAC5"))->isChecked(), all);

    // Off: no more reads.
    action(*fx, "actAutoRead")->setChecked(false);
    QVERIFY(!action(*fx, "actAutoReadAll")->isChecked());
    fx->sim.clearLog();
    QTest::qWait(5 * kIntervalMs);
    QVERIFY(fx->sim.log().isEmpty());
}

void TestReadBack::autoReadWaitsForHandlers_data()
{
    QTest::addColumn<QString>("handler");
    QTest::newRow("master mute's pause") << "mute";
    QTest::newRow("script") << "script";
    QTest::newRow("box") << "box";
    QTest::newRow("track bar held") << "drag";
}

void TestReadBack::autoReadWaitsForHandlers()
{
    QFETCH(QString, handler);
    start();
    action(*fx, "actAutoReadAll")->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(!fx->sim.log().isEmpty(), kWaitMs);

    // Inside the handler the events run for many intervals, and not one read comes.
    int readsInside = -1;
    auto inside = [&] {
        fx->sim.clearLog();
        QTest::qWait(6 * kIntervalMs);
        readsInside = int(fx->sim.log(QStringLiteral("_readData")).size());
    };
    if (handler == QLatin1String("mute")) {
        fx->seam.onSleep = [&](int ms) { if (ms == 200) inside(); };
        clickIndicator(*fx, fx->find<QRadioButton>(QStringLiteral("rgDACAttMode_1")));
        QTest::mouseClick(fx->find<QToolButton>(QStringLiteral("sbDACMute")), Qt::LeftButton);
    } else if (handler == QLatin1String("script")) {
        fx->seam.onSleep = [&](int) { inside(); };
        QFile f(fx->file(QStringLiteral("s.csv")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("0x44, 0x03\r\nsleep, 100\r\n0x44, 0x00\r\n");
        f.close();
        fx->seam.fileNames = {f.fileName()};
        action(*fx, "Open1")->trigger();
    } else if (handler == QLatin1String("drag")) { // held down, as a drag holds it between its moves
        auto *track = fx->find<QSlider>(QStringLiteral("tkDAC2"));
        track->setSliderDown(true);
        inside();
        track->setSliderDown(false);
    } else { // the question before a snapshot replaces a file
        QFile f(fx->file(QStringLiteral("snap.csv")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        fx->seam.onBox = [&](const RecordingSeam::Call &) { inside(); };
        fx->seam.fileNames = {f.fileName()};
        fx->seam.answers = {UiSeam::No};
        action(*fx, "SaveRegisterDump")->trigger();
    }
    QCOMPARE(readsInside, 0);
    fx->seam.onSleep = nullptr;
    fx->seam.onBox = nullptr;
    fx->sim.clearLog();
    QTRY_VERIFY_WITH_TIMEOUT(!fx->sim.log().isEmpty(), kWaitMs);
    const QStringList wrong = controlsAgainstShadow(fx->form);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
}

void TestReadBack::autoReadNeedsABoard()
{
    fx->sim.setPresent(false);
    fx->writeSettings("[View]\nAutoReadMs=" + QByteArray::number(kIntervalMs) + "\n");
    fx->create_and_show();
    fx->sim.clearLog();
    fx->seam.clear();
    action(*fx, "actAutoReadAll")->setChecked(true);
    action(*fx, "actReadAll")->trigger();
    QTest::qWait(5 * kIntervalMs);
    QVERIFY(fx->sim.log().isEmpty());
    QCOMPARE(fx->seam.calls.size(), 0);
    QCOMPARE(statusText(*fx), QStringLiteral("No EVM was found"));
    // Once Reconnect finds a board, the read goes on.
    fx->sim.setPresent(true);
    clickPush(*fx, "bBDRST");
    fx->sim.clearLog();
    QTRY_VERIFY_WITH_TIMEOUT(fx->sim.log(QStringLiteral("_readData")).size() >= 31, kWaitMs);
}

void TestReadBack::autoReadStopsAfterAFailedRead()
{
    start();
    action(*fx, "actAutoRead")->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(!fx->sim.log().isEmpty(), kWaitMs);
    fx->sim.setFault(SimApi::Read, 0, 0x0102);
    QTRY_VERIFY_WITH_TIMEOUT(!action(*fx, "actAutoRead")->isChecked(), kWaitMs);
    // Reported once, and said in the status; then no more reads until the user asks again.
    QCOMPARE(fx->seam.of(QStringLiteral("message")).size(), 1);
    QCOMPARE(fx->seam.of(QStringLiteral("message"))[0].text,
             QStringLiteral("Communication error: RDERR0102\nPlease check interface setting."));
    verifyFault(*fx, QStringLiteral("Communication error: RDERR0102"));
    QVERIFY(statusText(*fx).endsWith(QLatin1String("; automatic read stopped")));
    fx->sim.clearLog();
    QTest::qWait(5 * kIntervalMs);
    QVERIFY(fx->sim.log().isEmpty());

    fx->sim.setFault(SimApi::Read, 0, 0);
    action(*fx, "actAutoRead")->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(fx->form->communicationFault().isEmpty(), kWaitMs);
    verifyReady(*fx);
    QVERIFY(action(*fx, "actAutoRead")->isChecked());
}

void TestReadBack::faultShownUntilTheNextGoodAccess_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("clearedBy");
    QTest::newRow("write, then a good write") << int(SimApi::Write) << "Communication error: WRERR0101" << "write";
    QTest::newRow("write, then Read all") << int(SimApi::Write) << "Communication error: WRERR0101" << "readall";
    QTest::newRow("write, then Reconnect") << int(SimApi::Write) << "Communication error: WRERR0101" << "reconnect";
    QTest::newRow("read, then a good line") << int(SimApi::Read) << "Communication error: RDERR0101" << "line";
    QTest::newRow("line, then a good read") << int(SimApi::Pin) << "Communication error: SPERR0101" << "read";
}

void TestReadBack::faultShownUntilTheNextGoodAccess()
{
    QFETCH(int, kind);
    QFETCH(QString, error);
    QFETCH(QString, clearedBy);
    start();
    verifyReady(*fx);
    fx->sim.setFault(SimApi::Fault(kind), 0, 0x0101);
    auto access = [&](int what) {
        switch (what) {
        case SimApi::Write: clickIndicator(*fx, QStringLiteral("cInvDAC1")); break;
        case SimApi::Read: clickPush(*fx, "btnZeroRead"); break;
        default: clickIndicator(*fx, QStringLiteral("cbDIN3")); break;
        }
    };
    access(kind);
    verifyFault(*fx, error);
    // The failed accesses go on showing, the message only once for registers.
    access(kind);
    verifyFault(*fx, error);
    QCOMPARE(fx->seam.count(QStringLiteral("message")), kind == SimApi::Pin ? 2 : 1);

    if (clearedBy == QLatin1String("write") || clearedBy == QLatin1String("read") || clearedBy == QLatin1String("line")) {
        // Another kind of access that succeeds is enough.
        access(clearedBy == QLatin1String("write") ? SimApi::Write : clearedBy == QLatin1String("read") ? SimApi::Read : SimApi::Pin);
        if (clearedBy == QLatin1String("write")) { // the same kind: the fault must go first
            verifyFault(*fx, error);
            fx->sim.setFault(SimApi::Fault(kind), 0, 0);
            access(kind);
        }
    } else if (clearedBy == QLatin1String("readall")) {
        fx->sim.setFault(SimApi::Fault(kind), 0, 0);
        action(*fx, "actReadAll")->trigger();
    } else {
        fx->sim.setFault(SimApi::Fault(kind), 0, 0);
        clickPush(*fx, "bBDRST");
    }
    verifyReady(*fx);
}

void TestReadBack::intervalFromTheSettingsFile_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<int>("ms");
    QTest::newRow("no key") << QByteArray("[SerialInterface]\nType=1\n") << evm::DefaultAutoReadMs;
    QTest::newRow("hexadecimal") << QByteArray("[View]\nAutoReadMs=0x64\n") << 100;
    QTest::newRow("not a number") << QByteArray("[View]\nAutoReadMs=fast\n") << evm::DefaultAutoReadMs;
    QTest::newRow("too short") << QByteArray("[View]\nAutoReadMs=1\n") << evm::MinAutoReadMs;
    QTest::newRow("too long") << QByteArray("[View]\nAutoReadMs=99999999\n") << evm::MaxAutoReadMs;
}

void TestReadBack::intervalFromTheSettingsFile()
{
    QFETCH(QByteArray, settings);
    QFETCH(int, ms);
    fx->writeSettings(settings);
    fx->create_and_show();
    QCOMPARE(fx->form->autoReadIntervalMs(), ms);
    // The interface is read as before, and nothing is said of the interval.
    QCOMPARE(fx->seam.count(QStringLiteral("message")), 0);
}

QTEST_MAIN(TestReadBack)
#include "tst_readback.moc"
