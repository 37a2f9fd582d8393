// SPDX-License-Identifier: GPL-3.0-or-later
#include "script.h"

#include "inttext.h"
#include "registers.h"

#include <optional>

namespace evm {

std::vector<std::string> splitScriptLines(std::string_view text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.emplace_back(text.substr(start));
    return lines;
}

namespace {

bool isBlank(char c)
{
    return c >= 1 && c <= 32;
}

} // namespace

std::vector<std::string> splitFields(std::string_view line)
{
    std::vector<std::string> fields;
    const size_t n = line.size();
    size_t i = 0;
    while (i < n && isBlank(line[i]))
        ++i;

    while (i < n) {
        if (line[i] == '"') {
            std::string field;
            ++i;
            while (i < n) {
                if (line[i] == '"') {
                    if (i + 1 < n && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i; // the closing quote
                    break;
                }
                field += line[i];
                ++i;
            }
            fields.push_back(std::move(field));
        } else {
            const size_t start = i;
            while (i < n && !isBlank(line[i]) && line[i] != ',')
                ++i;
            fields.emplace_back(line.substr(start, i - start));
        }

        while (i < n && isBlank(line[i]))
            ++i;
        if (i < n && line[i] == ',') {
            if (i + 1 == n)
                fields.emplace_back();
            ++i;
            while (i < n && isBlank(line[i]))
                ++i;
        }
    }
    return fields;
}

namespace {

bool isSleepKeyword(const std::string &field)
{
    static constexpr char keyword[] = "sleep";
    if (field.size() != 5)
        return false;
    for (size_t i = 0; i < 5; ++i) {
        char c = field[i];
        // Only A..Z fold; a locale's own case rules (a Turkish dotless i, say) must not change a keyword.
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != keyword[i])
            return false;
    }
    return true;
}

} // namespace

ScriptRecord parseRecord(const std::vector<std::string> &fields)
{
    if (fields.empty())
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

std::string recordMessage(ScriptRecord::Kind kind)
{
    switch (kind) {
    case ScriptRecord::InvalidSleep:
        return "Invalid sleep time.";
    case ScriptRecord::InvalidRecord:
        return "Invalid record was found on the Register setting file.";
    case ScriptRecord::InvalidData:
        return "Invalid register data!";
    case ScriptRecord::Write:
    case ScriptRecord::Sleep:
    case ScriptRecord::Skip:
        break;
    }
    return {};
}

std::string scriptWriteWarning(int32_t reg)
{
    const std::string name = "0x" + hexText(uint32_t(reg), 2);
    if (!isChipRegister(reg))
        return "register " + name + " is outside 0x40..0x5E; the chip has no such register";
    if (!isStatusFlagRegister(reg))
        return {};
    std::string first;
    std::string last;
    for (const RegisterField &f : registerFields())
        if (f.reg == reg) {
            if (first.empty())
                first = f.name;
            last = f.name;
        }
    return "register " + name + " holds status flags (" + first + ".." + last + ") and no setting; a write sets nothing";
}

ScriptResult runScriptLines(const std::vector<std::string> &lines, const ScriptSink &sink)
{
    ScriptResult result;
    for (int i = 0; i < int(lines.size()); ++i) {
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
