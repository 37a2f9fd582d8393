// SPDX-License-Identifier: GPL-3.0-or-later
#include "fielddiff.h"
#include "fieldmath.h"
#include "inttext.h"
#include "script.h"

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

std::string fieldValuesText(int reg, uint8_t value)
{
    std::string text;
    for (const RegisterField *f : fieldsOfRegister(reg)) {
        if (!text.empty())
            text += ' ';
        text += f->name;
        text += '=';
        text += std::to_string(fieldValue(value, f->shift, f->width));
    }
    return text;
}

std::string annotatedSnapshotText(const RegisterValues &values)
{
    std::string out;
    for (int i = 0; i < RegisterCount; ++i) {
        const int reg = FirstRegister + i;
        out += registerLine(reg, values[i]);
        if (const std::string fields = fieldValuesText(reg, values[i]); !fields.empty())
            out += ", " + fields;
        out += "\r\n";
    }
    return out;
}

std::optional<std::string> parseSnapshot(std::string_view bytes, RegisterValues &values)
{
    std::array<bool, RegisterCount> seen{};
    RegisterValues read{};
    const std::vector<std::string> lines = splitScriptLines(bytes);
    for (size_t i = 0; i < lines.size(); ++i) {
        const ScriptRecord r = parseRecord(splitFields(lines[i]));
        const std::string where = "line " + std::to_string(i + 1) + ": ";
        switch (r.kind) {
        case ScriptRecord::Skip:
            continue;
        case ScriptRecord::Sleep:
            return where + "a pause has no place in a snapshot";
        case ScriptRecord::InvalidSleep:
        case ScriptRecord::InvalidRecord:
        case ScriptRecord::InvalidData:
            return where + recordMessage(r.kind);
        case ScriptRecord::Write:
            break;
        }
        if (!isChipRegister(r.reg))
            return where + "0x" + hexText(static_cast<uint32_t>(r.reg), 2) + " is not a register of the chip";
        seen[r.reg - FirstRegister] = true;
        read[r.reg - FirstRegister] = static_cast<uint8_t>(r.value);
    }
    for (int i = 0; i < RegisterCount; ++i)
        if (!seen[i])
            return "no line for register 0x" + hexText(FirstRegister + i, 2);
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

std::string differenceText(const RegisterDifference &d)
{
    std::string text = "0x" + hexText(d.reg, 2) + ": 0x" + hexText(d.a, 2) + " -> 0x" + hexText(d.b, 2);
    for (size_t i = 0; i < d.fields.size(); ++i) {
        const FieldDifference &f = d.fields[i];
        text += i == 0 ? "  " : ", ";
        text += f.field->name;
        text += ' ';
        text += std::to_string(f.a);
        text += " -> ";
        text += std::to_string(f.b);
    }
    return text;
}

} // namespace evm
