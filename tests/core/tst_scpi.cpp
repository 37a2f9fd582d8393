// The instrument's command table against a read-only session, a line run a command at a time
// as the server runs it, and the server's shared board over the simulated board (loaded by the
// program's loader, its call log checked in order).
#include "boardlib.h"
#include "scpi.h"
#include "sharedboard.h"

#include <QLibrary>
#include <QtTest>

using namespace evm::scpi;

namespace {

// A board that notes every call, and whether any could change something for others.
class RecordingBoard : public Board
{
public:
    int32_t port() const override { return 1; }
    int32_t open(int32_t, int32_t, int32_t, std::string &) override { return note("open", 1); }
    void close() override { note("close", 0); }
    int32_t read(int32_t, int32_t, uint8_t &value) override
    {
        value = 0x40;
        return 0;
    }
    int32_t write(int32_t, int32_t, uint8_t) override { return note("write", 0); }
    int32_t version() override { return 0x1000; }

    QStringList changes;

private:
    int32_t note(const char *what, int32_t result)
    {
        changes << QLatin1String(what);
        return result;
    }
};

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
        out << s.nextError();
    return out;
}

} // namespace

class TestScpi : public QObject
{
    Q_OBJECT

private slots:
    void readOnlyRefusesWhatChangesTheBoard();
    void aCommandAtATime_data();
    void aCommandAtATime();
    void sharedBoardHolds();
};

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
        // The first parameters it takes without an error.
        QByteArray command;
        QStringList changes;
        for (const QByteArray &params : pool) {
            RecordingBoard board;
            Session s(board, Options{false, "1.0"});
            const QByteArray candidate = params.isEmpty() ? header : header + ' ' + params;
            s.execute(candidate);
            if (s.queuedErrors() == 0) {
                command = candidate;
                changes = board.changes;
                break;
            }
        }
        QVERIFY2(!command.isEmpty(), row.header);
        // The table's mark says what the command does.
        QVERIFY2(row.changes == !changes.isEmpty(), qPrintable(command + ": " + changes.join(',')));

        RecordingBoard board;
        Session readOnly(board, Options{true, "1.0"});
        const std::optional<QByteArray> answer = readOnly.execute(command);
        QVERIFY2(board.changes.isEmpty(), command.constData());
        const QList<QByteArray> errors = drain(readOnly);
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
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("commands");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("joined") << QByteArray("REG 0x46,10;REG? 0x46;:FIELD? DEMP;*OPC?") << 4 << QByteArray("64;0;1");
    QTest::newRow("compound path") << QByteArray("REG:VAL 0x47,5;VAL? 0x47;ALL?;*IDN?") << 4
                                   << "64;" + QByteArray("64,").repeated(30) + "64;EVM Controller,CDX5170 EVM,1,1.0";
    QTest::newRow("a command error ends it") << QByteArray("REG 0x48,1;BOGUS;REG? 0x49") << 2 << QByteArray();
    QTest::newRow("an execution error does not") << QByteArray("REG 0x4B,999;REG? 0x4C") << 2 << QByteArray("64");
    QTest::newRow("empty commands") << QByteArray(" ;;REG? 0x48; ;\r") << 1 << QByteArray("64");
    QTest::newRow("nothing") << QByteArray("") << 0 << QByteArray();
}

void TestScpi::aCommandAtATime()
{
    QFETCH(QByteArray, line);
    QFETCH(int, commands);
    QFETCH(QByteArray, answer);
    RecordingBoard wholeBoard, stepBoard;
    Session whole(wholeBoard, Options{false, "1.0"});
    Session step(stepBoard, Options{false, "1.0"});
    const std::optional<QByteArray> expected = answer.isEmpty() ? std::nullopt : std::optional(answer);
    QCOMPARE(whole.execute(line), expected);

    // Another line of another client between two commands changes nothing of this one.
    step.startLine(line);
    int ran = 0;
    while (!step.lineDone()) {
        QVERIFY(step.runNext());
        ++ran;
    }
    QVERIFY(!step.runNext());
    QCOMPARE(ran, commands);
    QCOMPARE(step.takeAnswer(), expected);
    QCOMPARE(drain(step), drain(whole));
    QCOMPARE(stepBoard.changes, wholeBoard.changes);
}

void TestScpi::sharedBoardHolds()
{
    evm::BoardLibrary library;
    QCOMPARE(library.loadFile(OSTREL_SIM_PATH), evm::BoardLibrary::LoadStatus::Loaded);
    QLibrary api(QStringLiteral(OSTREL_SIM_PATH)); // the same loaded library, for its test calls
    QVERIFY(api.load());
    const auto reset = reinterpret_cast<void (*)()>(api.resolve("ostrel_sim_reset"));
    const auto clearLog = reinterpret_cast<void (*)()>(api.resolve("ostrel_sim_clear_log"));
    const auto log = reinterpret_cast<const char *(*)()>(api.resolve("ostrel_sim_log"));
    QVERIFY(reset && clearLog && log);
    reset();
    auto calls = [&] {
        const QStringList lines = QString::fromLatin1(log()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        clearLog();
        return lines;
    };

    // As the server starts: the board opened on SPI.
    evm::ConnectionSettings spi;
    spi.interfaceCode = OSTREL_INTERFACE_SPI;
    spi.word56 = 3;
    QCOMPARE(library.init(0, &spi), 1);
    calls();
    SharedBoard board(library, spi, 1);
    std::string refusal;
    {
        SharedBoard::Client a(board), b(board);
        QCOMPARE(a.open(0, OSTREL_INTERFACE_SPI, 0, refusal), 1); // joined: no library call
        QVERIFY(a.holds() && refusal.empty());
        QCOMPARE(b.open(0, OSTREL_INTERFACE_IIC, 0x44, refusal), 0);
        QCOMPARE(refusal, std::string("the board is held under SPI by 1 client"));
        QVERIFY(!b.holds());
        uint8_t value = 0xFF;
        QCOMPARE(b.read(OSTREL_CHANNEL_CHIP, 0x46, value), 0); // the board stays open for everyone
        QCOMPARE(calls(), QStringList{"_readData(channel=0, reg=0x46) = 0 value=0x00"});

        a.close();
        refusal.clear();
        QCOMPARE(b.open(1, OSTREL_INTERFACE_IIC, 0x44, refusal), 1); // nobody else holds it: reopened
        QCOMPARE(calls(), (QStringList{"_close() = 0", "_init(port=1, interface=1, address=0x44, word56=3) = 1"}));
        {
            SharedBoard::Client c(board);
            QCOMPARE(c.open(0, OSTREL_INTERFACE_IIC, 0x44, refusal), 1);
            QCOMPARE(board.holders(), 2);
            QCOMPARE(a.open(0, OSTREL_INTERFACE_SPI, 0, refusal), 0);
            QCOMPARE(refusal, std::string("the board is held under IIC at 0x44 by 2 clients"));
        }
        QCOMPARE(board.holders(), 1); // a client that goes gives up its hold
        QCOMPARE(calls(), QStringList{});
    }
    QCOMPARE(board.holders(), 0);
    SharedBoard::Client d(board);
    refusal.clear();
    QCOMPARE(d.open(0, OSTREL_INTERFACE_SPI, 0, refusal), 1);
    QVERIFY(refusal.empty());
    QCOMPARE(calls(), (QStringList{"_close() = 0", "_init(port=0, interface=3, address=0x00, word56=3) = 1"}));
    library.close();
}

QTEST_GUILESS_MAIN(TestScpi)
#include "tst_scpi.moc"
