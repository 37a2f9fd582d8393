// SPDX-License-Identifier: GPL-3.0-or-later
// libOstrelLinux.so through the program's loader, against emulated device files: the bus
// transfers each entry makes, the result codes, the GPIO lines, _close and a second _init,
// and every reason _init gives for finding no board.
#include "emulation.h"

#include "boardsession.h"
#include "boardlib.h"
#include "settingsfile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <sys/stat.h>

using evm::BoardLibrary;
using evm::ConnectionSettings;

namespace {

const QByteArray kConfig = "[IIC]\nDevice=/dev/i2c-1\n"
                           "[SPI]\nDevice=/dev/spidev0.0\n"
                           "[Lines]\nChip=/dev/gpiochip0\n53=13\n4=20\n49=/dev/gpiochip1:9\n";

ConnectionSettings iicAt(int address)
{
    return evm::connectionSettingsFor(0, address);
}

const ConnectionSettings kSpi = evm::connectionSettingsFor(1, 0);

// Closes reach the emulation asynchronously.
bool eventually(const std::function<bool()> &condition)
{
    QDeadlineTimer deadline(5000);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

} // namespace

class TestLinuxLibrary : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void iicRegistersAreSmbusByteData();
    void spiRegistersAreTwoByteFrames();
    void iicAddressIsNotProbed();
    void lostAdapterIsASystemError();
    void linesAreOutputsTakenAtTheirFirstLevel();
    void closeReleasesEverything();
    void initFindsNoBoard_data();
    void initFindsNoBoard();
    void configurationLiesBesideTheSettingsFile();
    void tracedLikeEveryBoardLibrary();

private:
    void configure(const QByteArray &text);
    int32_t read(int reg, uint8_t *value = nullptr);
    int32_t write(int reg, int value, int channel = 0);

    std::optional<EmulatedBoard> m_board;
    std::optional<QTemporaryDir> m_dir;
    BoardLibrary m_lib;
    QByteArray m_oldBoard;
    QByteArray m_oldConfig;
};

void TestLinuxLibrary::init()
{
    m_oldBoard = qgetenv("EVM_LINUX_BOARD");
    m_oldConfig = qgetenv("XDG_CONFIG_HOME");
    m_board.emplace();
    m_dir.emplace();
    configure(kConfig);
    QCOMPARE(m_lib.loadFile(OSTREL_LINUX_PATH), BoardLibrary::LoadStatus::Loaded);
}

void TestLinuxLibrary::cleanup()
{
    if (m_lib.isLoaded())
        m_lib.close();
    m_lib.unload();
    m_board.reset();
    m_dir.reset();
    qputenv("EVM_LINUX_BOARD", m_oldBoard);
    qputenv("XDG_CONFIG_HOME", m_oldConfig);
}

