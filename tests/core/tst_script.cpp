// SPDX-License-Identifier: GPL-3.0-or-later
#include "inttext.h"
#include "script.h"

#include <QRandomGenerator>
#include <QTest>

using namespace evm;

Q_DECLARE_METATYPE(evm::ScriptRecord::Kind)

namespace {

// The core's lines and fields as the test's Qt strings, one character a byte as the core takes them.
QStringList qtList(const std::vector<std::string> &texts)
{
    QStringList out;
    for (const std::string &t : texts)
        out << QString::fromLatin1(t);
    return out;
}

QStringList fieldsOf(const QString &line)
{
    return qtList(evm::splitFields(line.toLatin1().toStdString()));
}

// A sink that logs every call in order, so a test sees exactly what a run asked for.
struct RecordingSink
{
    QStringList log;
    ScriptSink sink()
    {
        return {
            [this](int32_t reg, int32_t value) {
                log << QStringLiteral("write %1 %2").arg(QString::fromStdString(hexText(reg, 2)), QString::fromStdString(hexText(value, 2)));
            },
            [this](int32_t ms) { log << QStringLiteral("sleep %1").arg(ms); },
            [this](int index) { log << QStringLiteral("line %1").arg(index); },
        };
    }
    QStringList calls() const // the log without the progress calls
    {
        QStringList out;
        for (const QString &entry : log)
            if (!entry.startsWith(u"line "))
                out << entry;
        return out;
    }
};

} // namespace

class TestScript : public QObject
{
    Q_OBJECT

private slots:
    void splitLines_data();
    void splitLines();
    void splitFields_data();
    void splitFields();
    void record_data();
    void record();
    void messages();
    void exampleScript();
    void run_data();
    void run();
    void emptySinkRunsDry();
    void hostileInputIsSafe();
};

void TestScript::splitLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("no final break") << QByteArray("a\nb") << QStringList{"a", "b"};
    QTest::newRow("final LF adds no line") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("lone CR") << QByteArray("a\rb\r") << QStringList{"a", "b"};
    QTest::newRow("empty middle line") << QByteArray("a\r\n\r\nb") << QStringList{"a", "", "b"};
    QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("CR CR LF is two breaks") << QByteArray("a\r\r\nb") << QStringList{"a", "", "b"};
    QTest::newRow("single break") << QByteArray("\n") << QStringList{""};
    QTest::newRow("two breaks") << QByteArray("\r\n\n") << QStringList{"", ""};
    QTest::newRow("Latin-1 bytes") << QByteArray("\xB5\xFF\n\x80")
                                   << QStringList{QStringLiteral("\u00B5\u00FF"), QStringLiteral("\u0080")};
    QTest::newRow("NUL kept") << QByteArray("a\0b\nc", 5) << QStringList{QString::fromLatin1("a\0b", 3), "c"};
}

void TestScript::splitLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QCOMPARE(qtList(splitScriptLines(bytes.toStdString())), lines);
}

void TestScript::splitFields_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("comma blank") << "0x41, 0x12" << QStringList{"0x41", "0x12"};
    QTest::newRow("comma") << "0x41,0x12" << QStringList{"0x41", "0x12"};
    QTest::newRow("blank") << "0x41 0x12" << QStringList{"0x41", "0x12"};
    QTest::newRow("two commas") << "0x41,,0x12" << QStringList{"0x41", "", "0x12"};
    QTest::newRow("leading comma") << ",0x12" << QStringList{"", "0x12"};
    QTest::newRow("final comma") << "0x41, 0x12," << QStringList{"0x41", "0x12", ""};
    QTest::newRow("final comma then blank") << "0x41, 0x12, " << QStringList{"0x41", "0x12"};
    QTest::newRow("commas and blanks only") << " , ," << QStringList{"", "", ""};
    QTest::newRow("empty line") << "" << QStringList();
    QTest::newRow("blank line") << " \t \x01\x1F" << QStringList();
    QTest::newRow("control codes are blanks") << "\t0x41\x1F,\x01 0x12 \r" << QStringList{"0x41", "0x12"};
    QTest::newRow("DEL is not a blank") << "a\x7F" "b" << QStringList{"a\x7F" "b"};
    QTest::newRow("quoted") << "\"0x41\", \"0x12\"" << QStringList{"0x41", "0x12"};
    QTest::newRow("comma and blank inside quotes") << "\"a, b\" c" << QStringList{"a, b", "c"};
    QTest::newRow("doubled quote") << "\"a\"\"b\"" << QStringList{"a\"b"};
    QTest::newRow("empty quotes") << "\"\",x" << QStringList{"", "x"};
    QTest::newRow("text right after closing quote") << "\"x\"y" << QStringList{"x", "y"};
    QTest::newRow("quote inside unquoted field") << "a\"b" << QStringList{"a\"b"};
    QTest::newRow("unterminated quote keeps all") << "\"abc, d" << QStringList{"abc, d"};
    QTest::newRow("unterminated after pair") << "\"ab\"\"" << QStringList{"ab\""};
    QTest::newRow("lone quote") << "\"" << QStringList{""};
}

