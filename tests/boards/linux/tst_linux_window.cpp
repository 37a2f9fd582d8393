// SPDX-License-Identifier: GPL-3.0-or-later
// The real window, offscreen, on libOstrelLinux.so loaded through the real loader, against
// emulated device files with the chip model behind them: start-up on IIC and SPI, a control
// change, the resets, Reconnect, and what the user sees when the bus or the board fails.
#include "emulation.h"
#include "fixture.h"
#include "uitest.h"

#include "main.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {

// Where the board's lines go: gpiochip0 at the line's number less 40 (0 and 4 at their own),
// line 49 on a second chip. Lines 11 to 15 are not wired, as on a bench.
struct Wire {
    int boardLine;
    int chip;
    int offset;
};
constexpr Wire kWiring[] = {{0, 0, 0},   {4, 0, 4},   {46, 0, 6},  {47, 0, 7},  {48, 0, 8},  {49, 1, 9},
                            {50, 0, 10}, {51, 0, 11}, {52, 0, 12}, {53, 0, 13}, {54, 0, 14}, {55, 0, 15}};

const QByteArray kConfig = "[IIC]\nDevice=/dev/i2c-1\n[SPI]\nDevice=/dev/spidev0.0\n[Lines]\nChip=/dev/gpiochip0\n"
                           "0=0\n4=4\n46=6\n47=7\n48=8\n49=/dev/gpiochip1:9\n50=10\n51=11\n52=12\n53=13\n54=14\n55=15\n";
const QByteArray kIic = "[SerialInterface]\nType=0\nAddr=0x44\n";
const QByteArray kSpi = "[SerialInterface]\nType=1\nAddr=0x00\n";

const Wire &wireOf(int boardLine)
{
    for (const Wire &w : kWiring)
        if (w.boardLine == boardLine)
            return w;
    qFatal("line %d is not wired", boardLine);
}

QString lineEvent(int boardLine, const QString &what)
{
    const Wire &w = wireOf(boardLine);
    return QStringLiteral("gpiochip%1 %2 %3").arg(w.chip).arg(w.offset).arg(what);
}

QString requested(int boardLine, int level)
{
    return lineEvent(boardLine, QStringLiteral("request output %1 evm5170").arg(level));
}

QStringList withoutReleases(const QStringList &events)
{
    QStringList out;
    for (const QString &e : events)
        if (!e.endsWith(QLatin1String(" released")))
            out << e;
    return out;
}

QString hexByte(int v)
{
    return QStringLiteral("0x") + hex2(v);
}

QStringList texts(const QList<RecordingSeam::Call> &calls)
{
    QStringList out;
    for (const auto &c : calls)
        out << c.text;
    return out;
}

} // namespace

class TestLinuxWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startUpOnIic();
    void startUpOnSpi();
    void aControlChangeIsOneTransfer();
    void resetsReachTheChip();
    void reconnectOpensTheBoardAgain();
    void wrongAddressIsReportedOnce();
    void adapterVanishesMidSession();
    void aLineHeldElsewhereIsReportedEachTime();
    void noBoardWithTheReason_data();
    void noBoardWithTheReason();

private:
    void start(const QByteArray &settings);
    // The line levels start-up drives, in its order, as the emulated chips see them.
    QStringList startUpLines(bool withDoutSelect = true);

    std::optional<EmulatedBoard> m_board;
    std::optional<AppFixture> m_fx;
    std::optional<QTemporaryDir> m_dir;
    QByteArray m_oldBoard;
};

