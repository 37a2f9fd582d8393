// The remote board library against a real instrument server (evm5170ctl serve over the
// simulated board, in a process of its own): the window's start-up reaches the far board
// exactly as a local one does, and the library's rules for a server that is gone or silent.
#include "boardlib.h"
#include "fixture.h"
#include "inttext.h"
#include "main.h"
#include "uitest.h"

#include <QCheckBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int32_t kNotOpen = OSTREL_NOT_OPEN;

// evm5170ctl serve on a free loopback port, killed when it goes out of scope.
class Server
{
public:
    Server()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"OSTREL_SIM_FAIL", "OSTREL_SIM_BOARD", "OSTREL_SIM_STATE", "OSTREL_SIM_IIC_ADDRESS"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("EVM_BOARD_LIBRARY"), QStringLiteral(OSTREL_SIM_PATH));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path());
        env.insert(QStringLiteral("OSTREL_SIM_TRACE"), tracePath());
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(m_dir.path());
        m_process.start(QStringLiteral(EVM5170CTL_PATH), {QStringLiteral("serve"), QStringLiteral("--listen"),
                                                          QStringLiteral("127.0.0.1:0")});
        QByteArray out;
        QDeadlineTimer deadline(30000);
        while (!out.contains('\n') && !deadline.hasExpired() && m_process.waitForReadyRead(int(deadline.remainingTime())))
            out += m_process.readAllStandardOutput();
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)\n")).match(QString::fromLatin1(out));
        if (m.hasMatch())
            m_port = m.captured(1).toInt();
        else
            qWarning("server said %s; %s", out.constData(), m_process.readAllStandardError().constData());
    }
    ~Server() { stop(); }

    int port() const { return m_port; }
    QByteArray address() const { return "127.0.0.1:" + QByteArray::number(m_port); }
    QString tracePath() const { return m_dir.filePath(QStringLiteral("trace.txt")); }
    QStringList trace() const
    {
        QFile f(tracePath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // SIGTERM, and the exit status; killed when it does not end in time.
    int stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitCode();
        m_process.terminate();
        if (!m_process.waitForFinished(30000)) {
            m_process.kill();
            m_process.waitForFinished(30000);
            return -1;
        }
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

evm::ConnectionSettings spi()
{
    evm::ConnectionSettings s;
    s.interfaceCode = 3;
    s.word56 = 3;
    return s;
}

int32_t readOnce(evm::BoardLibrary &lib, int reg, uint8_t *value = nullptr)
{
    uint8_t buffer[evm::TransferBufferSize] = {};
    const int32_t code = lib.readData(evm::ChipChannel, reg, buffer, 1);
    if (value)
        *value = buffer[0];
    return code;
}

int32_t writeOnce(evm::BoardLibrary &lib, int channel, int target, uint8_t value)
{
    uint8_t buffer[evm::TransferBufferSize] = {value};
    return lib.writeData(channel, target, buffer, 1);
}

// A port on which nothing listens: one the system handed out and took back.
int closedPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    const int port = s.serverPort();
    s.close();
    return port;
}

} // namespace

class TestRemote : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("EVM_BOARD_REMOTE"); }

    void windowStartsAsAgainstALocalBoard();
    void unreachableServerIsNoBoard();
    void lostConnectionUntilTheNextInit();
    void silentServerIsBounded();
};

void TestRemote::windowStartsAsAgainstALocalBoard()
{
    QStringList local;
    {
        AppFixture fx;
        fx.create_and_show();
        local = fx.sim.log();
    }
    QVERIFY(local.size() > 1 + 31);

    Server server;
    QVERIFY(server.port() > 0);
    QStringList before = server.trace();
    QCOMPARE(before, QStringList{QStringLiteral("_init(port=0, interface=3, address=0x00, word56=3) = 1")});

    AppFixture fx;
    fx.create();
    qputenv("EVM_BOARD_LIBRARY", OSTREL_REMOTE_PATH);
    qputenv("EVM_BOARD_REMOTE", server.address());
    fx.show();
    QVERIFY(fx.form->boardPort() != 0);
    QVERIFY(statusText(fx) != QStringLiteral("No EVM was found"));
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 0);
    QCOMPARE(fx.seam.count(QStringLiteral("message")), 0);

    // The far board: the reopen's _close, then exactly what a local start-up does, in order.
    const QStringList far = server.trace();
    QCOMPARE(far.mid(1, 1), QStringList{QStringLiteral("_close() = 0")});
    QCOMPARE(far.mid(2), local);

    // A control changed in the window is one write on the far board.
    QCheckBox *invert = fx.find<QCheckBox>(QStringLiteral("cInvDAC1"));
    QVERIFY(invert && !invert->isChecked());
    QTest::mouseClick(invert, Qt::LeftButton);
    QVERIFY(invert->isChecked());
    QCOMPARE(server.trace().mid(far.size()),
             QStringList{QStringLiteral("_writeData(channel=0, reg=0x43, value=0x01) = 0")});
    QCOMPARE(fx.find<QPlainTextEdit>(QStringLiteral("Memo1"))->toPlainText(), QStringLiteral("0x43, 0x01"));

    fx.destroy();
    QCOMPARE(server.trace().last(), QStringLiteral("_close() = 0"));
    QCOMPARE(server.stop(), 0);
}

