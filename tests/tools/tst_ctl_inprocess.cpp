// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of evm5170ctl run in-process, as a server runs them: their output and errors
// go to the streams of the context, and a context that keeps the board open shares it from
// one command to the next, opening it anew after it failed. The simulated board is loaded
// through the real loader; its own trace shows every library call in order.

#include "ctl_commands.h"
#include "inttext.h"
#include "registers.h"
#include "fielddiff.h"
#include "textfiles.h"

#include <QBuffer>

#include <sstream>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kInitSpi = QStringLiteral("_init(port=0, interface=3, address=0x00, word56=3) = 1");
const QString kNoBoardInit = QStringLiteral("_init(port=0, interface=3, address=0x00, word56=3) = 0");
const QString kClose = QStringLiteral("_close() = 0");

QString readLine(int reg, int value, const QString &result = QStringLiteral("0"))
{
    return QStringLiteral("_readData(channel=0, reg=0x%1) = %2 value=0x%3")
        .arg(QString::fromStdString(evm::hexText(reg, 2)), result, QString::fromStdString(evm::hexText(value, 2)));
}

struct Result {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

class TestCtlInProcess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;
    QString path(const QString &name) const { return m_dir->filePath(name); }

    // The simulator reads its environment each time it is loaded, that is at each open.
    void setSim(const QByteArray &name, const QByteArray &value)
    {
        if (value.isNull())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }

