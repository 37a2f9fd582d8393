// SPDX-License-Identifier: GPL-3.0-or-later
// The instrument's command table against a read-only session, a line run a command at a time
// as the server runs it, and the server's shared board: all on a board session over the
// simulated board (loaded by the program's loader, its call log checked in order).
#include "boardsession.h"
#include "registers.h"
#include "scpi/commands.h"
#include "scpi/session.h"
#include "sharedboard.h"

#include <QLibrary>
#include <QtTest>

using namespace evm::scpi;

namespace {

// "REGister[:VALue]?" as a client may send it: "REGister:VALue?".
QByteArray sendable(const char *header)
{
    QByteArray h(header);
    h.replace('[', "").replace(']', "");
    return h;
}

QList<QByteArray> drain(Session &s)
{
    QList<QByteArray> out;
    while (s.queuedErrors() > 0)
        out << QByteArray::fromStdString(s.nextError());
    return out;
}

std::optional<QByteArray> bytes(const std::optional<std::string> &answer)
{
    return answer ? std::optional(QByteArray::fromStdString(*answer)) : std::nullopt;
}

std::optional<QByteArray> run(Session &s, const QByteArray &line)
{
    return bytes(s.execute(line.toStdString()));
}

// One client of a server of its own over the session: the shared board, the client's hold, its session.
struct Instrument {
    Instrument(evm::BoardSession &session, bool readOnly) : shared(session), client(shared), s(client, Options{readOnly, "1.0"}) {}
    evm::SharedBoard shared;
    evm::SharedBoard::Client client;
    Session s;
};

} // namespace

class TestScpi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void readOnlyRefusesWhatChangesTheBoard();
    void aCommandAtATime_data();
    void aCommandAtATime();
    void sharedBoardHolds();

private:
    // The simulator at its power-on state and open on IIC at 0x44, as a server finds it.
    void freshBoard();
    // The simulator's calls since the last look.
    QStringList calls();
    // Of those, the ones that change something for others: writes, opens and closes.
    QStringList changes();

    evm::BoardSession m_session;
    QLibrary m_api{QStringLiteral(OSTREL_SIM_PATH)}; // the same loaded library, for its test calls
    void (*m_reset)() = nullptr;
    void (*m_clearLog)() = nullptr;
    const char *(*m_log)() = nullptr;
};

void TestScpi::initTestCase()
{
    qputenv("EVM_BOARD_LIBRARY", OSTREL_SIM_PATH);
    QCOMPARE(m_session.load(), evm::BoardLibrary::LoadStatus::Loaded);
    QVERIFY(m_api.load());
    m_reset = reinterpret_cast<void (*)()>(m_api.resolve("ostrel_sim_reset"));
    m_clearLog = reinterpret_cast<void (*)()>(m_api.resolve("ostrel_sim_clear_log"));
    m_log = reinterpret_cast<const char *(*)()>(m_api.resolve("ostrel_sim_log"));
    QVERIFY(m_reset && m_clearLog && m_log);
}

void TestScpi::cleanupTestCase()
{
    m_session.end();
    qunsetenv("EVM_BOARD_LIBRARY");
}

void TestScpi::freshBoard()
{
    m_session.disconnect();
    m_reset();
    m_session.settings() = evm::connectionSettingsFor(evm::IicItem, 0x44);
    QCOMPARE(m_session.connect(), 1);
    m_clearLog();
}

