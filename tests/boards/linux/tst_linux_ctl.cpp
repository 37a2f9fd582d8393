// SPDX-License-Identifier: GPL-3.0-or-later
// evm5170ctl as a process with EVM_BOARD_LIBRARY=linux: the library beside the tool, on
// device files emulated here (the process inherits the testbed), the chip model behind them.
#include "emulation.h"

#include "textfiles.h"
#include "toolrun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <optional>

namespace {

const QByteArray kConfig = "[IIC]\nDevice=/dev/i2c-1\n[SPI]\nDevice=/dev/spidev0.0\n"
                           "[Lines]\nChip=/dev/gpiochip0\n53=13\n49=/dev/gpiochip1:9\n";

} // namespace

class TestLinuxCtl : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void infoNamesDevicesAndLines();
    void infoWithAMalformedConfiguration();
    void dumpReadsTheChip_data();
    void dumpReadsTheChip();
    void setIsOneReadAndOneWrite();
    void diffAgainstTheChip();
    void wrongAddressFails();
    void i2csetScriptSetsTheChip();

private:
    ToolRun ctl(const QStringList &args);
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void writeFile(const QString &name, const QByteArray &bytes);
    std::array<uint8_t, 31> chipValues();

    std::optional<EmulatedBoard> m_board;
    std::optional<QTemporaryDir> m_dir;
};

void TestLinuxCtl::init()
{
    m_board.emplace();
    m_dir.emplace();
    writeFile(QStringLiteral("board.ini"), kConfig);
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("config")));
    writeFile(QStringLiteral("config/EVM5170.ini"), "[SerialInterface]\nType=0\nAddr=0x44\n");
}

void TestLinuxCtl::cleanup()
{
    m_board.reset();
    m_dir.reset();
}

void TestLinuxCtl::writeFile(const QString &name, const QByteArray &bytes)
{
    QFile f(path(name));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

ToolRun TestLinuxCtl::ctl(const QStringList &args)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("EVM_BOARD_LIBRARY"), QStringLiteral("linux"));
    e.insert(QStringLiteral("EVM_LINUX_BOARD"), path(QStringLiteral("board.ini")));
    e.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
    return runTool(e, m_dir->path(), args);
}

std::array<uint8_t, 31> TestLinuxCtl::chipValues()
{
    std::array<uint8_t, 31> values{};
    for (int i = 0; i < 31; ++i)
        values[i] = uint8_t(m_board->chipRegister(0x40 + i));
    return values;
}

void TestLinuxCtl::infoNamesDevicesAndLines()
{
    const ToolRun r = ctl({"info"});
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.exitCode, 0);
    // The short name found the library beside the tool.
    QCOMPARE(QString::fromUtf8(r.out), QStringLiteral("library: %1\n"
                                                      "version: 1.0.0.0\n"
                                                      "interface: IIC at 0x44\n"
                                                      "port: 1\n"
                                                      "config: %2\n"
                                                      "iic device: /dev/i2c-1\n"
                                                      "spi device: /dev/spidev0.0, mode 0, 1000000 Hz, read flag 0x80\n"
                                                      "line 49: /dev/gpiochip1 9\n"
                                                      "line 53: /dev/gpiochip0 13\n")
                                           .arg(QDir(QFileInfo(QStringLiteral(EVM5170CTL_PATH)).path()).filePath(QStringLiteral("libOstrelLinux.so")),
                                                path(QStringLiteral("board.ini"))));
    // Opening touches no line and makes no transfer.
    QCOMPARE(m_board->transfers(), QStringList());
    QCOMPARE(m_board->lineEvents(), QStringList());
}

void TestLinuxCtl::infoWithAMalformedConfiguration()
{
    writeFile(QStringLiteral("board.ini"), "[IIC]\nDevice=/dev/i2c-1\n[Lines]\n53=13\n");
    const ToolRun r = ctl({"info"});
    QCOMPARE(r.exitCode, 2);
    const QString error = path(QStringLiteral("board.ini")) + QStringLiteral(":4: line 53 gives only an offset, and [Lines] has no Chip");
    QVERIFY2(r.out.endsWith(QStringLiteral("port: 0\nconfig: %1\nconfig error: %2\n").arg(path(QStringLiteral("board.ini")), error).toUtf8()),
             r.out.constData());
    QCOMPARE(QString::fromUtf8(r.err),
             QStringLiteral("libOstrel: %1\nevm5170ctl: No EVM was found (IIC at 0x44): %1\n").arg(error));
}

void TestLinuxCtl::dumpReadsTheChip_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("firstTransfer");
    QTest::newRow("IIC") << QStringList() << "iic 0x44 read 0x40 = 0xC0";
    QTest::newRow("SPI") << QStringList{"--interface", "spi"} << "spi 0xC0 0x00 -> 0x00 0xC0";
}

