// SPDX-License-Identifier: GPL-3.0-or-later
// evm5170ctl run as a process against the simulated board: its output, its exit status
// and the simulator's own trace of every library call, in order. The chip's registers
// live in a state file between runs, so a test sets them up before a run and reads them
// after it, as a powered board would keep them.

#include "fielddiff.h"
#include "inttext.h"
#include "registers.h"
#include "scpi/commands.h"
#include "script.h"
#include "textfiles.h"
#include "filekinds.h"
#include "setupexport.h"
#include "toolrun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace evm;

namespace {

const QString kInitSpi = QStringLiteral("_init(port=0, interface=3, address=0x00, word56=3) = 1");
const QString kNoBoardInit = QStringLiteral("_init(port=0, interface=3, address=0x00, word56=3) = 0");
const QString kClose = QStringLiteral("_close() = 0");

QString readLine(int reg, int value, const QString &result = QStringLiteral("0"))
{
    return QStringLiteral("_readData(channel=0, reg=0x%1) = %2 value=0x%3").arg(QString::fromStdString(hexText(reg, 2)), result, QString::fromStdString(hexText(value, 2)));
}

QString writeLine(int reg, int value, const QString &result = QStringLiteral("0"))
{
    return QStringLiteral("_writeData(channel=0, reg=0x%1, value=0x%2) = %3").arg(QString::fromStdString(hexText(reg, 2)), QString::fromStdString(hexText(value, 2)), result);
}

// Register overrides of the power-on state, as "0x46=0x0A 0x41=0x12".
using Overrides = QList<QPair<int, int>>;
Overrides regs(const QString &text)
{
    Overrides out;
    for (const QString &item : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList kv = item.split(QLatin1Char('='));
        out << qMakePair(toInteger(kv[0].toStdString()), toInteger(kv[1].toStdString()));
    }
    return out;
}

RegisterValues powerOnWith(const Overrides &overrides)
{
    RegisterValues v{};
    for (int i = 0; i < RegisterCount; ++i)
        v[i] = powerOnValue(FirstRegister + i);
    for (const auto &[reg, value] : overrides)
        v[reg - FirstRegister] = uint8_t(value);
    return v;
}

// A chip set up on the bench through fields of every kind: 0x40 beside its triggers, combo
// fields and bits, attenuators of both kinds (ADC1 above unity gain, so its overflow flag is up).
const char kBench[] = "0x40=0xC2 0x41=0x53 0x42=0x15 0x44=0x81 0x46=0xBA 0x48=0x80 0x4F=0x00 0x51=0x21 0x53=0x2A "
                      "0x57=0xC1 0x58=0xC0 0x59=0xE0";

struct Run : ToolRun {
    QStringList trace; // the simulator's log of this run
};

} // namespace

