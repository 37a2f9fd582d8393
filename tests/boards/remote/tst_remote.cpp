// SPDX-License-Identifier: GPL-3.0-or-later
// The remote board library against a real instrument server (evm5170ctl serve over the
// simulated board, in a process of its own): the window's start-up reaches the far board
// exactly as a local one does, and the library's rules for a server that is gone, silent or
// stopped: one user action waits one timeout at most, and a write given up on never runs.
#include "boardlib.h"
#include "ctl_commands.h"
#include "fixture.h"
#include "inttext.h"
#include "main.h"
#include "pressableimage.h"
#include "uitest.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sstream>

namespace {

constexpr int32_t kNotOpen = OSTREL_NOT_OPEN;
// Short, to keep the suite fast; long enough that nothing answered in time is taken for a
// silence on a loaded machine. One action may wait one timeout, never two.
constexpr int kTimeoutMs = 1500;
const QString kTimeoutText = QStringLiteral("no answer within 1.5 s");

// evm5170ctl serve on a free loopback port, killed when it goes out of scope.
class Server
{
public:
    explicit Server(const QStringList &options = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"OSTREL_SIM_FAIL", "OSTREL_SIM_BOARD", "OSTREL_SIM_STATE", "OSTREL_SIM_IIC_ADDRESS"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("OSTREL_SIM_STATE"), QString()); // no state file
        // Another server may stand in for this build's, the Windows one under Wine
        // (EVM_TEST_SERVE_COMMAND, with its own simulated board EVM_TEST_SERVE_BOARD).
        const QString command = qEnvironmentVariable("EVM_TEST_SERVE_COMMAND", QStringLiteral(EVM5170CTL_PATH));
        const QString board = qEnvironmentVariable("EVM_TEST_SERVE_BOARD", QStringLiteral(OSTREL_SIM_PATH));
        env.insert(QStringLiteral("EVM_BOARD_LIBRARY"), board);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path());
        env.insert(QStringLiteral("OSTREL_SIM_TRACE"), tracePath());
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(m_dir.path());
        m_process.start(command,
                        QStringList{QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} + options);
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

    // SIGSTOP: the system still takes connections and lines for it, nothing answers them.
    void pause() { signal(SIGSTOP); }
    void resume() { signal(SIGCONT); }

    // One line sent on a connection of its own, and the one line answered (or refused).
    QByteArray ask(const QByteArray &line) const
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        if (!s.waitForConnected(10000))
            return "<no connection>";
        s.write(line + '\n');
        QByteArray answer;
        while (!answer.endsWith('\n') && s.waitForReadyRead(10000))
            answer += s.readAll();
        return answer.trimmed();
    }

    // The answer once a server of --max-clients 1 has let its client go.
    QByteArray askOnceFree(const QByteArray &line) const
    {
        QDeadlineTimer deadline(20000);
        QByteArray answer;
        do {
            answer = ask(line);
        } while (answer.startsWith("refused:") && !deadline.hasExpired() && (QTest::qWait(20), true));
        return answer;
    }

    // SIGINT (Ctrl+C, which a server under Wine also gets), and the exit status; killed when
    // it does not end in time.
    int stop()
    {
        resume();
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitCode();
        signal(SIGINT);
        if (!m_process.waitForFinished(30000)) {
            m_process.kill();
            m_process.waitForFinished(30000);
            return -1;
        }
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

private:
    // Only to the server: a pid of 0 would reach every process of the group (ctest's too).
    void signal(int sig)
    {
        if (const qint64 pid = m_process.processId(); pid > 0 && m_process.state() == QProcess::Running)
            ::kill(pid_t(pid), sig);
    }

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
    void initTestCase() { qputenv("EVM_BOARD_REMOTE_TIMEOUT_MS", QByteArray::number(kTimeoutMs)); }
    void cleanup() { qunsetenv("EVM_BOARD_REMOTE"); }

    void windowStartsAsAgainstALocalBoard();
    void unreachableServerIsNoBoard();
    void lostConnectionUntilTheNextInit();
    void readAllShowsAnotherClientsChange();
    void windowSaysWhyTheServerIsGone();
    void silentServerIsBounded();
    void stalledServerWaitsOneTimeout_data();
    void stalledServerWaitsOneTimeout();
    void givenUpWriteNeverRuns();
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

    // The far board: the window joined the board as the server holds it open, then exactly
    // what a local start-up does after its _init, in order.
    const QStringList far = server.trace();
    QCOMPARE(local.first(), far.first());
    QCOMPARE(far.mid(1), local.mid(1));

    // A control changed in the window is one write on the far board.
    QCheckBox *invert = fx.find<QCheckBox>(QStringLiteral("cInvDAC1"));
    QVERIFY(invert && !invert->isChecked());
    QTest::mouseClick(invert, Qt::LeftButton);
    QVERIFY(invert->isChecked());
    QCOMPARE(server.trace().mid(far.size()),
             QStringList{QStringLiteral("_writeData(channel=0, reg=0x43, value=0x01) = 0")});
    QCOMPARE(fx.find<QPlainTextEdit>(QStringLiteral("Memo1"))->toPlainText(), QStringLiteral("0x43, 0x01"));

    // The window's end gives up its hold; the board stays open until the server ends.
    const QStringList before_end = server.trace();
    fx.destroy();
    QCOMPARE(server.ask("*OPC?"), QByteArray("1"));
    QCOMPARE(server.trace(), before_end);
    QCOMPARE(server.stop(), 0);
    QCOMPARE(server.trace().last(), QStringLiteral("_close() = 0"));
}