void TestLinuxCtl::dumpReadsTheChip()
{
    QFETCH(QStringList, options);
    QFETCH(QString, firstTransfer);
    m_board->withChip([](ostrel::Chip &chip) {
        chip.write(0x46, 0x23);
        chip.write(0x48, 0x80);
    });
    const ToolRun r = ctl(options + QStringList{"dump"});
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray::fromStdString(evm::snapshotText(chipValues())));
    QVERIFY(r.out.contains("0x46, 0x23") && r.out.contains("0x48, 0x80"));
    const QStringList transfers = m_board->registerTransfers();
    QCOMPARE(transfers.size(), 31);
    QCOMPARE(transfers.first(), firstTransfer);
}

void TestLinuxCtl::setIsOneReadAndOneWrite()
{
    m_board->withChip([](ostrel::Chip &chip) { chip.write(0x46, 0x03); });
    const ToolRun r = ctl({"set", "DEMP", "2"});
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(m_board->transfers(), QStringList({"iic 0x44 read 0x46 = 0x03", "iic 0x44 write 0x46 = 0x23"}));
    QCOMPARE(m_board->chipRegister(0x46), 0x23);
}

void TestLinuxCtl::diffAgainstTheChip()
{
    std::array<uint8_t, 31> golden = chipValues();
    writeFile(QStringLiteral("same.csv"), QByteArray::fromStdString(evm::snapshotText(golden)));
    golden[0x48 - 0x40] = 0x80;
    writeFile(QStringLiteral("golden.csv"), QByteArray::fromStdString(evm::snapshotText(golden)));

    ToolRun r = ctl({"diff", "--settings", "golden.csv", "-"});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QByteArray("0x48: 0x80 -> 0xFF  ATDA1 128 -> 255\n"));
    QCOMPARE(r.err, QByteArray("evm5170ctl: golden.csv and the chip differ in 1 register\n"));

    r = ctl({"diff", "same.csv", "-"});
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(m_board->registerTransfers().size(), 62);
}

void TestLinuxCtl::wrongAddressFails()
{
    const ToolRun r = ctl({"--address", "0x45", "read", "0x40"});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(r.err, QByteArray("evm5170ctl: Communication error: RDERR0101 reading register 0x40; please check the "
                               "interface setting (IIC at 0x45) (/dev/i2c-1: nothing answers at 0x45)\n"));
    QCOMPARE(m_board->transfers(), QStringList{"iic 0x45 read 0x40 nack"});
}

// The i2cset export of a set-up chip, run by the shell with Debian's i2cset on the emulated bus,
// sets a chip at its power-on values to the setup byte for byte.
void TestLinuxCtl::i2csetScriptSetsTheChip()
{
    m_board->withChip([](ostrel::Chip &chip) {
        for (const auto &[reg, value] : {std::pair{0x40, 0xC2}, {0x41, 0x53}, {0x46, 0xBA}, {0x48, 0x80}, {0x4F, 0x00},
                                         {0x53, 0x2A}, {0x57, 0xC1}, {0x59, 0xE0}})
            chip.write(reg, uint8_t(value));
    });
    const std::array<uint8_t, 31> bench = chipValues();
    ToolRun r = ctl({"export", "--format", "i2cset", "setup.sh"});
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.exitCode, 0);

    auto sh = [this](const QStringList &args) {
        QProcess p;
        p.setWorkingDirectory(m_dir->path());
        p.start(QStringLiteral("/bin/sh"), QStringList{QStringLiteral("setup.sh")} + args);
        if (!p.waitForFinished(60000))
            p.kill();
        return std::pair{p.exitCode(), p.readAllStandardError()};
    };
    m_board->withChip([](ostrel::Chip &chip) { chip.resetRegisters(); });
    m_board->clearTransfers();
    const auto [status, err] = sh({"1"});
    QCOMPARE(err, QByteArray());
    QCOMPARE(status, 0);
    QCOMPARE(chipValues(), bench);
    const QStringList transfers = m_board->registerTransfers();
    QCOMPARE(transfers.size(), 29);
    QCOMPARE(transfers.first(), QStringLiteral("iic 0x44 write 0x40 = 0xC2"));
    for (const QString &t : transfers)
        QVERIFY2(t.startsWith("iic 0x44 write ") && !t.contains(" 0x45 ") && !t.contains(" 0x56 "), qPrintable(t));

    // Another address is a parameter; the first write nobody acknowledges stops the script.
    m_board->clearTransfers();
    QCOMPARE(sh({"1", "0x46"}).first, 1);
    QCOMPARE(m_board->registerTransfers(), QStringList{"iic 0x46 write 0x40 nack"});
    const auto usage = sh({});
    QCOMPARE(usage.first, 2);
    QVERIFY2(usage.second.startsWith("usage: setup.sh BUS [ADDRESS]"), usage.second.constData());
}

EVM_EMULATED_TEST_MAIN(TestLinuxCtl, QCoreApplication)
#include "tst_linux_ctl.moc"