QStringList TestScpi::calls()
{
    const QStringList lines = QString::fromLatin1(m_log()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    m_clearLog();
    return lines;
}

QStringList TestScpi::changes()
{
    QStringList out;
    for (const QString &call : calls())
        if (call.startsWith(QLatin1String("_writeData")) || call.startsWith(QLatin1String("_init"))
            || call.startsWith(QLatin1String("_close")))
            out << call;
    return out;
}

void TestScpi::readOnlyRefusesWhatChangesTheBoard()
{
    // Parameters that some command of the table takes; a new command needs its own here.
    const QList<QByteArray> pool = {"", "0x46", "0x46,1", "DEMP", "DEMP,1", "5,1", "3,0", "0,0x46", "0,0x46,1"};
    // What a refused query still answers, so that the remote board library is never left waiting.
    const QMap<QByteArray, QByteArray> refusedAnswers = {{"BOARD:OPEN?", "0"}, {"BOARD:WRITE?", "525"}};
    const std::vector<CommandInfo> table = commandTable();
    QVERIFY(table.size() > 20);
    for (const CommandInfo &row : table) {
        const QByteArray header = sendable(row.header);
        // The first parameters it takes without an error, run by a client that holds the board
        // (so that giving up a hold shows too).
        QByteArray command;
        QStringList changed;
        for (const QByteArray &params : pool) {
            freshBoard();
            Instrument i(m_session, false);
            QCOMPARE(run(i.s, "BOARD:OPEN? 1,0x44"), std::optional<QByteArray>("1"));
            QCOMPARE(calls(), QStringList{}); // joined
            const QByteArray candidate = params.isEmpty() ? header : header + ' ' + params;
            run(i.s, candidate);
            if (i.s.queuedErrors() == 0) {
                command = candidate;
                changed = changes();
                if (i.shared.holders() != 1)
                    changed << QStringLiteral("hold");
                break;
            }
        }
        QVERIFY2(!command.isEmpty(), row.header);
        // The table's mark says what the command does.
        QVERIFY2(row.changes == !changed.isEmpty(), qPrintable(command + ": " + changed.join(',')));

        freshBoard();
        Instrument readOnly(m_session, true);
        const std::optional<QByteArray> answer = run(readOnly.s, command);
        QVERIFY2(changes().isEmpty() && readOnly.shared.holders() == 0, command.constData());
        const QList<QByteArray> errors = drain(readOnly.s);
        if (row.changes) {
            QCOMPARE(errors, (QList<QByteArray>{"-203,\"Command protected;the server is read-only\""}));
            QCOMPARE(answer, refusedAnswers.contains(header) ? std::optional(refusedAnswers[header]) : std::nullopt);
        } else {
            QVERIFY2(errors.isEmpty(), command.constData());
        }
    }
}

void TestScpi::aCommandAtATime_data()
{
    const auto powerOn = [](int reg) { return QByteArray::number(evm::powerOnValue(reg)); };
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("commands");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("joined") << QByteArray("REG 0x46,10;REG? 0x46;:FIELD? DEMP;*OPC?") << 4 << QByteArray("10;0;1");
    // ALL is what REGister:ALL? answers after the same write.
    QTest::newRow("compound path") << QByteArray("REG:VAL 0x47,5;VAL? 0x47;ALL?;*IDN?") << 4
                                   << QByteArray("5;ALL;EVM Controller,CDX5170 EVM,1,1.0");
    QTest::newRow("a command error ends it") << QByteArray("REG 0x48,1;BOGUS;REG? 0x49") << 2 << QByteArray();
    QTest::newRow("an execution error does not") << QByteArray("REG 0x4B,999;REG? 0x4C") << 2 << powerOn(0x4C);
    QTest::newRow("empty commands") << QByteArray(" ;;REG? 0x48; ;\r") << 1 << powerOn(0x48);
    QTest::newRow("nothing") << QByteArray("") << 0 << QByteArray();
}

void TestScpi::aCommandAtATime()
{
    QFETCH(QByteArray, line);
    QFETCH(int, commands);
    QFETCH(QByteArray, answer);
    Instrument wholeLine(m_session, false), stepwise(m_session, false);
    Session &whole = wholeLine.s, &step = stepwise.s;
    if (answer.contains("ALL")) {
        freshBoard();
        Instrument probe(m_session, false);
        answer.replace("ALL", run(probe.s, "REG 0x47,5;:REGister:ALL?").value_or("none"));
    }
    const std::optional<QByteArray> expected = answer.isEmpty() ? std::nullopt : std::optional(answer);
    freshBoard();
    QCOMPARE(run(whole, line), expected);
    const QStringList wholeCalls = calls();

    // The same line a command at a time, from the same board, reaches it the same way.
    freshBoard();
    step.startLine(line.toStdString());
    int ran = 0;
    while (!step.lineDone()) {
        QVERIFY(step.runNext());
        ++ran;
    }
    QVERIFY(!step.runNext());
    QCOMPARE(ran, commands);
    QCOMPARE(bytes(step.takeAnswer()), expected);
    QCOMPARE(drain(step), drain(whole));
    QCOMPARE(calls(), wholeCalls);
}

void TestScpi::sharedBoardHolds()
{
    // As the server starts: the board opened on SPI.
    m_session.end();
    m_reset();
    QCOMPARE(m_session.open(evm::connectionSettingsFor(evm::SpiItem, 0)), evm::BoardSession::Status::Open);
    calls();
    evm::SharedBoard board(m_session);
    std::string refusal;
    {
        evm::SharedBoard::Client a(board), b(board);
        QCOMPARE(a.open(0, OSTREL_INTERFACE_SPI, 0, refusal), 1); // joined: no library call
        QVERIFY(a.holds() && refusal.empty());
        QCOMPARE(b.open(0, OSTREL_INTERFACE_IIC, 0x44, refusal), 0);
        QCOMPARE(refusal, std::string("the board is held under SPI by 1 client"));
        QVERIFY(!b.holds());
        QCOMPARE(b.session().read(0x46).code, 0); // the board stays open for everyone
        QCOMPARE(calls(), QStringList{"_readData(channel=0, reg=0x46) = 0 value=0x00"});

        a.close();
        refusal.clear();
        QCOMPARE(b.open(1, OSTREL_INTERFACE_IIC, 0x44, refusal), 1); // nobody else holds it: reopened
        QCOMPARE(calls(), (QStringList{"_close() = 0", "_init(port=1, interface=1, address=0x44, word56=3) = 1"}));
        {
            evm::SharedBoard::Client c(board);
            QCOMPARE(c.open(0, OSTREL_INTERFACE_IIC, 0x44, refusal), 1);
            QCOMPARE(board.holders(), 2);
            QCOMPARE(a.open(0, OSTREL_INTERFACE_SPI, 0, refusal), 0);
            QCOMPARE(refusal, std::string("the board is held under IIC at 0x44 by 2 clients"));
        }
        QCOMPARE(board.holders(), 1); // a client that goes gives up its hold
        QCOMPARE(calls(), QStringList{});
    }
    QCOMPARE(board.holders(), 0);
    evm::SharedBoard::Client d(board);
    refusal.clear();
    QCOMPARE(d.open(0, OSTREL_INTERFACE_SPI, 0, refusal), 1);
    QVERIFY(refusal.empty());
    QCOMPARE(calls(), (QStringList{"_close() = 0", "_init(port=0, interface=3, address=0x00, word56=3) = 1"}));
}

QTEST_GUILESS_MAIN(TestScpi)
#include "tst_scpi.moc"