class TestCtl : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    void writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QByteArray fileText(const QString &name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The chip as the simulator keeps it between runs.
    void setChip(const Overrides &overrides) { writeFile(QStringLiteral("state.csv"), QByteArray::fromStdString(snapshotText(powerOnWith(overrides)))); }
    RegisterValues chip() const
    {
        RegisterValues v{};
        const auto error = parseSnapshot(fileText(QStringLiteral("state.csv")).toStdString(), v);
        if (error)
            qWarning("state file: %s", error->c_str());
        return v;
    }

    Run ctl(const QStringList &args, const QStringList &env = {}, const QByteArray &input = {})
    {
        QFile::remove(path(QStringLiteral("trace.txt")));
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const QString &name : e.keys())
            if (name.startsWith(QLatin1String("OSTREL_SIM_")) || name == QLatin1String("EVM_BOARD_LIBRARY"))
                e.remove(name);
        e.insert(QStringLiteral("EVM_BOARD_LIBRARY"), QStringLiteral(OSTREL_SIM_PATH));
        e.insert(QStringLiteral("OSTREL_SIM_TRACE"), path(QStringLiteral("trace.txt")));
        e.insert(QStringLiteral("OSTREL_SIM_STATE"), path(QStringLiteral("state.csv")));
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        for (const QString &kv : env)
            e.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));

        Run r{runTool(e, m_dir->path(), args, input), {}};
        r.trace = QString::fromLatin1(fileText(QStringLiteral("trace.txt"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return r;
    }

    static QStringList allReads(const RegisterValues &v)
    {
        QStringList out;
        for (int i = 0; i < RegisterCount; ++i)
            out << readLine(FirstRegister + i, v[i]);
        return out;
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
    }
    void cleanup()
    {
        delete m_dir;
        m_dir = nullptr;
    }

    void registerAccess_data();
    void registerAccess();
    void refusedBeforeTheBoard_data();
    void refusedBeforeTheBoard();
    void boardFailures_data();
    void boardFailures();
    void info();
    void interfaceChoice_data();
    void interfaceChoice();
    void traceOption();
    void dumpIsTheSnapshot();
    void dumpFieldsStillRuns();
    void dumpNothingOnFailure();
    void runScript_data();
    void runScript();
    void diff_data();
    void diff();
    void help_data();
    void help();
    void dashIsStandardOutputAndInput();
    void dumpKeepsLinksModesAndSpecialFiles();
    void settingsFileThatIsNotAFile();
    void levelBeyondTheRangeWarns();
    void exportedScriptRuns_data();
    void exportedScriptRuns();
    void exportedHeaderCompiles();
    void jsonAgreesWithShow();
};

// Each row: the chip before, the command, what it prints, the calls between _init and _close,
// and the registers afterwards.
void TestCtl::registerAccess_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("after");

    QTest::newRow("read hex") << "0x46=0x0A" << QStringList{"read", "0x46"} << QByteArray("0x0A\n")
                              << QStringList{readLine(0x46, 0x0A)} << "0x46=0x0A";
    QTest::newRow("read decimal") << "0x46=0x0A" << QStringList{"read", "70"} << QByteArray("0x0A\n")
                                  << QStringList{readLine(0x46, 0x0A)} << "0x46=0x0A";
    QTest::newRow("read $ and padded") << "0x5E=0x05" << QStringList{"read", "  $5e"} << QByteArray("0x05\n")
                                       << QStringList{readLine(0x5E, 0x05)} << "0x5E=0x05";
    QTest::newRow("write") << "" << QStringList{"write", "0x41", "0x12"} << QByteArray()
                           << QStringList{writeLine(0x41, 0x12)} << "0x41=0x12";
    QTest::newRow("write X and decimal") << "" << QStringList{"write", "X4A", "200"} << QByteArray()
                                         << QStringList{writeLine(0x4A, 0xC8)} << "0x4A=0xC8";
    // write is raw: MRST written as 0 resets the chip, which is what the user asked for.
    QTest::newRow("write 0x40 raw resets") << "0x46=0x0A 0x41=0x12" << QStringList{"write", "0x40", "0x40"} << QByteArray()
                                           << QStringList{writeLine(0x40, 0x40)} << "";
    QTest::newRow("get multi-bit field") << "0x46=0x2A" << QStringList{"get", "DEMP"} << QByteArray("2\n")
                                         << QStringList{readLine(0x46, 0x2A)} << "0x46=0x2A";
    QTest::newRow("get any case") << "0x48=0x0C" << QStringList{"get", "atda1"} << QByteArray("12\n")
                                  << QStringList{readLine(0x48, 0x0C)} << "0x48=0x0C";
    QTest::newRow("get one bit") << "0x44=0x04" << QStringList{"get", "MUTDA3"} << QByteArray("1\n")
                                 << QStringList{readLine(0x44, 0x04)} << "0x44=0x04";
    // The zero flags are the chip's: with no DIN line driven, every DAC reads as zero.
    QTest::newRow("get status flag") << "" << QStringList{"get", "ZERO1"} << QByteArray("1\n")
                                     << QStringList{readLine(0x45, 0xFF)} << "";
    QTest::newRow("set merges into the chip's byte") << "0x46=0x0A" << QStringList{"set", "DEMP", "3"} << QByteArray()
                                                     << QStringList{readLine(0x46, 0x0A), writeLine(0x46, 0x3A)} << "0x46=0x3A";
    QTest::newRow("set clears a bit") << "0x44=0x85" << QStringList{"set", "mutda3", "0"} << QByteArray()
                                      << QStringList{readLine(0x44, 0x85), writeLine(0x44, 0x81)} << "0x44=0x81";
    QTest::newRow("set whole byte") << "" << QStringList{"set", "ATDA1", "0x10"} << QByteArray()
                                    << QStringList{readLine(0x48, 0xFF), writeLine(0x48, 0x10)} << "0x48=0x10";
    QTest::newRow("set top of field") << "0x41=0x80" << QStringList{"set", "FMTDA", "15"} << QByteArray()
                                      << QStringList{readLine(0x41, 0x80), writeLine(0x41, 0x8F)} << "0x41=0x8F";
    // SRDA shares 0x40 with the reset triggers: both go out as 1 and nothing else is reset.
    QTest::newRow("set SRDA starts no reset") << "0x40=0x01 0x46=0x0A" << QStringList{"set", "SRDA", "2"} << QByteArray()
                                              << QStringList{readLine(0x40, 0xC1), writeLine(0x40, 0xC2)}
                                              << "0x40=0xC2 0x46=0x0A";
    // Values as the window shows them: an item of the combo box or radio group, a level in dB
    // going to the step at or below it.
    QTest::newRow("set by item") << "0x46=0x0A" << QStringList{"set", "DEMP", "32kHz"} << QByteArray()
                                 << QStringList{readLine(0x46, 0x0A), writeLine(0x46, 0x3A)} << "0x46=0x3A";
    QTest::newRow("set by item, any case and blanks") << "" << QStringList{"set", "srda", "SINGLERATE"} << QByteArray()
                                                      << QStringList{readLine(0x40, 0xC0), writeLine(0x40, 0xC1)} << "0x40=0xC1";
    QTest::newRow("set by radio item") << "0x46=0x0A" << QStringList{"set", "ATMDDA", "Offset + Master"} << QByteArray()
                                       << QStringList{readLine(0x46, 0x0A), writeLine(0x46, 0x8A)} << "0x46=0x8A";
    QTest::newRow("set DAC level") << "" << QStringList{"set", "ATDA1", "-12.5dB"} << QByteArray()
                                   << QStringList{readLine(0x48, 0xFF), writeLine(0x48, 0xE6)} << "0x48=0xE6";
    QTest::newRow("set level between steps") << "" << QStringList{"set", "ATDA3", "-3.2 dB"} << QByteArray()
                                             << QStringList{readLine(0x4A, 0xFF), writeLine(0x4A, 0xF8)} << "0x4A=0xF8";
    QTest::newRow("set ADC gain") << "" << QStringList{"set", "ATAD1", "+10.25DB"} << QByteArray()
                                  << QStringList{readLine(0x59, 0xD7), writeLine(0x59, 0xEB)} << "0x59=0xEB";
    QTest::newRow("set number stays a code") << "" << QStringList{"set", "ATAD1", "-0"} << QByteArray()
                                             << QStringList{readLine(0x59, 0xD7), writeLine(0x59, 0x00)} << "0x59=0x00";
    // show reads each register once, in the order its fields are named.
    QTest::newRow("show named fields")
        << "0x46=0x3A 0x48=0x80 0x41=0x70" << QStringList{"show", "DEMP", "atda1", "AZRO", "MSDA", "MUTDA2", "ZERO1", "SRST"}
        << QByteArray("DEMP    0x46  5..4    3  32kHz\n"
                      "ATDA1   0x48  7..0  128  -63.5 dB\n"
                      "AZRO    0x46  3..1    5  Detect DAC7-8 with OR logic\n"
                      "MSDA    0x41  6..4    7  (no item)\n"
                      "MUTDA2  0x44  1       0\n"
                      "ZERO1   0x45  0       1  status flag\n"
                      "SRST    0x40  6       1  reset trigger\n")
        << QStringList{readLine(0x46, 0x3A), readLine(0x48, 0x80), readLine(0x41, 0x70), readLine(0x44, 0),
                       readLine(0x45, 0xFF), readLine(0x40, 0xC0)}
        << "0x46=0x3A 0x48=0x80 0x41=0x70";
    QTest::newRow("set SRDA keeps bits 5..2") << "0x40=0x3C" << QStringList{"set", "SRDA", "3"} << QByteArray()
                                              << QStringList{readLine(0x40, 0xFC), writeLine(0x40, 0xFF)} << "0x40=0xFF";
}

void TestCtl::registerAccess()
{
    QFETCH(QString, before);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, out);
    QFETCH(QStringList, calls);
    QFETCH(QString, after);

    setChip(regs(before));
    const Run r = ctl(args);
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, out);
    QCOMPARE(r.trace, QStringList{kInitSpi} + calls + QStringList{kClose});
    QCOMPARE(chip(), powerOnWith(regs(after)));
}

