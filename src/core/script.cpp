#include "script.h"

#include "inttext.h"

#include <optional>

namespace evm {

QStringList splitScriptLines(const QByteArray &bytes)
{
    const QString text = QString::fromLatin1(bytes);
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

namespace {

bool isBlank(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}

} // namespace

QStringList splitFields(QStringView line)
{
    QStringList fields;
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (i < n && isBlank(line[i]))
        ++i;

    while (i < n) {
        if (line[i] == u'"') {
            QString field;
            ++i;
            while (i < n) {
                if (line[i] == u'"') {
                    if (i + 1 < n && line[i + 1] == u'"') {
                        field += u'"';
                        i += 2;
                        continue;
                    }
                    ++i; // the closing quote
                    break;
                }
                field += line[i];
                ++i;
            }
            fields.append(field);
        } else {
            const qsizetype start = i;
            while (i < n && !isBlank(line[i]) && line[i] != u',')
                ++i;
            fields.append(line.mid(start, i - start).toString());
        }

        while (i < n && isBlank(line[i]))
            ++i;
        if (i < n && line[i] == u',') {
            if (i + 1 == n)
                fields.append(QString());
            ++i;
            while (i < n && isBlank(line[i]))
                ++i;
        }
    }
    return fields;
}

namespace {

bool isSleepKeyword(const QString &field)
{
    static constexpr char16_t keyword[] = u"sleep";
    if (field.size() != 5)
        return false;
    for (qsizetype i = 0; i < 5; ++i) {
        char16_t c = field[i].unicode();
        // Only A..Z fold; a locale's own case rules (a Turkish dotless i, say) must not change a keyword.
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c - u'A' + u'a');
        if (c != keyword[i])
            return false;
    }
    return true;
}

} // namespace

ScriptRecord parseRecord(const QStringList &fields)
{
    if (fields.isEmpty())
        return {ScriptRecord::Skip};

    if (isSleepKeyword(fields[0])) {
        const std::optional<int32_t> ms = fields.size() >= 2 ? parseInteger(fields[1]) : std::nullopt;
        if (!ms || *ms < 0)
            return {ScriptRecord::InvalidSleep};
        ScriptRecord r{ScriptRecord::Sleep};
        r.ms = *ms;
        return r;
    }

    if (fields.size() < 2)
        return {ScriptRecord::InvalidRecord};
    const std::optional<int32_t> reg = parseInteger(fields[0]);
    const std::optional<int32_t> value = parseInteger(fields[1]);
    if (!reg || !value)
        return {ScriptRecord::InvalidRecord};
    if (*value < 0 || *value > 255)
        return {ScriptRecord::InvalidData};
    ScriptRecord r{ScriptRecord::Write};
    r.reg = *reg;
    r.value = *value;
    return r;
}

QString recordMessage(ScriptRecord::Kind kind)
{
    switch (kind) {
    case ScriptRecord::InvalidSleep:
        return QStringLiteral("Invalid sleep time.");
    case ScriptRecord::InvalidRecord:
        return QStringLiteral("Invalid record was found on the Register setting file.");
    case ScriptRecord::InvalidData:
        return QStringLiteral("Invalid register data!");
    case ScriptRecord::Write:
    case ScriptRecord::Sleep:
    case ScriptRecord::Skip:
        break;
    }
    return QString();
}

ScriptResult runScriptLines(const QStringList &lines, const ScriptSink &sink)
{
    ScriptResult result;
    for (int i = 0; i < lines.size(); ++i) {
        if (sink.progress)
            sink.progress(i);
        const ScriptRecord record = parseRecord(splitFields(lines[i]));
        switch (record.kind) {
        case ScriptRecord::Write:
            if (sink.write)
                sink.write(record.reg, record.value);
            break;
        case ScriptRecord::Sleep:
            if (sink.sleep)
                sink.sleep(record.ms);
            break;
        case ScriptRecord::Skip:
            break;
        case ScriptRecord::InvalidSleep:
        case ScriptRecord::InvalidRecord:
        case ScriptRecord::InvalidData:
            result.stopped = true;
            result.line = i + 1;
            result.kind = record.kind;
            result.message = recordMessage(record.kind);
            return result;
        }
        ++result.linesRun;
    }
    return result;
}

} // namespace evm