void TestRemote::unreachableServerIsNoBoard()
{
    const QByteArray address = "127.0.0.1:" + QByteArray::number(closedPort());
    qputenv("EVM_BOARD_REMOTE", address);
    AppFixture fx;
    fx.create();
    qputenv("EVM_BOARD_LIBRARY", OSTREL_REMOTE_PATH);
    fx.show();
    QCOMPARE(fx.form->boardPort(), 0);
    const auto boxes = fx.seam.of(QStringLiteral("box"));
    QCOMPARE(boxes.size(), 1);
    // The box names the server it could not reach, on a line of its own.
    QCOMPARE(boxes[0].text, QStringLiteral("No EVM was found\n%1: cannot connect: Connection refused").arg(QLatin1String(address)));
    QCOMPARE(statusText(fx), QStringLiteral("No EVM was found"));
}

void TestRemote::lostConnectionUntilTheNextInit()
{
    evm::BoardLibrary lib;
    QCOMPARE(lib.loadFile(OSTREL_REMOTE_PATH), evm::BoardLibrary::LoadStatus::Loaded);
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
    QCOMPARE(again.stop(), 0);
    QCOMPARE(again.trace().count(QStringLiteral("_close() = 0")), 1);
    QCOMPARE(again.trace().last(), QStringLiteral("_close() = 0"));
}

void TestRemote::readAllShowsAnotherClientsChange()
{
    Server server;
    QVERIFY(server.port() > 0);
    qputenv("EVM_BOARD_REMOTE", server.address());
    AppFixture fx;
    fx.create();
    qputenv("EVM_BOARD_LIBRARY", OSTREL_REMOTE_PATH);
    fx.show();
    QVERIFY(fx.form->boardPort() != 0);
    auto *mute = fx.find<QCheckBox>(QStringLiteral("cDAC1"));
    QVERIFY(!mute->isChecked());

    // A script of another client mutes DAC1 on the board the window shares.
    QCOMPARE(server.ask("FIELD MUTDA1,1;*OPC?"), QByteArray("1"));
    const QStringList before = server.trace();
    fx.form->findChild<QAction *>(QStringLiteral("actReadAll"))->trigger();
    QVERIFY(mute->isChecked());
    // The far board saw the 31 reads and nothing else.
    const QStringList calls = server.trace().mid(before.size());
    QCOMPARE(calls.size(), 31);
    for (int i = 0; i < calls.size(); ++i)
        QVERIFY2(calls[i].startsWith(QStringLiteral("_readData(channel=0, reg=0x%1)").arg(hex2(0x40 + i))), qPrintable(calls[i]));
    QVERIFY(historyOf(fx).isEmpty());
    fx.destroy();
    QCOMPARE(server.stop(), 0);
}

void TestRemote::windowSaysWhyTheServerIsGone()
{
    auto server = std::make_unique<Server>();
    QVERIFY(server->port() > 0);
    const QString address = QLatin1String(server->address());
    qputenv("EVM_BOARD_REMOTE", server->address());
    AppFixture fx;
    fx.create();
    qputenv("EVM_BOARD_LIBRARY", OSTREL_REMOTE_PATH);
    fx.show();
    QVERIFY(fx.form->boardPort() != 0);
    QCOMPARE(statusText(fx), QStringLiteral("Ready"));
    QCOMPARE(server->stop(), 0);
    server.reset();

    // The write's message and the status both say what became of the server, not only stderr.
    clickIndicator(fx, QStringLiteral("cInvDAC1"));
    const auto shown = fx.seam.of(QStringLiteral("message"));
    QCOMPARE(shown.size(), 1);
    const QStringList lines = shown[0].text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("Communication error: WRERR0102"));
    QVERIFY2(lines[1].startsWith(address + QStringLiteral(": ")) && lines[1].size() > address.size() + 2, qPrintable(lines[1]));
    QVERIFY2(QRegularExpression(QStringLiteral("^Communication error: WRERR0102 at \\d\\d:\\d\\d:\\d\\d \\(%1\\)$")
                                    .arg(QRegularExpression::escape(lines[1])))
                 .match(statusText(fx))
                 .hasMatch(),
             qPrintable(statusText(fx)));
    QCOMPARE(fx.find<QLabel>(QStringLiteral("imgConnection"))->pixmap().toImage(), pictures::connectionPlate(2).toImage());

    // Read all cannot reach it either; Reconnect to a server that is there is a good start again.
    fx.form->findChild<QAction *>(QStringLiteral("actReadAll"))->trigger();
    QVERIFY(statusText(fx).startsWith(QLatin1String("Communication error: RDERR0102 at ")));
    Server again;
    qputenv("EVM_BOARD_REMOTE", again.address());
    clickPush(fx, "bBDRST");
    QCOMPARE(statusText(fx), QStringLiteral("Ready"));
    fx.destroy();
    QCOMPARE(again.stop(), 0);
}