// Bad input is refused with one line and status 2 before the library is even loaded.
void TestCtl::refusedBeforeTheBoard_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");

    QStringList names;
    for (const RegisterField &f : registerFields())
        names << QLatin1String(f.name);
    const QString fieldList = names.join(QLatin1Char(' '));

    QTest::newRow("get unknown field") << QStringList{"get", "FOO"} << "unknown field 'FOO'; the fields are " + fieldList;
    QTest::newRow("set near a field") << QStringList{"set", "DEMP1", "1"} << "unknown field 'DEMP1'; did you mean DEMP?";
    QTest::newRow("get letters swapped") << QStringList{"get", "depm"} << "unknown field 'depm'; did you mean DEMP?";
    QTest::newRow("get near two") << QStringList{"get", "MUTE1"} << "unknown field 'MUTE1'; did you mean MUTDA1 or MUTAD1?";
    QTest::newRow("show near many") << QStringList{"show", "DEMP", "ATAD"}
                                    << "unknown field 'ATAD'; did you mean ATAD0, ATAD1, ATAD2, ATAD3, ATAD4, ATAD5, or ATAD6?";
    QTest::newRow("set unknown item") << QStringList{"set", "DEMP", "16kHz"}
                                      << "'16kHz' is no number 0..3 and no item of DEMP (\"Disable\", \"48kHz\", \"44.1kHz\", \"32kHz\")";
    QTest::newRow("set level without unit") << QStringList{"set", "ATDA1", "-12"}
                                            << "value -12 is outside 0..255 for ATDA1; a level takes its unit, e.g. -12.5dB";
    QTest::newRow("set level that is no number") << QStringList{"set", "ATAD3", "loud"}
                                                 << "'loud' is no number 0..255 and no level such as -12.5dB for ATAD3 (-107.5 dB to 20.0 dB)";
    QTest::newRow("set level of no attenuator") << QStringList{"set", "ZREV", "-3dB"}
                                                << "'-3dB' is no number 0..1 and no item of ZREV (\"High for Zero detect\", \"Low for Zero detect\")";
    QTest::newRow("set item of a flag") << QStringList{"set", "OVF1", "status flag"} << "OVF1 is a status flag of the chip and cannot be set";
    QTest::newRow("export without format") << QStringList{"export"} << "export needs --format c, i2cset, python, json or script";
    QTest::newRow("export unknown format") << QStringList{"export", "--format", "hex"}
                                           << "--format takes c, i2cset, python, json or script, not 'hex'";
    QTest::newRow("changed belongs to export") << QStringList{"dump", "--changed"}
                                               << "--changed belongs to export (see evm5170ctl dump --help)";
    QTest::newRow("set zero flag") << QStringList{"set", "ZERO1", "1"} << "ZERO1 is a status flag of the chip and cannot be set";
    QTest::newRow("set overflow flag") << QStringList{"set", "ovf6", "0"} << "OVF6 is a status flag of the chip and cannot be set";
    QTest::newRow("set MRST") << QStringList{"set", "MRST", "0"}
                              << "MRST is a reset trigger, not a setting; write register 0x40 to start a reset";
    QTest::newRow("set SRST") << QStringList{"set", "srst", "1"}
                              << "SRST is a reset trigger, not a setting; write register 0x40 to start a reset";
    QTest::newRow("set above field") << QStringList{"set", "DEMP", "4"} << "value 4 is outside 0..3 for DEMP";
    QTest::newRow("set negative") << QStringList{"set", "ZREV", "-1"} << "value -1 is outside 0..1 for ZREV";
    QTest::newRow("set 8-bit above") << QStringList{"set", "ATAD6", "0x100"} << "value 0x100 is outside 0..255 for ATAD6";
    QTest::newRow("set not a number") << QStringList{"set", "MUTDA3", "0x1z"} << "'0x1z' is not a valid integer value";
    QTest::newRow("write above byte") << QStringList{"write", "0x41", "256"} << "value 256 is outside 0..255";
    QTest::newRow("write negative") << QStringList{"write", "0x41", "-1"} << "value -1 is outside 0..255";
    QTest::newRow("write below registers") << QStringList{"write", "0x3F", "0"} << "register 0x3F is outside 0x40..0x5E";
    QTest::newRow("write above registers") << QStringList{"write", "0x5F", "0"} << "register 0x5F is outside 0x40..0x5E";
    QTest::newRow("read not a number") << QStringList{"read", "0x41 "} << "'0x41 ' is not a valid integer value";
    QTest::newRow("read missing") << QStringList{"read"} << "usage: evm5170ctl read REG (see evm5170ctl read --help)";
    QTest::newRow("write one argument") << QStringList{"write", "0x41"}
                                        << "usage: evm5170ctl write REG VALUE (see evm5170ctl write --help)";
    QTest::newRow("info extra") << QStringList{"info", "x"} << "info takes no arguments (see evm5170ctl info --help)";
    QTest::newRow("no command") << QStringList{} << "no command given (see evm5170ctl --help)";
    QTest::newRow("unknown command") << QStringList{"frob"} << "unknown command 'frob' (see evm5170ctl --help)";
    QTest::newRow("unknown option") << QStringList{"--bogus", "info"} << "unknown option '--bogus' (see evm5170ctl --help)";
    QTest::newRow("option of another command") << QStringList{"dump", "--settings"}
                                               << "--settings belongs to diff (see evm5170ctl dump --help)";
    QTest::newRow("interface unknown") << QStringList{"--interface", "usb", "info"} << "--interface takes iic or spi, not 'usb'";
    QTest::newRow("address above") << QStringList{"--address", "0x48", "info"} << "--address 0x48 is outside 0x44..0x47";
    QTest::newRow("address not a number") << QStringList{"--address=zz", "info"} << "'zz' is not a valid integer value";
    QTest::newRow("address with spi") << QStringList{"--interface", "spi", "--address", "0x45", "info"}
                                      << "--address is an IIC device address; SPI has none";
    QTest::newRow("option without value") << QStringList{"info", "--interface"} << "--interface needs a value (see evm5170ctl --help)";
}

void TestCtl::refusedBeforeTheBoard()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);

    setChip(regs("0x46=0x0A"));
    const QByteArray stateBefore = fileText(QStringLiteral("state.csv"));
    const Run r = ctl(args);
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(QString::fromUtf8(r.err), "evm5170ctl: " + message + "\n");
    QCOMPARE(r.trace, QStringList());
    QCOMPARE(fileText(QStringLiteral("state.csv")), stateBefore);
}

// The board or the library fails: one line, status 2, and the trace shows that nothing was
// written after the failure.
void TestCtl::boardFailures_data()
{
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("trace");

    const QString missing = QDir::temp().filePath(QStringLiteral("no-such-dir-evm/libnone.so"));
    QTest::newRow("no library") << QStringList{"EVM_BOARD_LIBRARY=" + missing} << QStringList{"read", "0x41"}
                                << "Cannot load the board library: " + missing + ": no such file" << QStringList{};
    QTest::newRow("library without _getVer")
        << QStringList{QStringLiteral("EVM_BOARD_LIBRARY=" OSTREL_NOVER_PATH)} << QStringList{"set", "DEMP", "1"}
        << QStringLiteral("Invalid board library: " OSTREL_NOVER_PATH " lacks a board-access entry") << QStringList{};
    QTest::newRow("no board read") << QStringList{"OSTREL_SIM_BOARD=absent"} << QStringList{"read", "0x41"}
                                   << "No EVM was found (SPI)" << QStringList{kNoBoardInit, kClose};
    QTest::newRow("no board dump") << QStringList{"OSTREL_SIM_BOARD=absent"} << QStringList{"dump", "x.csv"}
                                   << "No EVM was found (SPI)" << QStringList{kNoBoardInit, kClose};
    QTest::newRow("no board run") << QStringList{"OSTREL_SIM_BOARD=absent"} << QStringList{"run", "s.csv"}
                                  << "No EVM was found (SPI)" << QStringList{kNoBoardInit, kClose};
    QTest::newRow("wrong IIC address")
        << QStringList{} << QStringList{"--address", "0x45", "get", "DEMP"}
        << "Communication error: RDERR0101 reading register 0x46; please check the interface setting (IIC at 0x45)"
        << QStringList{"_init(port=0, interface=1, address=0x45, word56=3) = 1", readLine(0x46, 0, "0x0101"), kClose};
    QTest::newRow("set: read fails, nothing written")
        << QStringList{"OSTREL_SIM_FAIL=read=0x55"} << QStringList{"set", "DEMP", "1"}
        << "Communication error: RDERR0055 reading register 0x46; please check the interface setting (SPI)"
        << QStringList{kInitSpi, readLine(0x46, 0, "0x0055"), kClose};
    QTest::newRow("set: write fails")
        << QStringList{"OSTREL_SIM_FAIL=write=-1"} << QStringList{"set", "DEMP", "1"}
        << "Communication error: WRERRFFFFFFFF writing 0x1A to register 0x46"
        << QStringList{kInitSpi, readLine(0x46, 0x0A), writeLine(0x46, 0x1A, "0xFFFFFFFF"), kClose};
    QTest::newRow("write fails") << QStringList{"OSTREL_SIM_FAIL=write=5"} << QStringList{"write", "0x41", "7"}
                                 << "Communication error: WRERR0005 writing 0x07 to register 0x41"
                                 << QStringList{kInitSpi, writeLine(0x41, 0x07, "0x0005"), kClose};
}