void TestScript::splitFields()
{
    QFETCH(QString, line);
    QFETCH(QStringList, fields);
    QCOMPARE(fieldsOf(line), fields);
}

void TestScript::record_data()
{
    using K = ScriptRecord::Kind;
    QTest::addColumn<QString>("line");
    QTest::addColumn<K>("kind");
    QTest::addColumn<int>("a"); // register of a write, milliseconds of a sleep
    QTest::addColumn<int>("b"); // value of a write

    QTest::newRow("empty line") << "" << K::Skip << 0 << 0;
    QTest::newRow("blank line") << " \t " << K::Skip << 0 << 0;
    QTest::newRow("sleep") << "sleep, 100" << K::Sleep << 100 << 0;
    QTest::newRow("sleep any case, extra field") << "SLEEP,1000,settle" << K::Sleep << 1000 << 0;
    QTest::newRow("sleep hexadecimal") << "sleep, x10" << K::Sleep << 16 << 0;
    QTest::newRow("sleep zero") << "sLeEp 0" << K::Sleep << 0 << 0;
    QTest::newRow("sleep longest") << "sleep, 2147483647" << K::Sleep << 2147483647 << 0;
    QTest::newRow("sleep quoted") << "\"Sleep\", \"5\"" << K::Sleep << 5 << 0;
    QTest::newRow("sleep without length") << "sleep" << K::InvalidSleep << 0 << 0;
    QTest::newRow("sleep with empty length") << "sleep," << K::InvalidSleep << 0 << 0;
    QTest::newRow("sleep with unit") << "sleep, 10ms" << K::InvalidSleep << 0 << 0;
    QTest::newRow("sleep negative") << "sleep, -1" << K::InvalidSleep << 0 << 0;
    QTest::newRow("sleep all ones") << "sleep, 0xFFFFFFFF" << K::InvalidSleep << 0 << 0;
    QTest::newRow("not quite sleep") << "sleeps, 5" << K::InvalidRecord << 0 << 0;
    QTest::newRow("write") << "0x41, 0x12" << K::Write << 0x41 << 0x12;
    QTest::newRow("write 255") << "0x41, 255" << K::Write << 0x41 << 0xFF;
    QTest::newRow("write 0xff") << "0x41, 0xff" << K::Write << 0x41 << 0xFF;
    QTest::newRow("decimal") << "65, 18" << K::Write << 0x41 << 0x12;
    QTest::newRow("dollar, blank") << "$41 $12" << K::Write << 0x41 << 0x12;
    QTest::newRow("x prefixes") << "X41,x12" << K::Write << 0x41 << 0x12;
    QTest::newRow("quoted fields") << "\"0x41\", \"0x12\"" << K::Write << 0x41 << 0x12;
    QTest::newRow("comment after comma") << "0x41, 0x12, comment" << K::Write << 0x41 << 0x12;
    QTest::newRow("comment after blank") << "0x41 0x12 comment" << K::Write << 0x41 << 0x12;
    QTest::newRow("address outside the chip") << "0x30, 0x01" << K::Write << 0x30 << 0x01;
    QTest::newRow("negative address") << "-1, 0" << K::Write << -1 << 0;
    QTest::newRow("no value") << "0x41" << K::InvalidRecord << 0 << 0;
    QTest::newRow("empty value") << "0x41," << K::InvalidRecord << 0 << 0;
    QTest::newRow("junk value") << "0x41, 0x12z" << K::InvalidRecord << 0 << 0;
    QTest::newRow("empty address") << ", 0x12" << K::InvalidRecord << 0 << 0;
    QTest::newRow("header line") << "Register, Value" << K::InvalidRecord << 0 << 0;
    QTest::newRow("quoted leading space") << "0x41, \" 0x12\"" << K::Write << 0x41 << 0x12;
    QTest::newRow("quoted trailing space") << "0x41, \"0x12 \"" << K::InvalidRecord << 0 << 0;
    QTest::newRow("NUL in value") << QString::fromLatin1("0x41, 0x12\0", 11) << K::InvalidRecord << 0 << 0;
    QTest::newRow("bad address beats bad value") << "0x41z, 256" << K::InvalidRecord << 0 << 0;
    QTest::newRow("value 256") << "0x41, 256" << K::InvalidData << 0 << 0;
    QTest::newRow("value -1") << "0x41, -1" << K::InvalidData << 0 << 0;
    QTest::newRow("value all ones") << "0x41, 0xFFFFFFFF" << K::InvalidData << 0 << 0;
}

