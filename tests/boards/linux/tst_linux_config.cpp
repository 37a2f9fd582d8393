// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux board's configuration file: what it takes, and the one-line reason, with
// file and line, for everything it refuses.
#include "linux_config.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace ostrel::linuxboard;

class TestLinuxConfig : public QObject
{
    Q_OBJECT
private slots:
    void takesTheDocumentedFile();
    void defaultsAndNameCase();
    void refusesWithTheReason_data();
    void refusesWithTheReason();
    void pathFollowsTheSettingsFile();
    void unreadableFiles();
};

namespace {
std::optional<Config> parsed(const char *text, std::string &error)
{
    return parseConfig("board.ini", text, error);
}
} // namespace

void TestLinuxConfig::takesTheDocumentedFile()
{
    std::string error;
    const auto config = parsed("; the bench board\r\n"
                               "[IIC]\r\nDevice=/dev/i2c-1 ; the header's bus\r\n# Device=/dev/i2c-0\r\n"
                               "[SPI]\r\nDevice=/dev/spidev0.0\r\nMode=3\r\nSpeedHz=0x7A120\r\nReadFlag=0x01\r\n"
                               "[Lines]\r\nChip=/dev/gpiochip0\r\n53=17\r\n49=/dev/gpiochip1:5\r\n  4 = 22  \r\n",
                               error);
    QVERIFY2(config, error.c_str());
    QCOMPARE(config->iicDevice, std::string("/dev/i2c-1"));
    QCOMPARE(config->spiDevice, std::string("/dev/spidev0.0"));
    QCOMPARE(config->spiMode, uint8_t(3));
    QCOMPARE(config->spiSpeedHz, uint32_t(500000));
    QCOMPARE(config->readFlag, uint8_t(0x01));
    // By board line, whatever the file's order; a bare offset is on Chip.
    QCOMPARE(config->lines.size(), size_t(3));
    QCOMPARE(config->lines[0].boardLine, 4);
    QCOMPARE(config->lines[0].chip, std::string("/dev/gpiochip0"));
    QCOMPARE(config->lines[0].offset, 22u);
    QCOMPARE(config->lines[1].boardLine, 49);
    QCOMPARE(config->lines[1].chip, std::string("/dev/gpiochip1"));
    QCOMPARE(config->lines[1].offset, 5u);
    QCOMPARE(config->lines[2].boardLine, 53);
    QCOMPARE(config->lines[2].offset, 17u);
}

void TestLinuxConfig::defaultsAndNameCase()
{
    std::string error;
    // Chip may follow the lines that rely on it; names are matched without regard to case.
    const auto config = parsed("[spi]\ndevice=/dev/spidev1.0\n[LINES]\n53=3\nCHIP=/dev/gpiochip4\n", error);
    QVERIFY2(config, error.c_str());
    QCOMPARE(config->iicDevice, std::string());
    QCOMPARE(config->spiDevice, std::string("/dev/spidev1.0"));
    QCOMPARE(config->spiMode, uint8_t(0));
    QCOMPARE(config->spiSpeedHz, uint32_t(1000000));
    QCOMPARE(config->readFlag, uint8_t(0x80));
    QCOMPARE(config->lines.size(), size_t(1));
    QCOMPARE(config->lines[0].chip, std::string("/dev/gpiochip4"));
    QVERIFY(parsed("", error));
}