void TestCtl::boardFailures()
{
    QFETCH(QStringList, env);
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QFETCH(QStringList, trace);

    setChip(regs("0x46=0x0A"));
    writeFile(QStringLiteral("s.csv"), "0x41, 0x12\r\n");
    const Run r = ctl(args, env);
    QCOMPARE(QString::fromUtf8(r.err), "evm5170ctl: " + message + "\n");
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(r.trace, trace);
    QCOMPARE(chip(), powerOnWith(regs("0x46=0x0A")));
    QVERIFY(!QFile::exists(path(QStringLiteral("x.csv"))));
}

void TestCtl::info()
{
    Run r = ctl({"info"});
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(QString::fromUtf8(r.out), QStringLiteral("library: " OSTREL_SIM_PATH "\n"
                                                      "version: 1.0.0.0\n"
                                                      "interface: SPI\n"
                                                      "port: 1\n"));
    QCOMPARE(r.trace, (QStringList{kInitSpi, "_getVer() = 0x1000", kClose}));

    // Without a board the library still answers its version; the reason is the error.
    r = ctl({"info"}, {"OSTREL_SIM_BOARD=absent"});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(QString::fromUtf8(r.out), QStringLiteral("library: " OSTREL_SIM_PATH "\n"
                                                      "version: 1.0.0.0\n"
                                                      "interface: SPI\n"
                                                      "port: 0\n"));
    QCOMPARE(r.err, QByteArray("evm5170ctl: No EVM was found (SPI)\n"));
    QCOMPARE(r.trace, (QStringList{kNoBoardInit, "_getVer() = 0x1000", kClose}));
}

// The settings file the window keeps, overridden by --interface and --address. The file is
// only read: its bytes stay as they were, and a missing one is not created.
void TestCtl::interfaceChoice_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("init");
    QTest::addColumn<QString>("interface");
    QTest::addColumn<bool>("warned");

    const QString iic = QStringLiteral("_init(port=0, interface=1, address=0x%1, word56=3) = 1");
    QTest::newRow("no file: SPI") << QByteArray() << QStringList{} << kInitSpi << "SPI" << false;
    QTest::newRow("file IIC 0x46") << QByteArray("[SerialInterface]\nType=0\nAddr=0x46\n") << QStringList{} << iic.arg("46")
                                   << "IIC at 0x46" << false;
    QTest::newRow("file IIC decimal 71") << QByteArray("[SerialInterface]\nType=0\nAddr=71\n") << QStringList{}
                                         << iic.arg("47") << "IIC at 0x47" << false;
    QTest::newRow("file IIC out of range") << QByteArray("[SerialInterface]\nType=0\nAddr=0x50\n") << QStringList{}
                                           << iic.arg("44") << "IIC at 0x44" << false;
    QTest::newRow("file SPI") << QByteArray("[SerialInterface]\nType=1\nAddr=0x44\n") << QStringList{} << kInitSpi << "SPI"
                              << false;
    QTest::newRow("--interface spi over IIC file") << QByteArray("[SerialInterface]\nType=0\nAddr=0x46\n")
                                                   << QStringList{"--interface", "spi"} << kInitSpi << "SPI" << false;
    QTest::newRow("--interface IIC keeps file address") << QByteArray("[SerialInterface]\nType=0\nAddr=0x47\n")
                                                        << QStringList{"--interface=IIC"} << iic.arg("47") << "IIC at 0x47"
                                                        << false;
    QTest::newRow("--interface iic over SPI file") << QByteArray("[SerialInterface]\nType=1\nAddr=0x00\n")
                                                   << QStringList{"--interface", "iic"} << iic.arg("44") << "IIC at 0x44"
                                                   << false;
    QTest::newRow("--address implies IIC") << QByteArray() << QStringList{"--address", "0x45"} << iic.arg("45")
                                           << "IIC at 0x45" << false;
    QTest::newRow("--address over file") << QByteArray("[SerialInterface]\nType=0\nAddr=0x46\n")
                                         << QStringList{"--address=$47"} << iic.arg("47") << "IIC at 0x47" << false;
    QTest::newRow("corrupted Type: SPI") << QByteArray("[SerialInterface]\nType=zz\nAddr=0x46\n") << QStringList{} << kInitSpi
                                         << "SPI" << true;
    // The warning names what the run goes on with, not what the file gave.
    QTest::newRow("--interface iic over a corrupted file") << QByteArray("[SerialInterface]\nType=zz\n")
                                                           << QStringList{"--interface", "iic"} << iic.arg("44")
                                                           << "IIC at 0x44" << true;
    QTest::newRow("corrupted Addr: IIC at 69") << QByteArray("[SerialInterface]\nType=0\nAddr=x\n") << QStringList{}
                                               << iic.arg("45") << "IIC at 0x45" << true;
}

void TestCtl::interfaceChoice()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, options);
    QFETCH(QString, init);
    QFETCH(QString, interface);
    QFETCH(bool, warned);

    const QString iniPath = path(QStringLiteral("config/EVM5170.ini"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("config"))));
    if (!ini.isEmpty())
        writeFile(QStringLiteral("config/EVM5170.ini"), ini);

    const Run r = ctl(options + QStringList{"info"});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.contains("\ninterface: " + interface.toUtf8() + "\n"));
    QCOMPARE(r.trace.value(0), init);
    if (warned)
        QCOMPARE(QString::fromUtf8(r.err), QStringLiteral("evm5170ctl: warning: cannot read the interface settings in %1; going on with %2\n")
                                               .arg(iniPath, interface));
    else
        QCOMPARE(r.err, QByteArray());
    if (ini.isEmpty())
        QVERIFY(!QFile::exists(iniPath));
    else
        QCOMPARE(fileText(QStringLiteral("config/EVM5170.ini")), ini);
}

// --trace shows the tool's own view of each call, in the order the simulator logged them; a
// failure's message is still the last line.
void TestCtl::traceOption()
{
    setChip(regs("0x46=0x0A"));
    Run r = ctl({"--trace", "set", "DEMP", "2"});
    QCOMPARE(r.exitCode, 0);
    QStringList expected;
    for (const QString &line : r.trace)
        expected << "trace: " + line;
    QCOMPARE(r.trace, (QStringList{kInitSpi, readLine(0x46, 0x0A), writeLine(0x46, 0x2A), kClose}));
    QCOMPARE(QString::fromUtf8(r.err), expected.join(QLatin1Char('\n')) + "\n");

    r = ctl({"read", "0x41", "--trace"}, {"OSTREL_SIM_BOARD=absent"});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(QString::fromUtf8(r.err), "trace: " + kNoBoardInit + "\ntrace: " + kClose
                                           + "\nevm5170ctl: No EVM was found (SPI)\n");
}