void TestScript::record()
{
    QFETCH(QString, line);
    QFETCH(ScriptRecord::Kind, kind);
    QFETCH(int, a);
    QFETCH(int, b);

    const ScriptRecord r = parseRecord(evm::splitFields(line.toLatin1().toStdString()));
    QCOMPARE(r.kind, kind);
    if (kind == ScriptRecord::Write) {
        QCOMPARE(r.reg, a);
        QCOMPARE(r.value, b);
    } else if (kind == ScriptRecord::Sleep) {
        QCOMPARE(r.ms, a);
    }
}

void TestScript::messages()
{
    QCOMPARE(recordMessage(ScriptRecord::InvalidSleep), std::string("Invalid sleep time."));
    QCOMPARE(recordMessage(ScriptRecord::InvalidRecord),
             std::string("Invalid record was found on the Register setting file."));
    QCOMPARE(recordMessage(ScriptRecord::InvalidData), std::string("Invalid register data!"));
    for (auto kind : {ScriptRecord::Write, ScriptRecord::Sleep, ScriptRecord::Skip})
        QVERIFY(recordMessage(kind).empty());
}

void TestScript::exampleScript()
{
    const QByteArray file = "0x40, 0xC1\r\n"
                            "0x41,0x06\r\n"
                            "sleep, 100\r\n"
                            "72 200\r\n"
                            "SLEEP,1000,settle\r\n"
                            "$44, 0XFF\r\n"
                            "0x4A, 0x1FF\r\n"
                            "0x4B, 0x00\r\n";
    RecordingSink rec;
    const ScriptResult result = runScriptLines(splitScriptLines(file.toStdString()), rec.sink());

    const QStringList expected{
        "line 0", "write 40 C1", "line 1", "write 41 06", "line 2", "sleep 100",
        "line 3", "write 48 C8", "line 4", "sleep 1000", "line 5", "write 44 FF",
        "line 6",
    };
    QCOMPARE(rec.log, expected);
    QVERIFY(result.stopped);
    QCOMPARE(result.line, 7);
    QCOMPARE(result.kind, ScriptRecord::InvalidData);
    QCOMPARE(result.message, std::string("Invalid register data!"));
    QCOMPARE(result.linesRun, 6);
}