void TestRemote::silentServerIsBounded()
{
    // Accepts connections (the system does, into the backlog) and never answers a line.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    qputenv("EVM_BOARD_REMOTE", "127.0.0.1:" + QByteArray::number(silent.serverPort()));
    evm::BoardLibrary lib;
    QCOMPARE(lib.loadFile(OSTREL_REMOTE_PATH), evm::BoardLibrary::LoadStatus::Loaded);
    evm::ConnectionSettings settings = spi();
    // Each returns, after the answer timeout at most.
    QCOMPARE(lib.init(0, &settings), 0);
    QCOMPARE(readOnce(lib, 0x46), kNotOpen);
    lib.close();
}

void TestRemote::stalledServerWaitsOneTimeout_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("start-up") << "start-up" << "box" << QStringLiteral("No EVM was found\n%1: ") + kTimeoutText;
    QTest::newRow("read") << "read" << "message"
                          << QStringLiteral("Communication error: RDERR0103\nPlease check interface setting.\n%1: ") + kTimeoutText;
    QTest::newRow("reconnect") << "reconnect" << "box" << QStringLiteral("No EVM was foud\n%1: ") + kTimeoutText;
}

void TestRemote::stalledServerWaitsOneTimeout()
{
    QFETCH(QString, action);
    QFETCH(QString, kind);
    QFETCH(QString, text);
    Server server;
    QVERIFY(server.port() > 0);
    qputenv("EVM_BOARD_REMOTE", server.address());
    AppFixture fx;
    fx.create();
    qputenv("EVM_BOARD_LIBRARY", OSTREL_REMOTE_PATH);
    if (action != QLatin1String("start-up")) {
        fx.show();
        QVERIFY(fx.form->boardPort() != 0);
        fx.seam.clear();
    }
    auto act = [&] {
        if (action == QLatin1String("start-up"))
            fx.show();
        else if (action == QLatin1String("read"))
            QTest::mouseClick(fx.find<PressableImage>(QStringLiteral("imgRead")), Qt::LeftButton);
        else
            clickPush(fx, "bBDRST");
    };

    server.pause();
    QElapsedTimer t;
    t.start();
    act();
    const qint64 ms = t.elapsed();
    const auto shown = fx.seam.of(kind);
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].text, text.contains(QLatin1String("%1")) ? text.arg(QLatin1String(server.address())) : text);
    QVERIFY2(ms < 2 * kTimeoutMs, qPrintable(QString::number(ms)));

    // Until the next _init every call fails at once: the same action again waits for nothing.
    if (action == QLatin1String("read")) {
        t.restart();
        act();
        QVERIFY2(t.elapsed() < kTimeoutMs / 2, qPrintable(QString::number(t.elapsed())));
    }
    server.resume();
    fx.destroy();
    QCOMPARE(server.stop(), 0);
}

void TestRemote::givenUpWriteNeverRuns()
{
    // One client at a time, so that a new one is let in once the server has dropped the old.
    Server server({QStringLiteral("--max-clients"), QStringLiteral("1")});
    QVERIFY(server.port() > 0);
    qputenv("EVM_BOARD_REMOTE", server.address());
    qputenv("EVM_BOARD_LIBRARY", OSTREL_REMOTE_PATH);
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    // The tool's commands in-process, on one session that stays open between them.
    evm::BoardSession session;
    std::ostringstream out, err;
    ctl::Context context{session, out, err, true};
    QCOMPARE(ctl::runCommand(context, {"write", "0x46", "0x0A"}), 0);

    // The write reaches the stopped server's socket; the tool gives up on it and says so.
    server.pause();
    QElapsedTimer t;
    t.start();
    QCOMPARE(ctl::runCommand(context, {"write", "0x46", "0xC7"}), 2);
    QVERIFY2(t.elapsed() < 2 * kTimeoutMs, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(QByteArray::fromStdString(err.str()), "evm5170ctl: Communication error: WRERR0103 writing 0xC7 to register 0x46: no answer in time, "
                         "so the write may still have taken effect (" + server.address() + ": " + kTimeoutText.toLatin1() + ")\n");
    // The connection was reset: the resumed server gets the line and the reset together and
    // drops both, so the write never runs.
    server.resume();
    QCOMPARE(server.askOnceFree("REG? 0x46"), QByteArray("10"));
    const QStringList writes = server.trace().filter(QStringLiteral("_writeData"));
    QCOMPARE(writes, QStringList{QStringLiteral("_writeData(channel=0, reg=0x46, value=0x0A) = 0")});
    session.end();
    QCOMPARE(server.stop(), 0);
    qunsetenv("EVM_BOARD_LIBRARY");
    qunsetenv("XDG_CONFIG_HOME");
}

QTEST_MAIN(TestRemote)
#include "tst_remote.moc"