// dump gives exactly the window's snapshot text of the bytes the chip returned, unmasked.
void TestCtl::dumpIsTheSnapshot()
{
    setChip(regs("0x40=0x3D 0x46=0x0A 0x4F=0x00 0x59=0xD8"));
    const Run r = ctl({"dump"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QByteArray());
    // What the chip returns: the triggers of 0x40 as 1, the zero flags (no DIN line driven)
    // and the overflow of ADC1, whose attenuator asks for gain.
    const RegisterValues returned = powerOnWith(regs("0x40=0xFD 0x45=0xFF 0x46=0x0A 0x4F=0x00 0x56=0x01 0x59=0xD8"));
    QCOMPARE(r.trace, QStringList{kInitSpi} + allReads(returned) + QStringList{kClose});
    QCOMPARE(r.out, QByteArray::fromStdString(snapshotText(returned)));
    QCOMPARE(r.out.size(), 372);
    QVERIFY(r.out.startsWith("0x40, 0xFD\r\n0x41, 0x00\r\n"));
    QVERIFY(r.out.contains("\r\n0x46, 0x0A\r\n0x47, 0xFF\r\n"));
    QVERIFY(r.out.endsWith("\r\n0x5E, 0xD7\r\n"));

    // To a file: the same bytes, nothing on standard output; an existing file is replaced.
    writeFile(QStringLiteral("snap.csv"), QByteArray(1000, 'x'));
    const Run f = ctl({"dump", path(QStringLiteral("snap.csv"))});
    QCOMPARE(f.exitCode, 0);
    QCOMPARE(f.out, QByteArray());
    QCOMPARE(fileText(QStringLiteral("snap.csv")), QByteArray::fromStdString(snapshotText(returned)));
}

// --fields keeps the snapshot a script: the core's parser reads each line as the same write,
// the names are the register map's bit names, and running the file writes the 31 values back.
void TestCtl::dumpFieldsStillRuns()
{
    setChip(regs("0x46=0x0A 0x51=0x35"));
    const Run r = ctl({"dump", "--fields", path(QStringLiteral("fields.csv"))});
    QCOMPARE(r.exitCode, 0);
    const QByteArray text = fileText(QStringLiteral("fields.csv"));
    QVERIFY(text.contains("\r\n0x46, 0x0A, ATMDDA=0 ATSPDA=0 DEMP=0 AZRO=5 ZREV=0\r\n"));
    QVERIFY(text.contains("\r\n0x51, 0x35, MSAD=3 FMTAD=5\r\n"));
    QVERIFY(text.startsWith("0x40, 0xC0, MRST=1 SRST=1 SRDA=0\r\n"));

    const RegisterValues returned = powerOnWith(regs("0x45=0xFF 0x46=0x0A 0x51=0x35"));
    const std::vector<std::string> lines = splitScriptLines(text.toStdString());
    QCOMPARE(int(lines.size()), RegisterCount);
    for (int i = 0; i < RegisterCount; ++i) {
        const std::vector<std::string> fieldTexts = splitFields(lines[i]);
        const ScriptRecord rec = parseRecord(fieldTexts);
        QStringList fields;
        for (const std::string &f : fieldTexts)
            fields << QString::fromLatin1(f);
        QCOMPARE(rec.kind, ScriptRecord::Write);
        QCOMPARE(rec.reg, FirstRegister + i);
        QCOMPARE(rec.value, int(returned[i]));
        // Expand NAME=value into bits and hold them against the window's bit-name table.
        QStringList bitNames;
        for (int f = 2; f < fields.size(); ++f) {
            const QString name = fields[f].section(QLatin1Char('='), 0, 0);
            const int value = fields[f].section(QLatin1Char('='), 1).toInt();
            const RegisterField *field = findField(name.toStdString());
            QVERIFY2(field, qPrintable(name));
            QCOMPARE(value, (rec.value >> field->shift) & ((1 << field->width) - 1));
            for (int b = field->width - 1; b >= 0; --b)
                bitNames << (field->width > 1 ? name + QString::number(b) : name);
        }
        QStringList mapNames;
        for (const std::string &cell : registerBitNames()[i])
            if (cell != "-")
                mapNames << QString::fromStdString(cell);
        QCOMPARE(bitNames, mapNames);
    }

    setChip({});
    const Run run = ctl({"run", path(QStringLiteral("fields.csv"))});
    QCOMPARE(run.exitCode, 0);
    QStringList writes;
    for (int i = 0; i < RegisterCount; ++i)
        writes << writeLine(FirstRegister + i, returned[i]);
    QCOMPARE(run.trace, QStringList{kInitSpi} + writes + QStringList{kClose});
}

// A read that fails part way writes no file at all, and an old one stays as it was.
void TestCtl::dumpNothingOnFailure()
{
    writeFile(QStringLiteral("old.csv"), "old\r\n");
    Run r = ctl({"dump", path(QStringLiteral("old.csv"))}, {"OSTREL_SIM_FAIL=read@5=0x77"});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.err, QByteArray("evm5170ctl: Communication error: RDERR0077 reading register 0x45; please check the "
                               "interface setting (SPI)\n"));
    QCOMPARE(r.trace.size(), 1 + 6 + 1);
    QCOMPARE(r.trace.value(6), readLine(0x45, 0, "0x0077"));
    QCOMPARE(fileText(QStringLiteral("old.csv")), QByteArray("old\r\n"));

    r = ctl({"dump"}, {"OSTREL_SIM_FAIL=read@30=0x77"});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.out, QByteArray());

    const QString unwritable = path(QStringLiteral("no-dir/snap.csv"));
    r = ctl({"dump", unwritable});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.startsWith("evm5170ctl: cannot write " + unwritable.toUtf8() + ": "), r.err.constData());
    QCOMPARE(r.err.count('\n'), 1);
    QVERIFY(!QFile::exists(unwritable));
}

// Scripts: the writes that reach the board, and the stop message with file, line and what
// took effect before it.
void TestCtl::runScript_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // %1 is the script's path
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("writes and pauses") << QByteArray("0x41, 0x12\r\nsleep, 1\r\n72 200\r\nSLEEP,x2,settle\r\n$44, 0XFF\r\n")
                                       << QStringList{} << 0 << QString()
                                       << QStringList{writeLine(0x41, 0x12), writeLine(0x48, 0xC8), writeLine(0x44, 0xFF)};
    QTest::newRow("blank line skipped") << QByteArray("0x41, 1\n\n  \n\"0x42\",\"2\"\n") << QStringList{} << 0 << QString()
                                        << QStringList{writeLine(0x41, 1), writeLine(0x42, 2)};
    QTest::newRow("empty file") << QByteArray() << QStringList{} << 0 << QString() << QStringList{};
    QTest::newRow("stops at bad data") << QByteArray("0x41,0x06\n0x42,0x01\n0x4A, 0x1FF\n0x4B, 0x00\n") << QStringList{} << 2
                                       << "%1:3: Invalid register data! (2 writes before it took effect)"
                                       << QStringList{writeLine(0x41, 0x06), writeLine(0x42, 0x01)};
    QTest::newRow("header line") << QByteArray("Register, Value\n0x41, 0x12\n") << QStringList{} << 2
                                 << "%1:1: Invalid record was found on the Register setting file. (nothing was written before it)"
                                 << QStringList{};
    QTest::newRow("sleep without time") << QByteArray("0x41, 1\nsleep\n0x42, 2\n") << QStringList{} << 2
                                        << "%1:2: Invalid sleep time. (1 write before it took effect)"
                                        << QStringList{writeLine(0x41, 1)};
    QTest::newRow("negative sleep") << QByteArray("sleep, -5\n") << QStringList{} << 2
                                    << "%1:1: Invalid sleep time. (nothing was written before it)" << QStringList{};
    // The script format passes any address on; the board refuses it, and the run stops there.
    QTest::newRow("board refuses a write") << QByteArray("0x41, 1\n0x30, 1\n0x42, 2\n") << QStringList{} << 2
                                           << "%1:2: Communication error: WRERR0005 writing 0x01 to register 0x30 (1 write "
                                              "before it took effect)"
                                           << QStringList{writeLine(0x41, 1), writeLine(0x30, 1, "0x0005")};
    QTest::newRow("check only, good") << QByteArray("0x41, 1\nsleep, 1\n") << QStringList{"--check"} << 0 << QString()
                                      << QStringList{};
    QTest::newRow("check only, bad") << QByteArray("0x41, 1\n0x41\n") << QStringList{"--check"} << 2
                                     << "%1:2: Invalid record was found on the Register setting file. (checked only)"
                                     << QStringList{};
    // Writes that cannot set what they seem to are warnings naming their line; the check passes
    // unless --strict, which then runs nothing.
    const QByteArray suspect("0x41, 1\n0x99, 2\n0x45, 0\n-1, 3\n0x56, 0x40\n");
    const QString warnings = "%1:2: warning: register 0x99 is outside 0x40..0x5E; the chip has no such register\n"
                             "evm5170ctl: %1:3: warning: register 0x45 holds status flags (ZERO8..ZERO1) and no setting; "
                             "a write sets nothing\n"
                             "evm5170ctl: %1:4: warning: register 0xFFFFFFFF is outside 0x40..0x5E; the chip has no such register\n"
                             "evm5170ctl: %1:5: warning: register 0x56 holds status flags (OVF6..OVF1) and no setting; "
                             "a write sets nothing";
    QTest::newRow("check warns") << suspect << QStringList{"--check"} << 0 << warnings << QStringList{};
    QTest::newRow("check, strict") << suspect << QStringList{"--check", "--strict"} << 2
                                   << warnings + "\nevm5170ctl: %1: 4 warnings with --strict (checked only)" << QStringList{};
    QTest::newRow("strict run refused") << suspect << QStringList{"--strict"} << 2
                                        << warnings + "\nevm5170ctl: %1: 4 warnings with --strict (nothing was written)"
                                        << QStringList{};
    QTest::newRow("strict run, faulty line") << QByteArray("0x41, 1\n0x42\n") << QStringList{"--strict"} << 2
                                             << "%1:2: Invalid record was found on the Register setting file. (nothing was written)"
                                             << QStringList{};
    QTest::newRow("strict run, good") << QByteArray("0x41, 1\n0x5E, 2\n") << QStringList{"--strict"} << 0 << QString()
                                      << QStringList{writeLine(0x41, 1), writeLine(0x5E, 2)};
    QTest::newRow("warnings before the stop only") << QByteArray("0x30, 1\nsleep\n0x45, 1\n") << QStringList{"--check"} << 2
                                                   << "%1:1: warning: register 0x30 is outside 0x40..0x5E; the chip has no such "
                                                      "register\nevm5170ctl: %1:2: Invalid sleep time. (checked only)"
                                                   << QStringList{};
}