void TestScript::run_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("stopLine"); // 0: ran to the end
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("linesRun");

    QTest::newRow("no lines") << QByteArray() << QStringList() << 0 << QString() << 0;
    QTest::newRow("stops at third line")
        << QByteArray("0x41, 1\n0x42, 2\n0x43\n0x44, 4\n")
        << QStringList{"write 41 01", "write 42 02"} << 3
        << "Invalid record was found on the Register setting file." << 2;
    QTest::newRow("header line") << QByteArray("Register, Value\r\n0x41, 0x12\r\n") << QStringList() << 1
                                 << "Invalid record was found on the Register setting file." << 0;
    QTest::newRow("blank lines are skipped")
        << QByteArray("0x41, 1\r\n\r\n   \r\n0x42, 2") << QStringList{"write 41 01", "write 42 02"} << 0
        << QString() << 4;
    QTest::newRow("negative sleep stops")
        << QByteArray("0x41, 1\rsleep, -5\r0x42, 2\r") << QStringList{"write 41 01"} << 2
        << "Invalid sleep time." << 1;
    QTest::newRow("sleep without length stops")
        << QByteArray("sleep\n0x41, 1") << QStringList() << 1 << "Invalid sleep time." << 0;
    QTest::newRow("value out of range writes nothing")
        << QByteArray("0x41, 1\n0x42, 256\n") << QStringList{"write 41 01"} << 2 << "Invalid register data!" << 1;

    QByteArray snapshot;
    QStringList snapshotWrites;
    for (int r = 0x40; r <= 0x5E; ++r) {
        snapshot += QByteArray::fromStdString(registerLine(r, 0xFF - r)) + "\r\n";
        snapshotWrites << QStringLiteral("write %1 %2").arg(QString::fromStdString(hexText(r, 2)), QString::fromStdString(hexText(0xFF - r, 2)));
    }
    QTest::newRow("snapshot file") << snapshot << snapshotWrites << 0 << QString() << 31;
}

void TestScript::run()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, calls);
    QFETCH(int, stopLine);
    QFETCH(QString, message);
    QFETCH(int, linesRun);

    RecordingSink rec;
    const std::vector<std::string> lines = splitScriptLines(file.toStdString());
    const ScriptResult result = runScriptLines(lines, rec.sink());
    QCOMPARE(rec.calls(), calls);
    QCOMPARE(result.stopped, stopLine != 0);
    QCOMPARE(result.line, stopLine);
    QCOMPARE(QString::fromStdString(result.message), message);
    QCOMPARE(result.linesRun, linesRun);

    // Progress comes once per line reached, in order, and never for a line after the stop.
    const int reached = stopLine ? stopLine : int(lines.size());
    QCOMPARE(rec.log.size() - rec.calls().size(), reached);
    QCOMPARE(rec.log.filter(QStringLiteral("line ")).value(reached - 1),
             reached ? QStringLiteral("line %1").arg(reached - 1) : QString());
}

void TestScript::emptySinkRunsDry()
{
    const ScriptResult result = runScriptLines({"0x41, 1", "sleep, 5", "0x41, 300"}, ScriptSink{});
    QVERIFY(result.stopped);
    QCOMPARE(result.line, 3);
    QCOMPARE(result.kind, ScriptRecord::InvalidData);
}

void TestScript::hostileInputIsSafe()
{
    // Garbage must come through as records like any other: no crash, no read past a line's end
    // (the sanitizer build watches for that), no field longer than its line.
    QList<QByteArray> files{
        QByteArray("\"", 1),
        QByteArray("\"\"\"", 3),
        QByteArray("\0\0\0,\0\n\0", 7),
        QByteArray(",,,,\"", 5),
        QByteArray("\"\r\"\n\"", 5),
    };
    QByteArray high;
    for (int c = 0x80; c <= 0xFF; ++c)
        high += char(c);
    files << high << ("0x41, " + high) << ("\"" + high);

    QRandomGenerator random(5170);
    for (int i = 0; i < 200; ++i) {
        QByteArray bytes(int(random.bounded(64)), Qt::Uninitialized);
        for (char &c : bytes)
            c = char(random.bounded(256));
        files << bytes;
    }

    for (const QByteArray &file : std::as_const(files)) {
        const std::vector<std::string> lines = splitScriptLines(file.toStdString());
        qsizetype total = 0;
        for (const std::string &line : lines) {
            total += qsizetype(line.size());
            QVERIFY(line.find('\r') == std::string::npos && line.find('\n') == std::string::npos);
            for (const std::string &field : evm::splitFields(line))
                QVERIFY(field.size() <= line.size());
        }
        QVERIFY(total <= file.size());
        RecordingSink rec;
        const ScriptResult result = runScriptLines(lines, rec.sink());
        QVERIFY(result.line >= 0 && result.line <= int(lines.size()));
        QCOMPARE(result.stopped, result.line != 0);
    }
}

QTEST_APPLESS_MAIN(TestScript)
#include "tst_script.moc"