void TestLinuxLibrary::configure(const QByteArray &text)
{
    const QString path = m_dir->filePath(QStringLiteral("board.ini"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    qputenv("EVM_LINUX_BOARD", QFile::encodeName(path));
}

int32_t TestLinuxLibrary::read(int reg, uint8_t *value)
{
    uint8_t buffer[evm::TransferBufferSize] = {};
    const int32_t code = m_lib.readData(evm::ChipChannel, reg, buffer, 1);
    if (value)
        *value = buffer[0];
    return code;
}

int32_t TestLinuxLibrary::write(int reg, int value, int channel)
{
    uint8_t buffer[evm::TransferBufferSize] = {uint8_t(value)};
    return m_lib.writeData(channel, reg, buffer, 1);
}

void TestLinuxLibrary::iicRegistersAreSmbusByteData()
{
    ConnectionSettings s = iicAt(0x44);
    QCOMPARE(m_lib.init(0, &s), 1);
    QCOMPARE(m_lib.getVer(), 0x1000);
    // Opening probes nothing: the first transfer is the first access.
    QCOMPARE(m_board->registerTransfers(), QStringList());

    QCOMPARE(write(0x46, 0x0A), 0);
    uint8_t value = 0;
    QCOMPARE(read(0x46, &value), 0);
    QCOMPARE(value, uint8_t(0x0A));
    QCOMPARE(m_board->chipRegister(0x46), 0x0A);
    // The whole byte range goes to the bus; the chip decides what it has.
    QCOMPARE(read(0x00, &value), 0);
    QCOMPARE(write(0xFF, 0x12), 0);
    QCOMPARE(read(0x100), 0x0005);
    QCOMPARE(read(-1), 0x0005);
    QCOMPARE(write(0x100, 1), 0x0005);
    QCOMPARE(m_board->registerTransfers(), QStringList({"iic 0x44 write 0x46 = 0x0A", "iic 0x44 read 0x46 = 0x0A",
                                                         "iic 0x44 read 0x00 = 0x00", "iic 0x44 write 0xFF = 0x12"}));
}

void TestLinuxLibrary::spiRegistersAreTwoByteFrames()
{
    configure("[SPI]\nDevice=/dev/spidev0.0\nMode=3\nSpeedHz=500000\n");
    ConnectionSettings s = kSpi;
    QCOMPARE(m_lib.init(0, &s), 1);
    QCOMPARE(m_board->transfers(), QStringList({"spi mode 3", "spi bits 8", "spi speed 500000"}));
    m_board->clearTransfers();

    QCOMPARE(write(0x46, 0x0A), 0);
    uint8_t value = 0;
    QCOMPARE(read(0x46, &value), 0);
    QCOMPARE(value, uint8_t(0x0A));
    // A register with the read flag's bit cannot be told from a read: refused, nothing sent.
    QCOMPARE(read(0x80), 0x0005);
    QCOMPARE(write(0xC6, 0x01), 0x0005);
    QCOMPARE(m_board->transfers(), QStringList({"spi 0x46 0x0A -> 0x00 0x00", "spi 0xC6 0x00 -> 0x00 0x0A"}));
    QCOMPARE(m_board->chipRegister(0x46), 0x0A);
}

void TestLinuxLibrary::iicAddressIsNotProbed()
{
    m_board->setIicAddress(0x44);
    ConnectionSettings s = iicAt(0x45);
    // Wrong address: the board opens, the first access has no acknowledge.
    QCOMPARE(m_lib.init(0, &s), 1);
    QCOMPARE(read(0x40), 0x0101);
    QCOMPARE(write(0x46, 1), 0x0101);
    QCOMPARE(m_board->transfers(), QStringList({"iic 0x45 read 0x40 nack", "iic 0x45 write 0x46 nack"}));

    // Not the chip's address at all (an interface switch hands over an SPI address, and 0
    // is the general call): answered without a transfer.
    m_board->clearTransfers();
    m_lib.close();
    s = iicAt(0);
    QCOMPARE(m_lib.init(0, &s), 1);
    QCOMPARE(read(0x40), 0x0101);
    QCOMPARE(write(0x46, 1), 0x0101);
    QCOMPARE(m_board->transfers(), QStringList());
}

void TestLinuxLibrary::lostAdapterIsASystemError()
{
    ConnectionSettings s = iicAt(0x44);
    QCOMPARE(m_lib.init(0, &s), 1);
    QCOMPARE(read(0x40), 0);
    m_board->unplug(QStringLiteral("/dev/i2c-1"));
    QCOMPARE(read(0x40), 0x0213);
    QCOMPARE(write(0x46, 1), 0x0213);
    QCOMPARE(m_lib.close(), 0);
    {
        StandardErrorCapture err;
        QCOMPARE(m_lib.init(0, &s), 0);
        QCOMPARE(err.text(), QStringLiteral("libOstrel: /dev/i2c-1: No such file or directory\n"));
    }
    QCOMPARE(read(0x40), 0x0102);
    m_board->plugIn(QStringLiteral("/dev/i2c-1"));
    QCOMPARE(m_lib.init(0, &s), 1);
    QCOMPARE(read(0x40), 0);
}

void TestLinuxLibrary::linesAreOutputsTakenAtTheirFirstLevel()
{
    ConnectionSettings s = kSpi;
    QCOMPARE(m_lib.init(0, &s), 1);
    QCOMPARE(m_board->lineEvents(), QStringList());
    QCOMPARE(write(53, 1, evm::PinChannel), 0);
    QCOMPARE(write(53, 0, evm::PinChannel), 0);
    QCOMPARE(write(53, 1, evm::PinChannel), 0);
    QCOMPARE(write(49, 85, evm::PinChannel), 0);
    QCOMPARE(write(49, 0, evm::PinChannel), 0);
    QCOMPARE(m_board->lineEvents(), QStringList({"gpiochip0 13 request output 1 evm5170", "gpiochip0 13 = 0", "gpiochip0 13 = 1",
                                                 "gpiochip1 9 request output 1 evm5170", "gpiochip1 9 = 0"}));
    // Lines that are not mapped take every write and go nowhere.
    m_board->clearLineEvents();
    for (int line : {0, 11, 12, 13, 14, 15, 63})
        QCOMPARE(write(line, 85, evm::PinChannel), 0);
    QCOMPARE(write(64, 1, evm::PinChannel), 0x0005);
    QCOMPARE(m_board->lineEvents(), QStringList());
    QCOMPARE(m_board->registerTransfers(), QStringList());

    // A line someone else holds is refused each time, until it is free.
    m_board->setBusy(0, 20);
    QCOMPARE(write(4, 1, evm::PinChannel), 0x0210);
    QCOMPARE(write(4, 1, evm::PinChannel), 0x0210);
    QCOMPARE(m_board->level(0, 20), -1);
}

void TestLinuxLibrary::closeReleasesEverything()
{
    ConnectionSettings s = iicAt(0x44);
    QCOMPARE(m_lib.init(0, &s), 1);
    QCOMPARE(write(53, 1, evm::PinChannel), 0);
    QCOMPARE(write(49, 0, evm::PinChannel), 0);
    QCOMPARE(read(0x40), 0);
    QCOMPARE(m_board->openClients(QStringLiteral("/dev/i2c-1")), 1);
    QCOMPARE(m_board->openClients(QStringLiteral("/dev/gpiochip0")), 1);
    QCOMPARE(m_board->openClients(QStringLiteral("/dev/gpiochip1")), 1);

    QCOMPARE(m_lib.close(), 0);
    QVERIFY(eventually([&] {
        return m_board->openClients(QStringLiteral("/dev/i2c-1")) == 0 && m_board->openClients(QStringLiteral("/dev/gpiochip0")) == 0
               && m_board->openClients(QStringLiteral("/dev/gpiochip1")) == 0 && m_board->level(0, 13) == -1
               && m_board->level(1, 9) == -1;
    }));
    QVERIFY(m_board->lineEvents().contains(QStringLiteral("gpiochip0 13 released")));
    QVERIFY(m_board->lineEvents().contains(QStringLiteral("gpiochip1 9 released")));
    QCOMPARE(m_lib.close(), 0);
    QCOMPARE(read(0x40), 0x0102);
    QCOMPARE(write(53, 0, evm::PinChannel), 0x0102);

    // Reconnect: everything again, each line taken at its first new level.
    m_board->clearLineEvents();
    s = kSpi;
    QCOMPARE(m_lib.init(0, &s), 1);
    QCOMPARE(write(53, 0, evm::PinChannel), 0);
    QCOMPARE(m_board->lineEvents(), QStringList({"gpiochip0 13 request output 0 evm5170"}));
    uint8_t value = 0;
    QCOMPARE(read(0x40, &value), 0);
    QCOMPARE(value, uint8_t(0xC0));
}

void TestLinuxLibrary::initFindsNoBoard_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<int>("interfaceCode");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("reason");

    QTest::newRow("no configuration file") << QByteArray() << 1 << "" << "{config}: No such file or directory";
    QTest::newRow("malformed configuration") << QByteArray("[SPI]\nDevice=/dev/spidev0.0\nMode=9\n") << 3 << ""
                                             << "{config}:3: Mode=9 is not a number from 0 to 3";
    QTest::newRow("no IIC device") << QByteArray("[SPI]\nDevice=/dev/spidev0.0\n") << 1 << "" << "{config}: no Device in [IIC]";
    QTest::newRow("missing node") << QByteArray("[IIC]\nDevice=/dev/i2c-7\n") << 1 << "" << "/dev/i2c-7: No such file or directory";
    QTest::newRow("not a device") << QByteArray("[SPI]\nDevice={config}\n") << 3 << "" << "{config}: not a character device";
    QTest::newRow("no permission") << kConfig << 1 << "chmod /dev/i2c-1" << "/dev/i2c-1: Permission denied";
    QTest::newRow("SPI without permission") << kConfig << 3 << "chmod /dev/spidev0.0" << "/dev/spidev0.0: Permission denied";
    QTest::newRow("GPIO chip without permission") << kConfig << 3 << "chmod /dev/gpiochip1" << "/dev/gpiochip1: Permission denied";
    QTest::newRow("a FIFO as the device") << QByteArray("[IIC]\nDevice={dir}/fifo\n") << 1 << "fifo"
                                          << "{dir}/fifo: not a character device";
    QTest::newRow("GPIO chip not a device") << QByteArray("[SPI]\nDevice=/dev/spidev0.0\n[Lines]\n53={config}:1\n") << 3 << ""
                                            << "{config}: not a character device";
    QTest::newRow("missing GPIO chip") << QByteArray("[SPI]\nDevice=/dev/spidev0.0\n[Lines]\n53=/dev/gpiochip7:1\n") << 3 << ""
                                       << "/dev/gpiochip7: No such file or directory";
    QTest::newRow("offset beyond the chip") << QByteArray("[SPI]\nDevice=/dev/spidev0.0\n[Lines]\nChip=/dev/gpiochip0\n53=40\n") << 3
                                            << "" << "line 53: /dev/gpiochip0 has no line 40 (it has 32)";
    QTest::newRow("unknown interface") << kConfig << 2 << "" << "interface code 2 is neither IIC (1) nor SPI (3)";
}

void TestLinuxLibrary::initFindsNoBoard()
{
    QFETCH(QByteArray, config);
    QFETCH(int, interfaceCode);
    QFETCH(QString, setup);
    QFETCH(QString, reason);

    const QString path = m_dir->filePath(QStringLiteral("board.ini"));
    if (config.isEmpty())
        QVERIFY(QFile::remove(path));
    else
        configure(config.replace("{config}", QFile::encodeName(path)).replace("{dir}", QFile::encodeName(m_dir->path())));
    if (setup.startsWith(QLatin1String("chmod ")))
        QVERIFY(QFile::setPermissions(m_board->nodeFile(setup.mid(6)), {}));
    if (setup == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(m_dir->filePath(QStringLiteral("fifo"))).constData(), 0600), 0);

    ConnectionSettings s = iicAt(0x44);
    s.interfaceCode = interfaceCode;
    StandardErrorCapture err;
    {
        WithoutFileOverride asUser;
        QCOMPARE(m_lib.init(0, &s), 0);
    }
    QCOMPARE(err.text(), QStringLiteral("libOstrel: %1\n")
                             .arg(QString(reason).replace(QLatin1String("{config}"), path).replace(QLatin1String("{dir}"), m_dir->path())));
    // Found nothing, holds nothing (a node it may not open is umockdev's to count).
    QCOMPARE(read(0x40), 0x0102);
    QVERIFY(eventually([&] {
        int open = 0;
        for (const char *node : {"/dev/i2c-1", "/dev/spidev0.0", "/dev/gpiochip0"})
            if (setup != QLatin1String("chmod ") + QLatin1String(node))
                open += m_board->openClients(QLatin1String(node));
        return open == 0;
    }));
}