void TestCtl::runScript()
{
    QFETCH(QByteArray, script);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QStringList, calls);

    const QString file = path(QStringLiteral("script.csv"));
    writeFile(QStringLiteral("script.csv"), script);
    const Run r = ctl(QStringList{"run"} + options + QStringList{file});
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(QString::fromUtf8(r.err), message.isEmpty() ? QString() : "evm5170ctl: " + message.arg(file) + "\n");
    if (options.contains(QStringLiteral("--check")) || (exitCode != 0 && options.contains(QStringLiteral("--strict"))))
        QCOMPARE(r.trace, QStringList());
    else
        QCOMPARE(r.trace, QStringList{kInitSpi} + calls + QStringList{kClose});
}

// Two snapshots, or a snapshot and the chip ("-"). Files alone never load the library.
void TestCtl::diff_data()
{
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<QStringList>("args"); // A and B stand for the files
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QString>("err");

    const QByteArray power = QByteArray::fromStdString(snapshotText(powerOnWith({})));
    const QByteArray asRead = QByteArray::fromStdString(snapshotText(powerOnWith(regs("0x45=0xFF"))));
    const QByteArray changed = QByteArray::fromStdString(snapshotText(powerOnWith(regs("0x40=0xC4 0x46=0x23 0x48=0x80"))));

    QTest::newRow("same files") << power << power << QStringList{"A", "B"} << 0 << QByteArray() << QString();
    QTest::newRow("files differ") << power << changed << QStringList{"A", "B"} << 1
                                  << QByteArray("0x40: 0xC0 -> 0xC4\n"
                                                "0x46: 0x00 -> 0x23  DEMP 0 -> 2, AZRO 0 -> 1, ZREV 0 -> 1\n"
                                                "0x48: 0xFF -> 0x80  ATDA1 255 -> 128\n")
                                  << "A and B differ in 3 registers";
    QTest::newRow("settings only") << power << changed << QStringList{"--settings", "A", "B"} << 1
                                   << QByteArray("0x46: 0x00 -> 0x23  DEMP 0 -> 2, AZRO 0 -> 1, ZREV 0 -> 1\n"
                                                 "0x48: 0xFF -> 0x80  ATDA1 255 -> 128\n")
                                   << "A and B differ in 2 registers";
    QTest::newRow("chip holds flags") << power << QByteArray() << QStringList{"A", "-"} << 1
                                      << QByteArray("0x45: 0x00 -> 0xFF  ZERO8 0 -> 1, ZERO7 0 -> 1, ZERO6 0 -> 1, ZERO5 0 -> 1, "
                                                    "ZERO4 0 -> 1, ZERO3 0 -> 1, ZERO2 0 -> 1, ZERO1 0 -> 1\n")
                                      << "A and the chip differ in 1 register";
    QTest::newRow("flags ignored with --settings") << power << QByteArray() << QStringList{"A", "-", "--settings"} << 0
                                                   << QByteArray() << QString();
    QTest::newRow("chip first") << changed << QByteArray() << QStringList{"-", "A", "--settings"} << 1
                                << QByteArray("0x46: 0x00 -> 0x23  DEMP 0 -> 2, AZRO 0 -> 1, ZREV 0 -> 1\n"
                                              "0x48: 0xFF -> 0x80  ATDA1 255 -> 128\n")
                                << "the chip and A differ in 2 registers";
    QTest::newRow("as read equals chip") << asRead << QByteArray() << QStringList{"A", "-"} << 0 << QByteArray() << QString();
    QByteArray annotated = QByteArray::fromStdString(annotatedSnapshotText(powerOnWith(regs("0x45=0xFF"))));
    QTest::newRow("annotated snapshot reads") << annotated << QByteArray() << QStringList{"-", "A"} << 0 << QByteArray()
                                              << QString();
    QByteArray lastWins = power + "0x46, 0x10\r\n";
    QTest::newRow("last line of a register counts") << power << lastWins << QStringList{"A", "B"} << 1
                                                    << QByteArray("0x46: 0x00 -> 0x10  DEMP 0 -> 1\n")
                                                    << "A and B differ in 1 register";
    QTest::newRow("missing register") << power << power.left(power.size() - 12) << QStringList{"A", "B"} << 2 << QByteArray()
                                      << "B: no line for register 0x5E";
    QTest::newRow("pause in a snapshot") << "sleep, 1\r\n" + power << power << QStringList{"A", "B"} << 2 << QByteArray()
                                         << "A: line 1: a pause has no place in a snapshot";
    QTest::newRow("not a chip register") << power + "0x5F, 0x00\r\n" << power << QStringList{"A", "B"} << 2 << QByteArray()
                                         << "A: line 32: 0x5F is not a register of the chip";
    QTest::newRow("bad line") << power << QByteArray("0x40, 0x1FF\r\n") << QStringList{"A", "B"} << 2 << QByteArray()
                              << "B: line 1: Invalid register data!";
    QTest::newRow("missing file") << power << QByteArray() << QStringList{"A", "none.csv"} << 2 << QByteArray()
                                  << "none.csv: no such file";
}

void TestCtl::diff()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QString, err);

    writeFile(QStringLiteral("A"), a);
    writeFile(QStringLiteral("B"), b);
    setChip({});
    const Run r = ctl(QStringList{"diff"} + args);
    QCOMPARE(QString::fromUtf8(r.err), err.isEmpty() ? QString() : "evm5170ctl: " + err + "\n");
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.out, out);
    if (args.contains(QStringLiteral("-")))
        QCOMPARE(r.trace, QStringList{kInitSpi} + allReads(powerOnWith(regs("0x45=0xFF"))) + QStringList{kClose});
    else
        QCOMPARE(r.trace, QStringList());
}