void TestLinuxConfig::refusesWithTheReason_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("unknown section") << "[IIC]\nDevice=/dev/i2c-1\n[I2C]\n"
                                     << "board.ini:3: unknown section [I2C]; the sections are [IIC], [SPI] and [Lines]";
    QTest::newRow("unknown key") << "[IIC]\nAddress=0x44\n" << "board.ini:2: unknown key Address in [IIC]; it has Device";
    QTest::newRow("unknown SPI key") << "[SPI]\nBits=8\n"
                                     << "board.ini:2: unknown key Bits in [SPI]; it has Device, Mode, SpeedHz and ReadFlag";
    QTest::newRow("key before a section") << "Device=/dev/i2c-1\n" << "board.ini:1: \"Device=/dev/i2c-1\" comes before any section";
    QTest::newRow("no equals sign") << "[SPI]\nMode 0\n" << "board.ini:2: expected key=value, found \"Mode 0\"";
    QTest::newRow("unclosed section") << "[SPI\n" << "board.ini:1: a section line ends with ]";
    QTest::newRow("empty value") << "[IIC]\nDevice=\n" << "board.ini:2: Device has no value";
    QTest::newRow("twice") << "[SPI]\nMode=0\nmode=1\n" << "board.ini:3: mode is given twice";
    QTest::newRow("mode 4") << "[SPI]\nMode=4\n" << "board.ini:2: Mode=4 is not a number from 0 to 3";
    QTest::newRow("mode with a sign") << "[SPI]\nMode=-1\n" << "board.ini:2: Mode=-1 is not a number from 0 to 3";
    QTest::newRow("speed 0") << "[SPI]\nSpeedHz=0\n" << "board.ini:2: SpeedHz=0 is not a number from 1 to 4294967295";
    QTest::newRow("speed too high") << "[SPI]\nSpeedHz=4294967296\n"
                                    << "board.ini:2: SpeedHz=4294967296 is not a number from 1 to 4294967295";
    QTest::newRow("speed in words") << "[SPI]\nSpeedHz=1MHz\n" << "board.ini:2: SpeedHz=1MHz is not a number from 1 to 4294967295";
    QTest::newRow("read flag 0") << "[SPI]\nReadFlag=0\n" << "board.ini:2: ReadFlag=0 is not a number from 1 to 255";
    QTest::newRow("line 64") << "[Lines]\nChip=/dev/gpiochip0\n64=1\n"
                             << "board.ini:3: unknown key 64 in [Lines]; it has Chip and the board lines 0 to 63";
    QTest::newRow("line given twice") << "[Lines]\nChip=/dev/gpiochip0\n53=1\n053=2\n" << "board.ini:4: 53 is given twice";
    QTest::newRow("offset without Chip") << "[Lines]\n53=17\n"
                                         << "board.ini:2: line 53 gives only an offset, and [Lines] has no Chip";
    QTest::newRow("no offset after the colon") << "[Lines]\n49=/dev/gpiochip1:\n"
                                               << "board.ini:2: line 49: offset \"\" is not a number from 0 to 65535";
    QTest::newRow("no chip before the colon") << "[Lines]\n49=:5\n" << "board.ini:2: 49=:5 names no chip before the colon";
    QTest::newRow("a list") << "[IIC]\nDevice=/dev/i2c-1, /dev/i2c-2\n"
                            << "board.ini:2: Device=/dev/i2c-1, /dev/i2c-2 is a list; give one value";
    QTest::newRow("text after the section") << "[SPI] Mode=0\n" << "board.ini:1: a section line ends with ]";
    QTest::newRow("one chip line for two board lines")
        << "[Lines]\nChip=/dev/gpiochip0\n53=17\n49=/dev/gpiochip0:17\n"
        << "board.ini:4: lines 53 and 49 both name /dev/gpiochip0:17";
}

void TestLinuxConfig::refusesWithTheReason()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    std::string why;
    QVERIFY(!parsed(text.toUtf8().constData(), why));
    QCOMPARE(QString::fromStdString(why), error);
}

void TestLinuxConfig::pathFollowsTheSettingsFile()
{
    const QByteArray oldBoard = qgetenv("EVM_LINUX_BOARD");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    const QByteArray oldHome = qgetenv("HOME");
    qunsetenv("EVM_LINUX_BOARD");
    qputenv("XDG_CONFIG_HOME", "/srv/config");
    QCOMPARE(configPath(), std::string("/srv/config/EVM5170-linux.ini"));
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/bench");
    QCOMPARE(configPath(), std::string("/home/bench/.config/EVM5170-linux.ini"));
    qputenv("EVM_LINUX_BOARD", "/etc/evm/board.ini");
    QCOMPARE(configPath(), std::string("/etc/evm/board.ini"));
    qputenv("EVM_LINUX_BOARD", oldBoard);
    qputenv("XDG_CONFIG_HOME", oldConfig);
    qputenv("HOME", oldHome);
}

void TestLinuxConfig::unreadableFiles()
{
    QTemporaryDir dir;
    std::string error;
    const std::string missing = dir.filePath(QStringLiteral("none.ini")).toStdString();
    QVERIFY(!readConfig(missing, error));
    QCOMPARE(error, missing + ": No such file or directory");
    QVERIFY(!readConfig(dir.path().toStdString(), error));
    QCOMPARE(error, dir.path().toStdString() + ": not a regular file");
    // A FIFO neither blocks the open nor passes for a file.
    const std::string fifo = dir.filePath(QStringLiteral("fifo")).toStdString();
    QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
    QVERIFY(!readConfig(fifo, error));
    QCOMPARE(error, fifo + ": not a regular file");
}

QTEST_GUILESS_MAIN(TestLinuxConfig)
#include "tst_linux_config.moc"