void TestLinuxLibrary::configurationLiesBesideTheSettingsFile()
{
    qunsetenv("EVM_LINUX_BOARD");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path()));
    QFile f(QFileInfo(QString::fromStdString(evm::settingsFilePath())).dir().filePath(QStringLiteral("EVM5170-linux.ini")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[SPI]\nDevice=/dev/spidev0.0\nSpeedHz=250000\n");
    f.close();
    ConnectionSettings s = kSpi;
    QCOMPARE(m_lib.init(0, &s), 1);
    QVERIFY(m_board->transfers().contains(QStringLiteral("spi speed 250000")));
}

void TestLinuxLibrary::tracedLikeEveryBoardLibrary()
{
    // The trace file is named when the library is loaded.
    m_lib.unload();
    const QString trace = m_dir->filePath(QStringLiteral("trace.txt"));
    qputenv("OSTREL_LINUX_TRACE", QFile::encodeName(trace));
    QCOMPARE(m_lib.loadFile(OSTREL_LINUX_PATH), BoardLibrary::LoadStatus::Loaded);
    qunsetenv("OSTREL_LINUX_TRACE");
    ConnectionSettings s = iicAt(0x44);
    QCOMPARE(m_lib.init(0, &s), 1);
    QCOMPARE(read(0x40), 0);
    QCOMPARE(write(53, 1, evm::PinChannel), 0);
    QCOMPARE(write(0x46, 0x0A), 0);
    m_lib.close();
    m_lib.unload();
    QFile f(trace);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             QStringList({"_init(port=0, interface=1, address=0x44, word56=3) = 1", "_readData(channel=0, reg=0x40) = 0 value=0xC0",
                          "_writeData(channel=7, pin=53, value=1) = 0", "_writeData(channel=0, reg=0x46, value=0x0A) = 0",
                          "_close() = 0"}));
}

EVM_EMULATED_TEST_MAIN(TestLinuxLibrary, QCoreApplication)
#include "tst_linux_library.moc"