void TestCtl::help_data()
{
    QTest::addColumn<QString>("command");
    for (const char *c : {"info", "read", "write", "get", "show", "set", "dump", "run", "export", "diff", "serve", "help"})
        QTest::newRow(c) << QString::fromLatin1(c);
}

// Every command has its help, the same whichever way it is asked for, and it needs no board.
void TestCtl::help()
{
    QFETCH(QString, command);

    const Run asOption = ctl({command, "--help"});
    QCOMPARE(asOption.exitCode, 0);
    QCOMPARE(asOption.err, QByteArray());
    QVERIFY2(asOption.out.startsWith("Usage: evm5170ctl [options] " + command.toUtf8()), asOption.out.constData());
    QCOMPARE(asOption.trace, QStringList());
    QCOMPARE(ctl({"help", command}).out, asOption.out);
    QCOMPARE(ctl({"-h", command}).out, asOption.out);
    // The server's command list is its command table.
    if (command == QLatin1String("serve"))
        for (const evm::scpi::CommandInfo &row : evm::scpi::commandTable())
            QVERIFY2(asOption.out.contains(QByteArray("  ") + row.header), row.header);

    // --version wins over any command, and needs no board either.
    const Run version = ctl({command, "--version"});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, QByteArray("evm5170ctl " EVM_PROGRAM_VERSION "\n"));
    QCOMPARE(version.err, QByteArray());
    QCOMPARE(version.trace, QStringList());

    const Run general = ctl({"--help"});
    QCOMPARE(general.exitCode, 0);
    QVERIFY(general.out.contains("\n  " + command.toUtf8() + " "));
    QVERIFY(asOption.out != general.out);
}

void TestCtl::dashIsStandardOutputAndInput()
{
    setChip(regs("0x46=0x0A"));
    const Run dump = ctl({QStringLiteral("dump"), QStringLiteral("-")});
    QCOMPARE(dump.exitCode, 0);
    QCOMPARE(ctl({QStringLiteral("dump"), QStringLiteral("out.csv")}).exitCode, 0);
    QCOMPARE(dump.out, fileText(QStringLiteral("out.csv")));
    QVERIFY(dump.out.contains("0x46, 0x0A\r\n"));
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("-"))));

    // A script from standard input, stopping at its faulty line as a file's run does.
    const Run run = ctl({QStringLiteral("run"), QStringLiteral("-")}, {}, "0x46, 0x2A\r\n0x41, 0x12\r\n");
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(chip()[0x46 - FirstRegister], 0x2A);
    QCOMPARE(chip()[0x41 - FirstRegister], 0x12);
    const Run bad = ctl({QStringLiteral("run"), QStringLiteral("-")}, {}, "0x46, 0x0B\r\nnonsense\r\n");
    QCOMPARE(bad.exitCode, 2);
    QVERIFY2(bad.err.startsWith("evm5170ctl: -:2: "), bad.err.constData());
    QCOMPARE(chip()[0x46 - FirstRegister], 0x0B);

    // For diff, - stays the chip.
    writeFile(QStringLiteral("golden.csv"), QByteArray::fromStdString(snapshotText(chip())));
    QCOMPARE(ctl({QStringLiteral("diff"), QStringLiteral("--settings"), QStringLiteral("golden.csv"), QStringLiteral("-")}).exitCode, 0);
}

void TestCtl::dumpKeepsLinksModesAndSpecialFiles()
{
    setChip({});
    const QByteArray snapshot = ctl({QStringLiteral("dump")}).out;
    QCOMPARE(snapshot.size(), 372);
    // Through a link: the file behind it gets the snapshot, keeping its mode; the link stays.
    writeFile(QStringLiteral("target.csv"), "old");
    QCOMPARE(::chmod(QFile::encodeName(path(QStringLiteral("target.csv"))).constData(), 0640), 0);
    QVERIFY(QFile::link(path(QStringLiteral("target.csv")), path(QStringLiteral("link.csv"))));
    QCOMPARE(ctl({QStringLiteral("dump"), QStringLiteral("link.csv")}).exitCode, 0);
    QVERIFY(QFileInfo(path(QStringLiteral("link.csv"))).isSymLink());
    QCOMPARE(fileText(QStringLiteral("target.csv")), snapshot);
    struct stat target;
    QCOMPARE(::stat(QFile::encodeName(path(QStringLiteral("target.csv"))).constData(), &target), 0);
    QCOMPARE(int(target.st_mode & 07777), 0640);

    // A FIFO with a reader gets the snapshot through it; without one the tool says so at once.
    const QByteArray fifo = QFile::encodeName(path(QStringLiteral("fifo")));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    const Run noReader = ctl({QStringLiteral("dump"), QStringLiteral("fifo")});
    QCOMPARE(noReader.exitCode, 2);
    QVERIFY2(noReader.err.contains("fifo") && noReader.err.contains("FIFO"), noReader.err.constData());
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    QCOMPARE(ctl({QStringLiteral("dump"), QStringLiteral("fifo")}).exitCode, 0);
    QByteArray got(1024, '\0');
    const ssize_t n = ::read(reader, got.data(), size_t(got.size()));
    ::close(reader);
    QCOMPARE(got.left(int(qMax<ssize_t>(n, 0))), snapshot);
    QVERIFY(QFileInfo(path(QStringLiteral("fifo"))).exists() && !QFileInfo(path(QStringLiteral("fifo"))).isFile());

    // A device named through a link is written to, never replaced.
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), path(QStringLiteral("null.csv"))));
    QCOMPARE(ctl({QStringLiteral("dump"), QStringLiteral("null.csv")}).exitCode, 0);
    struct stat st;
    QCOMPARE(::stat("/dev/null", &st), 0);
    QVERIFY(S_ISCHR(st.st_mode));
}

void TestCtl::settingsFileThatIsNotAFile()
{
    // A FIFO in place of the settings file: one line on standard error, then SPI as without a
    // file. Were the FIFO ever opened for reading, this writer gets in and ends the wait.
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("config")));
    const QByteArray fifo = QFile::encodeName(path(QStringLiteral("config/EVM5170.ini")));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    FifoWatch watch(QFile::decodeName(fifo));
    setChip(regs("0x46=0x0A"));
    const Run r = ctl({QStringLiteral("read"), QStringLiteral("0x46")});
    QVERIFY(!watch.openedForReading());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray("0x0A\n"));
    QCOMPARE(r.err.count('\n'), 1);
    QVERIFY2(r.err.contains("cannot read the interface settings") && r.err.contains("going on with SPI"), r.err.constData());
    QCOMPARE(r.trace.first(), kInitSpi);
}