    QStringList trace() const
    {
        QFile f(path(QStringLiteral("trace.txt")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    static Result run(ctl::Context &context, const QStringList &args)
    {
        auto &out = dynamic_cast<std::ostringstream &>(context.out);
        auto &err = dynamic_cast<std::ostringstream &>(context.err);
        out.str({});
        err.str({});
        std::vector<std::string> arguments;
        for (const QString &a : args)
            arguments.push_back(a.toStdString());
        Result r;
        r.status = ctl::runCommand(context, arguments);
        r.out = QByteArray::fromStdString(out.str());
        r.err = QByteArray::fromStdString(err.str());
        return r;
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        for (const char *name : {"OSTREL_SIM_BOARD", "OSTREL_SIM_FAIL", "OSTREL_SIM_PORT", "OSTREL_SIM_IIC_ADDRESS"})
            qunsetenv(name);
        qputenv("EVM_BOARD_LIBRARY", OSTREL_SIM_PATH);
        qputenv("OSTREL_SIM_TRACE", path(QStringLiteral("trace.txt")).toLocal8Bit());
        qputenv("OSTREL_SIM_STATE", path(QStringLiteral("state.csv")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toLocal8Bit());
        evm::RegisterValues chip{};
        for (int i = 0; i < evm::RegisterCount; ++i)
            chip[i] = evm::powerOnValue(evm::FirstRegister + i);
        chip[0x46 - evm::FirstRegister] = 0x0A;
        QFile state(path(QStringLiteral("state.csv")));
        QVERIFY(state.open(QIODevice::WriteOnly));
        state.write(QByteArray::fromStdString(evm::snapshotText(chip)));
    }
    void cleanup()
    {
        delete m_dir;
        m_dir = nullptr;
    }

    // Output, errors and the trace reach the context's streams; the board is closed after
    // each command, as the program does it.
    void streamsOfTheContext()
    {
        std::ostringstream out, err;
        evm::BoardSession session;
        ctl::Context context{session, out, err};

        Result r = run(context, {"read", "0x46"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QByteArray("0x0A\n"));
        QCOMPARE(r.err, QByteArray());
        QVERIFY(!session.library().isLoaded());

        r = run(context, {"--trace", "set", "DEMP", "2"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(r.err, QByteArray("trace: " + kInitSpi.toLatin1() + "\ntrace: " + readLine(0x46, 0x0A).toLatin1()
                                   + "\ntrace: _writeData(channel=0, reg=0x46, value=0x2A) = 0\ntrace: "
                                   + kClose.toLatin1() + "\n"));

        r = run(context, {"get", "FOO"});
        QCOMPARE(r.status, 2);
        QCOMPARE(r.out, QByteArray());
        QVERIFY2(r.err.startsWith("evm5170ctl: unknown field 'FOO'; the fields are MRST SRST SRDA "), r.err.constData());
        QVERIFY(r.err.endsWith('\n') && r.err.count('\n') == 1);

        r = run(context, {"frob"});
        QCOMPARE(r.status, 2);
        QCOMPARE(r.err, QByteArray("evm5170ctl: unknown command 'frob' (see evm5170ctl --help)\n"));

        r = run(context, {"dump"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out.size(), 372);
        QVERIFY(r.out.contains("\r\n0x46, 0x2A\r\n"));

        r = run(context, {"help", "read"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.startsWith("Usage: evm5170ctl [options] read REG\n"));

        // Each command opened and closed the board; help touched nothing.
        const QStringList calls = trace();
        QCOMPARE(calls.mid(0, 8), (QStringList{kInitSpi, readLine(0x46, 0x0A), kClose, kInitSpi, readLine(0x46, 0x0A),
                                               "_writeData(channel=0, reg=0x46, value=0x2A) = 0", kClose, kInitSpi}));
        QCOMPARE(calls.size(), 8 + 31 + 1);
        QCOMPARE(calls.last(), kClose);
    }

    // A kept board serves command after command with one _init, and _close comes with the
    // session's end; another interface opens it anew.
    void keptOpenAcrossCommands()
    {
        std::ostringstream out, err;
        {
            evm::BoardSession session;
            ctl::Context context{session, out, err, true};
            QCOMPARE(run(context, {"read", "0x46"}).out, QByteArray("0x0A\n"));
            QCOMPARE(run(context, {"write", "0x46", "0x2A"}).status, 0);
            QCOMPARE(run(context, {"get", "DEMP"}).out, QByteArray("2\n"));
            QVERIFY(session.answering());
            QCOMPARE(trace(), (QStringList{kInitSpi, readLine(0x46, 0x0A), "_writeData(channel=0, reg=0x46, value=0x2A) = 0",
                                           readLine(0x46, 0x2A)}));

            // The simulator answers IIC only at its strapped address 0x44.
            const Result r = run(context, {"--address", "0x44", "read", "0x46"});
            QCOMPARE(r.err, QByteArray());
            QCOMPARE(r.out, QByteArray("0x2A\n"));
            QCOMPARE(trace().mid(4), (QStringList{kClose, "_init(port=0, interface=1, address=0x44, word56=3) = 1",
                                                  readLine(0x46, 0x2A)}));
        }
        QCOMPARE(trace().size(), 8);
        QCOMPARE(trace().last(), kClose);
    }

    // Fields by their meaning on a kept board: items and levels set, shown, and a slip of the
    // name answered with the nearest names before the board is asked anything.
    void fieldsByMeaning()
    {
        std::ostringstream out, err;
        evm::BoardSession session;
        ctl::Context context{session, out, err, true};
        QCOMPARE(run(context, {"set", "DEMP", "44.1kHz"}).status, 0);
        QCOMPARE(run(context, {"set", "ATDA1", "-12.5dB"}).status, 0);
        Result r = run(context, {"show", "DEMP", "ATDA1", "AZRO"});
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.out, QByteArray("DEMP    0x46  5..4    2  44.1kHz\n"
                                   "ATDA1   0x48  7..0  230  -12.5 dB\n"
                                   "AZRO    0x46  3..1    5  Detect DAC7-8 with OR logic\n"));
        QCOMPARE(run(context, {"get", "ATDA1"}).out, QByteArray("230\n"));
        r = run(context, {"show", "ATDA9"});
        QCOMPARE(r.status, 2);
        QCOMPARE(r.err, QByteArray("evm5170ctl: unknown field 'ATDA9'; did you mean ATDA0, ATDA1, ATDA2, ATDA3, ATDA4, "
                                   "ATDA5, ATDA6, ATDA7, or ATDA8?\n"));
        QCOMPARE(trace(), (QStringList{kInitSpi, readLine(0x46, 0x0A), "_writeData(channel=0, reg=0x46, value=0x2A) = 0",
                                       readLine(0x48, 0xFF), "_writeData(channel=0, reg=0x48, value=0xE6) = 0",
                                       readLine(0x46, 0x2A), readLine(0x48, 0xE6), readLine(0x48, 0xE6)}));
    }

    // No board at first: the next command tries again and finds it.
    void reopensAfterNoBoard()
    {
        std::ostringstream out, err;
        evm::BoardSession session;
        ctl::Context context{session, out, err, true};

        setSim("OSTREL_SIM_BOARD", "absent");
        Result r = run(context, {"read", "0x46"});
        QCOMPARE(r.status, 2);
        QCOMPARE(r.err, QByteArray("evm5170ctl: No EVM was found (SPI)\n"));
        QVERIFY(!session.library().isLoaded());

        setSim("OSTREL_SIM_BOARD", QByteArray());
        r = run(context, {"read", "0x46"});
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QByteArray("0x0A\n"));
        QCOMPARE(trace(), (QStringList{kNoBoardInit, kClose, kInitSpi, readLine(0x46, 0x0A)}));
    }

    // A board that stops answering is closed after the failing command and opened anew by the next.
    void reopensAfterLostBoard()
    {
        std::ostringstream out, err;
        evm::BoardSession session;
        ctl::Context context{session, out, err, true};

        setSim("OSTREL_SIM_FAIL", "read@1=0x0102");
        QCOMPARE(run(context, {"read", "0x46"}).status, 0);
        Result r = run(context, {"read", "0x41"});
        QCOMPARE(r.status, 2);
        QCOMPARE(r.err, QByteArray("evm5170ctl: Communication error: RDERR0102 reading register 0x41; "
                                   "please check the interface setting (SPI)\n"));
        QVERIFY(!session.answering());

        setSim("OSTREL_SIM_FAIL", QByteArray());
        r = run(context, {"read", "0x41"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QByteArray("0x00\n"));
        QCOMPARE(trace(), (QStringList{kInitSpi, readLine(0x46, 0x0A), readLine(0x41, 0, "0x0102"), kClose, kInitSpi,
                                       readLine(0x41, 0)}));
    }
};

QTEST_GUILESS_MAIN(TestCtlInProcess)
#include "tst_ctl_inprocess.moc"