void TestRemote::unreachableServerIsNoBoard()
{
    qputenv("EVM_BOARD_REMOTE", "127.0.0.1:" + QByteArray::number(closedPort()));
    AppFixture fx;
    fx.create();
    qputenv("EVM_BOARD_LIBRARY", OSTREL_REMOTE_PATH);
    fx.show();
    QCOMPARE(fx.form->boardPort(), 0);
    const auto boxes = fx.seam.of(QStringLiteral("box"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, QStringLiteral("No EVM was found"));
    QCOMPARE(statusText(fx), QStringLiteral("No EVM was found"));
}

void TestRemote::lostConnectionUntilTheNextInit()
{
    evm::BoardLibrary lib;
    QCOMPARE(lib.loadFile(QStringLiteral(OSTREL_REMOTE_PATH)), evm::BoardLibrary::LoadStatus::Loaded);
    evm::ConnectionSettings settings = spi();
    {
        Server server;
        qputenv("EVM_BOARD_REMOTE", server.address());
        QCOMPARE(lib.init(0, &settings), 1);
        QCOMPARE(lib.getVer(), 0x1000);
        QCOMPARE(writeOnce(lib, evm::ChipChannel, 0x46, 0x2A), 0);
        uint8_t value = 0;
        QCOMPARE(readOnce(lib, 0x46, &value), 0);
        QCOMPARE(int(value), 0x2A);
        QCOMPARE(readOnce(lib, 0x60), 0x0005); // the far library's own code
        QCOMPARE(writeOnce(lib, evm::PinChannel, 53, 1), 0);
        QCOMPARE(server.stop(), 0);
    }
    // The server is gone: every access answers "not open", also once it is back elsewhere.
    QCOMPARE(readOnce(lib, 0x46), kNotOpen);
    QCOMPARE(writeOnce(lib, evm::ChipChannel, 0x46, 1), kNotOpen);
    QCOMPARE(writeOnce(lib, evm::PinChannel, 53, 1), kNotOpen);
    Server again;
    qputenv("EVM_BOARD_REMOTE", again.address());
    QCOMPARE(readOnce(lib, 0x46), kNotOpen);
    QVERIFY(!again.trace().join(QLatin1Char('\n')).contains(QStringLiteral("_readData")));
    // The next _init connects again.
    lib.close();
    QCOMPARE(lib.init(0, &settings), 1);
    uint8_t value = 0xFF;
    QCOMPARE(readOnce(lib, 0x46, &value), 0);
    QCOMPARE(int(value), 0x00); // a fresh board behind the new server
    lib.close();
    QCOMPARE(again.trace().last(), QStringLiteral("_close() = 0"));
}

void TestRemote::silentServerIsBounded()
{
    // Accepts connections (the system does, into the backlog) and never answers a line.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    qputenv("EVM_BOARD_REMOTE", "127.0.0.1:" + QByteArray::number(silent.serverPort()));
    evm::BoardLibrary lib;
    QCOMPARE(lib.loadFile(QStringLiteral(OSTREL_REMOTE_PATH)), evm::BoardLibrary::LoadStatus::Loaded);
    evm::ConnectionSettings settings = spi();
    // Each returns, after the library's own answer timeout at most.
    QCOMPARE(lib.init(0, &settings), 0);
    QCOMPARE(readOnce(lib, 0x46), kNotOpen);
    lib.close();
}

QTEST_MAIN(TestRemote)
#include "tst_remote.moc"