// A level beyond the attenuator's range goes to its end, as in the window's dB edit, and says so.
void TestCtl::levelBeyondTheRangeWarns()
{
    setChip({});
    Run r = ctl({"set", "ATAD2", "+30dB"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QByteArray("evm5170ctl: warning: +30dB is beyond the range of ATAD2, -107.5 dB to 20.0 dB; set to 20.0 dB\n"));
    r = ctl({"set", "ATDA8", "-200dB"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QByteArray("evm5170ctl: warning: -200dB is beyond the range of ATDA8, -127.5 dB to 0.0 dB; set to -127.5 dB\n"));
    QCOMPARE(chip(), powerOnWith(regs("0x5A=0xFF 0x4F=0x00")));
}

void TestCtl::exportedScriptRuns_data()
{
    QTest::addColumn<bool>("changed");
    QTest::newRow("all") << false;
    QTest::newRow("changed") << true;
}

// The script export of a set-up chip, run on a chip at its power-on values, reproduces it byte
// for byte, never writing a status flag register nor starting a reset.
void TestCtl::exportedScriptRuns()
{
    QFETCH(bool, changed);
    setChip(regs(kBench));
    const RegisterValues bench = chip();
    const Run e = ctl(QStringList{"export", "--format", "script"} + (changed ? QStringList{"--changed"} : QStringList{})
                      + QStringList{"setup.csv"});
    QCOMPARE(e.err, QByteArray());
    QCOMPARE(e.exitCode, 0);
    QCOMPARE(e.out, QByteArray());
    // Read from the chip as it answers: zero flags up without DIN lines, ADC1's overflow flag up.
    QCOMPARE(e.trace, QStringList{kInitSpi} + allReads(powerOnWith(regs(QString(kBench) + " 0x45=0xFF 0x56=0x01")))
                          + QStringList{kClose});

    setChip({});
    const Run r = ctl({"run", "setup.csv"});
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(chip(), bench);
    const QStringList writes = r.trace.filter(QStringLiteral("_writeData"));
    QCOMPARE(writes.size(), changed ? 12 : 29);
    for (const QString &w : writes)
        QVERIFY2(!w.contains("reg=0x45") && !w.contains("reg=0x56"), qPrintable(w));
    QCOMPARE(writes.first(), writeLine(0x40, 0xC2));
}

// The C header compiles as C99 with warnings as errors, and its table, written in order over a
// chip at its power-on values, gives the set-up chip; with nothing changed it is empty.
void TestCtl::exportedHeaderCompiles()
{
    setChip(regs(kBench));
    const RegisterValues bench = chip();
    QCOMPARE(ctl({"export", "--format", "c", "setup.h"}).exitCode, 0);
    setChip({});
    QCOMPARE(ctl({"export", "--format=c", "--changed", "none.h"}).exitCode, 0);
    writeFile(QStringLiteral("main.c"), "#include <stdio.h>\n#include HEADER\n"
                                        "int main(void)\n{\n    unsigned i;\n"
                                        "    for (i = 0; i < CDX5170_SETUP_COUNT; ++i)\n"
                                        "        printf(\"%02X %02X\\n\", cdx5170_setup[i].reg, cdx5170_setup[i].value);\n"
                                        "    printf(\"address %02X\\n\", CDX5170_IIC_ADDRESS);\n    return 0;\n}\n");
    auto table = [this](const QString &header) {
        QProcess cc;
        cc.setWorkingDirectory(m_dir->path());
        cc.start(QStringLiteral("cc"), {"-std=c99", "-pedantic", "-Wall", "-Werror", "-DHEADER=\"" + header + "\"", "main.c",
                                        "-o", "table"});
        if (!cc.waitForFinished(60000) || cc.exitCode() != 0)
            qWarning("cc: %s", cc.readAllStandardError().constData());
        QProcess table;
        table.start(path(QStringLiteral("table")), {});
        table.waitForFinished(10000);
        return QString::fromLatin1(table.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };
    QStringList rows = table(QStringLiteral("setup.h"));
    QCOMPARE(rows.size(), 30);
    QCOMPARE(rows.takeLast(), QStringLiteral("address 44"));
    RegisterValues applied = powerOnWith({});
    for (const QString &row : rows) {
        const int reg = row.left(2).toInt(nullptr, 16);
        QVERIFY2(isChipRegister(reg) && !isStatusFlagRegister(reg), qPrintable(row));
        applied[reg - FirstRegister] = uint8_t(row.mid(3).toInt(nullptr, 16));
    }
    QCOMPARE(applied, bench);
    QCOMPARE(table(QStringLiteral("none.h")), QStringList{QStringLiteral("address 44")});
}

// Every field of the JSON export is a line of show: name, register, bits, value and meaning.
void TestCtl::jsonAgreesWithShow()
{
    setChip(regs(QString(kBench) + " 0x41=0x73")); // MSDA 7, which the window has no item for
    const Run json = ctl({"export", "--format", "json", "-"});
    const Run show = ctl({"show"});
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(show.exitCode, 0);
    QJsonParseError error;
    const QJsonObject doc = QJsonDocument::fromJson(json.out, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(doc.value("origin").toString(), QStringLiteral("the chip"));

    QStringList fromJson;
    const QJsonArray registers = doc.value("registers").toArray();
    QCOMPARE(registers.size(), RegisterCount);
    for (const QJsonValue &r : registers) {
        const QJsonObject reg = r.toObject();
        const int address = reg.value("register").toInt();
        QCOMPARE(reg.value("hex").toString(), QString::asprintf("0x%02X", address));
        QCOMPARE(reg.value("power_on").toInt(), int(powerOnValue(address)));
        QCOMPARE(reg.value("write").isNull(), isStatusFlagRegister(address));
        int value = 0;
        int bits = 0;
        for (const QJsonValue &fv : reg.value("fields").toArray()) {
            const QJsonObject f = fv.toObject();
            QString meaning = f.value("kind").toString() == "setting" ? QString() : f.value("kind").toString();
            if (f.contains("item"))
                meaning = f.value("item").isNull() ? QStringLiteral("(no item)") : f.value("item").toString();
            if (f.contains("dB"))
                meaning = QString::number(f.value("dB").toDouble(), 'f', 1) + " dB";
            fromJson << QStringList{f.value("name").toString(), reg.value("hex").toString(), f.value("bits").toString(),
                                    QString::number(f.value("value").toInt()), meaning}.join('|');
            const RegisterField *field = findField(f.value("name").toString().toStdString());
            QVERIFY(field && field->reg == address);
            value |= f.value("value").toInt() << field->shift;
            bits |= ((1 << field->width) - 1) << field->shift;
        }
        // The fields make up the value, but for the bits that have no function.
        QCOMPARE(value, reg.value("value").toInt() & bits);
    }
    QStringList fromShow;
    static const QRegularExpression line(QStringLiteral("^(\\S+) +(0x[0-9A-F]{2})  (\\S+) +(\\d+)(?:  (.*))?$"));
    for (const QString &text : QString::fromUtf8(show.out).split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = line.match(text);
        QVERIFY2(m.hasMatch(), qPrintable(text));
        fromShow << QStringList{m.captured(1), m.captured(2), m.captured(3), m.captured(4), m.captured(5)}.join('|');
    }
    QCOMPARE(fromShow.size(), int(registerFields().size()));
    fromShow.sort();
    fromJson.sort();
    QCOMPARE(fromJson, fromShow);
    QVERIFY(fromShow.contains("MSDA|0x41|6..4|7|(no item)"));
    QVERIFY(fromShow.contains("ATAD1|0x59|7..0|224|4.5 dB"));

    // --changed keeps exactly the registers whose write differs from the power-on value.
    const Run changed = ctl({"export", "--format", "json", "--changed"});
    QStringList kept;
    for (const QJsonValue &r : QJsonDocument::fromJson(changed.out).object().value("registers").toArray())
        kept << r.toObject().value("hex").toString();
    QCOMPARE(kept, (QStringList{"0x40", "0x41", "0x42", "0x44", "0x46", "0x48", "0x4F", "0x51", "0x53", "0x57", "0x58", "0x59"}));
}

QTEST_GUILESS_MAIN(TestCtl)
#include "tst_ctl.moc"