void TestLinuxWindow::init()
{
    m_oldBoard = qgetenv("EVM_LINUX_BOARD");
    m_board.emplace();
    for (const Wire &w : kWiring)
        m_board->wire(w.chip, w.offset, w.boardLine);
    m_dir.emplace();
    const QString path = m_dir->filePath(QStringLiteral("board.ini"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(kConfig);
    qputenv("EVM_LINUX_BOARD", QFile::encodeName(path));
    m_fx.emplace();
}

void TestLinuxWindow::cleanup()
{
    m_fx.reset();
    m_board.reset();
    m_dir.reset();
    qputenv("EVM_LINUX_BOARD", m_oldBoard);
}

void TestLinuxWindow::start(const QByteArray &settings)
{
    m_fx->writeSettings(settings);
    m_fx->create();
    qputenv("EVM_BOARD_LIBRARY", OSTREL_LINUX_PATH);
    m_fx->show();
}

QStringList TestLinuxWindow::startUpLines(bool withDoutSelect)
{
    const auto slave = [&](const char *combo) { return m_fx->find<QComboBox>(QLatin1String(combo))->currentIndex() == 0 ? 1 : 0; };
    const auto ticked = [&](const char *box) { return m_fx->find<QCheckBox>(QLatin1String(box))->isChecked() ? 1 : 0; };
    QStringList lines{requested(0, 0),
                      requested(4, 1),
                      requested(53, 1),
                      requested(55, slave("cbDACMasterSlave")),
                      requested(52, slave("cbADCMasterSlave")),
                      requested(54, slave("cbADCMasterSlave")),
                      requested(49, ticked("cbDIN1")),
                      requested(48, ticked("cbDIN2")),
                      requested(47, ticked("cbDIN3")),
                      requested(46, ticked("cbDIN4"))};
    if (withDoutSelect) // DOUT1, the first item, is 3 - 0: both lines high
        lines << requested(50, 1) << requested(51, 1);
    return lines;
}

void TestLinuxWindow::startUpOnIic()
{
    m_board->withChip([](ostrel::Chip &chip) { chip.write(0x46, 0x20); });
    start(kIic);

    QCOMPARE(m_fx->form->boardPort(), 1);
    QCOMPARE(statusText(*m_fx), QStringLiteral("Ready"));
    // Lines 11 to 15 are not wired: their writes succeed and go nowhere, no SPERR.
    QCOMPARE(m_fx->seam.calls.size(), 0);
    QCOMPARE(m_board->lineEvents(), startUpLines());
    // The read-back: 31 SMBus byte reads at the chosen address, and nothing else.
    QStringList reads;
    for (int reg = 0x40; reg <= 0x5E; ++reg)
        reads << QStringLiteral("iic 0x44 read %1 = %2").arg(hexByte(reg), hexByte(m_board->chipRegister(reg)));
    QCOMPARE(m_board->transfers(), reads);
    QCOMPARE(m_fx->find<QComboBox>(QStringLiteral("cbDEMP"))->currentIndex(), 2);
    QCOMPARE(m_fx->form->shadow.byte(0x46), 0x20);
    QVERIFY(historyOf(*m_fx).isEmpty());
}

void TestLinuxWindow::startUpOnSpi()
{
    m_board->withChip([](ostrel::Chip &chip) { chip.write(0x5A, 0x80); });
    start(kSpi);

    QCOMPARE(m_fx->form->boardPort(), 1);
    QCOMPARE(m_fx->seam.calls.size(), 0);
    QCOMPARE(m_board->lineEvents(), startUpLines());
    QStringList transfers{"spi mode 0", "spi bits 8", "spi speed 1000000"};
    for (int reg = 0x40; reg <= 0x5E; ++reg)
        transfers << QStringLiteral("spi %1 0x00 -> 0x00 %2").arg(hexByte(reg | 0x80), hexByte(m_board->chipRegister(reg)));
    // Setting a track bar from code runs its handler: the refresh writes the attenuator back.
    transfers << QStringLiteral("spi 0x5A 0x80 -> 0x00 0x00");
    QCOMPARE(m_board->transfers(), transfers);
    QCOMPARE(m_fx->form->shadow.byte(0x5A), 0x80);
}

void TestLinuxWindow::aControlChangeIsOneTransfer()
{
    start(kIic);
    m_board->clearTransfers();
    m_board->clearLineEvents();

    pick(*m_fx, "cbDEMP", 3);
    QCOMPARE(m_board->transfers(), QStringList{"iic 0x44 write 0x46 = 0x30"});
    QCOMPARE(m_board->chipRegister(0x46), 0x30);
    QCOMPARE(historyOf(*m_fx), QStringList{"0x46, 0x30"});

    // A routing line is one GPIO level and no bus transfer.
    clickIndicator(*m_fx, QStringLiteral("cbDIN3"));
    QCOMPARE(m_board->lineEvents(), QStringList{lineEvent(47, QStringLiteral("= 0"))});
    QCOMPARE(m_board->transfers().size(), 1);
    QCOMPARE(m_fx->seam.calls.size(), 0);
}

void TestLinuxWindow::resetsReachTheChip()
{
    start(kIic);
    pick(*m_fx, "cbDEMP", 3);
    m_board->clearTransfers();

    clickPush(*m_fx, "btnMRST");
    QCOMPARE(m_board->transfers(), QStringList{"iic 0x44 write 0x40 = 0x40"});
    QCOMPARE(m_board->chipRegister(0x46), 0x00);
    QCOMPARE(m_fx->find<QComboBox>(QStringLiteral("cbDEMP"))->currentIndex(), 0);

    // RESET: line 53 low, the 10 ms pause, high again; the pulse resets the chip, whose
    // registers are then read back.
    pick(*m_fx, "cbDEMP", 1);
    QCOMPARE(m_board->chipRegister(0x46), 0x10);
    m_board->clearTransfers();
    m_board->clearLineEvents();
    m_fx->seam.clear();
    int levelDuringPause = -2;
    m_fx->seam.onSleep = [&](int ms) {
        if (ms == 10)
            levelDuringPause = m_board->level(0, 13);
    };
    clickPush(*m_fx, "btnRESET");
    QCOMPARE(m_fx->seam.sleeps(), QList<int>{10});
    QCOMPARE(levelDuringPause, 0);
    QCOMPARE(m_board->lineEvents(), QStringList({lineEvent(53, QStringLiteral("= 0")), lineEvent(53, QStringLiteral("= 1"))}));
    QCOMPARE(m_board->level(0, 13), 1);
    const QStringList transfers = m_board->transfers();
    QCOMPARE(transfers.size(), 31);
    QCOMPARE(transfers.first(), QStringLiteral("iic 0x44 read 0x40 = 0xC0"));
    QCOMPARE(transfers.last(), QStringLiteral("iic 0x44 read 0x5E = 0xD7"));
    QCOMPARE(m_board->chipRegister(0x46), 0x00);
    QCOMPARE(m_fx->find<QComboBox>(QStringLiteral("cbDEMP"))->currentIndex(), 0);
    QCOMPARE(texts(m_fx->seam.of(QStringLiteral("message"))), QStringList());
}

void TestLinuxWindow::reconnectOpensTheBoardAgain()
{
    start(kSpi);
    pick(*m_fx, "cbDEMP", 2);
    m_board->clearTransfers();
    m_board->clearLineEvents();

    clickPush(*m_fx, "bBDRST");

    QCOMPARE(m_fx->form->boardPort(), 1);
    QCOMPARE(statusText(*m_fx), QStringLiteral("Ready"));
    QCOMPARE(m_fx->seam.of(QStringLiteral("box")).size(), 0);
    QCOMPARE(texts(m_fx->seam.of(QStringLiteral("message"))), QStringList());
    // _close released every line and the device; _init took the lines again at the levels
    // Reconnect drives (without the DOUT select lines, which it leaves alone).
    QCOMPARE(withoutReleases(m_board->lineEvents()), startUpLines(false));
    QDeadlineTimer deadline(5000);
    while (m_board->lineEvents().filter(QStringLiteral(" released")).size() < 12 && !deadline.hasExpired())
        QTest::qWait(5);
    QCOMPARE(m_board->lineEvents().filter(QStringLiteral(" released")).size(), 12);
    QCOMPARE(m_board->transfers(),
             QStringList({"spi mode 0", "spi bits 8", "spi speed 1000000", "spi 0x40 0x40 -> 0x00 0x00"}));
    QCOMPARE(m_board->chipRegister(0x46), 0x00);
    QCOMPARE(m_fx->find<QComboBox>(QStringLiteral("cbDEMP"))->currentIndex(), 0);
}

void TestLinuxWindow::wrongAddressIsReportedOnce()
{
    m_board->setIicAddress(0x44);
    start("[SerialInterface]\nType=0\nAddr=0x45\n");

    QCOMPARE(m_fx->form->boardPort(), 1);
    QCOMPARE(texts(m_fx->seam.of(QStringLiteral("message"))),
             QStringList{"Communication error: RDERR0101\nPlease check interface setting.\n/dev/i2c-1: nothing answers at 0x45"});
    // Every transfer went to 0x45 and found nothing: the 31 reads, then the writes of the
    // refresh (the shadow holds what the failed reads gave).
    const QStringList transfers = m_board->transfers();
    QCOMPARE(transfers.filter(QRegularExpression(QStringLiteral("^iic 0x45 (read|write) 0x.. nack$"))), transfers);
    QCOMPARE(transfers.filter(QStringLiteral(" read ")).size(), 31);
}

void TestLinuxWindow::adapterVanishesMidSession()
{
    start(kIic);
    m_board->unplug(QStringLiteral("/dev/i2c-1"));

    pick(*m_fx, "cbDEMP", 1);
    pick(*m_fx, "cbDEMP", 2);
    clickPush(*m_fx, "btnZeroRead");
    // The message and the status say what became of the adapter, not only its code.
    QCOMPARE(texts(m_fx->seam.of(QStringLiteral("message"))), QStringList{"Communication error: WRERR0213\n/dev/i2c-1: No such device"});
    QVERIFY2(QRegularExpression(QStringLiteral("^Communication error: RDERR0213 at \\d\\d:\\d\\d:\\d\\d \\(/dev/i2c-1: No such device\\)$"))
                 .match(statusText(*m_fx))
                 .hasMatch(),
             qPrintable(statusText(*m_fx)));
    m_fx->seam.clear();

    {
        StandardErrorCapture err;
        clickPush(*m_fx, "bBDRST");
        QCOMPARE(err.text(), QStringLiteral("libOstrel: /dev/i2c-1: No such file or directory\n"));
    }
    const auto boxes = m_fx->seam.of(QStringLiteral("box"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, QStringLiteral("No EVM was foud\n/dev/i2c-1: No such file or directory"));
    QCOMPARE(boxes[0].caption, QStringLiteral("Error"));
    QCOMPARE(statusText(*m_fx), QStringLiteral("No EVM was found"));
    QCOMPARE(m_fx->form->boardPort(), 0);

    // Plugged in again, the next Reconnect finds the board.
    m_board->plugIn(QStringLiteral("/dev/i2c-1"));
    m_fx->seam.clear();
    clickPush(*m_fx, "bBDRST");
    QCOMPARE(m_fx->form->boardPort(), 1);
    QCOMPARE(statusText(*m_fx), QStringLiteral("Ready"));
    QCOMPARE(m_fx->seam.of(QStringLiteral("box")).size(), 0);
}

void TestLinuxWindow::aLineHeldElsewhereIsReportedEachTime()
{
    // Line 53's GPIO belongs to someone else: each write of it fails with EBUSY, and every
    // failed line write is reported.
    m_board->setBusy(0, 13);
    start(kIic);
    QCOMPARE(texts(m_fx->seam.of(QStringLiteral("message"))), QStringList{"Communication error: SPERR0210\n/dev/gpiochip0 line 13: Device or resource busy"});
    QCOMPARE(m_board->level(0, 13), -1);
    QCOMPARE(m_board->transfers().size(), 31);
    m_fx->seam.clear();
    clickPush(*m_fx, "btnRESET");
    QCOMPARE(texts(m_fx->seam.of(QStringLiteral("message"))),
             QStringList(2, QStringLiteral("Communication error: SPERR0210\n/dev/gpiochip0 line 13: Device or resource busy")));
}

void TestLinuxWindow::noBoardWithTheReason_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("lockedNode");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing node") << QByteArray("[IIC]\nDevice=/dev/i2c-3\n") << QString() << "/dev/i2c-3: No such file or directory";
    QTest::newRow("no permission") << kConfig << "/dev/i2c-1" << "/dev/i2c-1: Permission denied";
    QTest::newRow("malformed configuration") << QByteArray("[IIC]\nDevice=/dev/i2c-1\nAddress=0x44\n") << QString()
                                             << "{config}:3: unknown key Address in [IIC]; it has Device";
}

void TestLinuxWindow::noBoardWithTheReason()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, lockedNode);
    QFETCH(QString, reason);
    const QString path = m_dir->filePath(QStringLiteral("board.ini"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(config);
    f.close();
    if (!lockedNode.isEmpty())
        QVERIFY(QFile::setPermissions(m_board->nodeFile(lockedNode), {}));

    StandardErrorCapture err;
    {
        WithoutFileOverride asUser;
        start(kIic);
    }
    QCOMPARE(err.text(), QStringLiteral("libOstrel: %1\n").arg(reason.replace(QLatin1String("{config}"), path)));
    const auto boxes = m_fx->seam.of(QStringLiteral("box"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, QStringLiteral("No EVM was found\n") + reason);
    QCOMPARE(statusText(*m_fx), QStringLiteral("No EVM was found"));
    QCOMPARE(m_board->transfers(), QStringList());
    QCOMPARE(m_board->lineEvents(), QStringList());
}

EVM_EMULATED_TEST_MAIN(TestLinuxWindow, QApplication)
#include "tst_linux_window.moc"
