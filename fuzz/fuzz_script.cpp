// SPDX-License-Identifier: GPL-3.0-or-later
// Register scripts: the file split into lines, each line into fields, each record parsed, and
// the run over the whole file.
#include "check.h"
#include "inttext.h"
#include "script.h"

#include <QRegularExpression>

using namespace evm;

namespace {

bool isBlank(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}

void checkLines(const QByteArray &bytes, const QStringList &lines)
{
    // No line holds a line break, and together with the breaks they are the whole file.
    QByteArray withoutBreaks = bytes;
    withoutBreaks.replace('\r', QByteArray()).replace('\n', QByteArray());
    FUZZ_CHECK(lines.join(QString()).toLatin1() == withoutBreaks, QString());
    qsizetype breaks = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')))
            ++breaks;
    }
    const bool tail = !bytes.isEmpty() && bytes.back() != '\n' && bytes.back() != '\r';
    FUZZ_CHECK(lines.size() == breaks + (tail ? 1 : 0), QStringLiteral("%1 lines, %2 breaks").arg(lines.size()).arg(breaks));
}

void checkFields(QStringView line, const QStringList &fields)
{
    qsizetype chars = 0;
    for (const QString &f : fields)
        chars += f.size();
    FUZZ_CHECK(chars <= line.size(), line.toString());

    bool allBlank = true;
    for (QChar c : line)
        allBlank = allBlank && isBlank(c);
    FUZZ_CHECK(fields.isEmpty() == allBlank, line.toString());

    if (line.contains(u'"'))
        return;
    // Without quotes a field is a run of characters that are neither blank nor comma, and the
    // fields that are not empty are exactly those runs.
    static const QRegularExpression separators(QStringLiteral("[\\x01-\\x20,]+"));
    QStringList runs = line.toString().split(separators, Qt::SkipEmptyParts);
    QStringList nonEmpty;
    for (const QString &f : fields)
        if (!f.isEmpty())
            nonEmpty << f;
    FUZZ_CHECK(nonEmpty == runs, line.toString());
}

void checkRecord(const QStringList &fields, const ScriptRecord &r)
{
    switch (r.kind) {
    case ScriptRecord::Skip:
        FUZZ_CHECK(fields.isEmpty(), QString());
        break;
    case ScriptRecord::Sleep:
        FUZZ_CHECK(fields.size() >= 2 && fields[0].compare(u"sleep", Qt::CaseInsensitive) == 0, fields.join(u'|'));
        FUZZ_CHECK(r.ms >= 0 && parseInteger(bytesOf(fields[1])) == r.ms, fields.join(u'|'));
        break;
    case ScriptRecord::Write: {
        FUZZ_CHECK(fields.size() >= 2, fields.join(u'|'));
        FUZZ_CHECK(parseInteger(bytesOf(fields[0])) == r.reg && parseInteger(bytesOf(fields[1])) == r.value, fields.join(u'|'));
        FUZZ_CHECK(r.value >= 0 && r.value <= 255, fields.join(u'|'));
        // The line the history and the snapshot write for it is a script line that repeats it.
        const std::string line = registerLine(uint32_t(r.reg), uint32_t(r.value));
        const ScriptRecord again = parseRecord(splitFields(line));
        FUZZ_CHECK(again.kind == ScriptRecord::Write && again.reg == r.reg && again.value == r.value, utf8(line));
        break;
    }
    case ScriptRecord::InvalidSleep:
    case ScriptRecord::InvalidRecord:
    case ScriptRecord::InvalidData:
        FUZZ_CHECK(!fields.isEmpty() && !recordMessage(r.kind).empty(), fields.join(u'|'));
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::vector<std::string> coreLines = splitScriptLines(bytes.toStdString());
    const QStringList lines = latin1List(coreLines);
    checkLines(bytes, lines);

    QList<ScriptRecord> records;
    for (const QString &line : lines) {
        const ExactBytes exact(bytesOf(line));
        const std::vector<std::string> coreFields = splitFields(exact.view());
        const QStringList fields = latin1List(coreFields);
        checkFields(line, fields);
        const ScriptRecord record = parseRecord(coreFields);
        checkRecord(fields, record);
        records << record;
    }

    // The run does what the records say, in order, and stops at the first faulty one.
    int writes = 0, sleeps = 0, nextProgress = 0;
    ScriptSink sink;
    sink.write = [&](int32_t, int32_t) { ++writes; };
    sink.sleep = [&](int32_t) { ++sleeps; }; // counted, never slept: no input can make a run hang here
    sink.progress = [&](int index) {
        FUZZ_CHECK(index == nextProgress, QString::number(index));
        ++nextProgress;
    };
    const ScriptResult result = runScriptLines(coreLines, sink);
    int expectedWrites = 0, expectedSleeps = 0, stopAt = 0;
    for (const ScriptRecord &r : records) {
        ++stopAt;
        if (r.kind == ScriptRecord::Write)
            ++expectedWrites;
        else if (r.kind == ScriptRecord::Sleep)
            ++expectedSleeps;
        else if (r.kind != ScriptRecord::Skip)
            break;
    }
    const bool stops = stopAt > 0 && records[stopAt - 1].kind != ScriptRecord::Write
        && records[stopAt - 1].kind != ScriptRecord::Sleep && records[stopAt - 1].kind != ScriptRecord::Skip;
    FUZZ_CHECK(result.stopped == stops, QString());
    FUZZ_CHECK(writes == expectedWrites && sleeps == expectedSleeps, QString());
    if (result.stopped) {
        FUZZ_CHECK(result.line == stopAt && result.linesRun == stopAt - 1 && nextProgress == stopAt, QString());
        FUZZ_CHECK(result.message == recordMessage(result.kind), utf8(result.message));
    } else {
        FUZZ_CHECK(result.linesRun == lines.size() && nextProgress == lines.size(), QString());
    }
    return 0;
}
