#include "fielddiff.h"
#include "fieldmath.h"
#include "inttext.h"
#include "script.h"

#include <QStringList>

#include <algorithm>

namespace evm {

std::vector<const RegisterField *> fieldsOfRegister(int reg)
{
    std::vector<const RegisterField *> out;
    for (const RegisterField &f : registerFields())
        if (f.reg == reg)
            out.push_back(&f);
    std::stable_sort(out.begin(), out.end(), [](const RegisterField *x, const RegisterField *y) { return x->shift > y->shift; });
    return out;
}

QString fieldValuesText(int reg, uint8_t value)
{
    QStringList parts;
    for (const RegisterField *f : fieldsOfRegister(reg))
        parts << QStringLiteral("%1=%2").arg(QLatin1String(f->name)).arg(fieldValue(value, f->shift, f->width));
    return parts.join(QLatin1Char(' '));
}

QByteArray annotatedSnapshotText(const RegisterValues &values)
{
    QByteArray out;
    for (int i = 0; i < RegisterCount; ++i) {
        const int reg = FirstRegister + i;
        out += registerLine(reg, values[i]).toLatin1();
        if (const QString fields = fieldValuesText(reg, values[i]); !fields.isEmpty())
            out += ", " + fields.toLatin1();
        out += "\r\n";
    }
    return out;
}

std::optional<QString> parseSnapshot(const QByteArray &bytes, RegisterValues &values)
{
    std::array<bool, RegisterCount> seen{};
    RegisterValues read{};
    const QStringList lines = splitScriptLines(bytes);
    for (int i = 0; i < lines.size(); ++i) {
        const ScriptRecord r = parseRecord(splitFields(lines[i]));
        const QString where = QStringLiteral("line %1: ").arg(i + 1);
        switch (r.kind) {
        case ScriptRecord::Skip:
            continue;
        case ScriptRecord::Sleep:
            return where + QStringLiteral("a pause has no place in a snapshot");
        case ScriptRecord::InvalidSleep:
        case ScriptRecord::InvalidRecord:
        case ScriptRecord::InvalidData:
            return where + recordMessage(r.kind);
        case ScriptRecord::Write:
            break;
        }
        if (!isChipRegister(r.reg))
            return where + QStringLiteral("0x%1 is not a register of the chip").arg(hexText(static_cast<uint32_t>(r.reg), 2));
        seen[r.reg - FirstRegister] = true;
        read[r.reg - FirstRegister] = static_cast<uint8_t>(r.value);
    }
    for (int i = 0; i < RegisterCount; ++i)
        if (!seen[i])
            return QStringLiteral("no line for register 0x%1").arg(hexText(FirstRegister + i, 2));
    values = read;
    return std::nullopt;
}

std::vector<RegisterDifference> compareRegisters(const RegisterValues &a, const RegisterValues &b, Comparison how)
{
    std::vector<RegisterDifference> out;
    for (int i = 0; i < RegisterCount; ++i) {
        if (a[i] == b[i])
            continue;
        const int reg = FirstRegister + i;
        RegisterDifference d{reg, a[i], b[i], {}};
        for (const RegisterField *f : fieldsOfRegister(reg)) {
            if (how == Comparison::SettingsOnly && f->kind != FieldKind::Setting)
                continue;
            const int va = fieldValue(a[i], f->shift, f->width);
            const int vb = fieldValue(b[i], f->shift, f->width);
            if (va != vb)
                d.fields.push_back({f, va, vb});
        }
        if (how == Comparison::SettingsOnly && d.fields.empty())
            continue;
        out.push_back(std::move(d));
    }
    return out;
}

QString differenceText(const RegisterDifference &d)
{
    QString text = QStringLiteral("0x%1: 0x%2 -> 0x%3").arg(hexText(d.reg, 2), hexText(d.a, 2), hexText(d.b, 2));
    QStringList fields;
    for (const FieldDifference &f : d.fields)
        fields << QStringLiteral("%1 %2 -> %3").arg(QLatin1String(f.field->name)).arg(f.a).arg(f.b);
    if (!fields.isEmpty())
        text += QStringLiteral("  ") + fields.join(QStringLiteral(", "));
    return text;
}

} // namespace evm
