// SPDX-License-Identifier: GPL-3.0-or-later
#include "scpi/commands.h"

#include "boardaccess.h"
#include "inttext.h"
#include "scpi/errors.h"
#include "scpi/remote_protocol.h"

namespace evm::scpi {

[[noreturn]] void failNotANumber(std::string_view text)
{
    fail(SyntaxError, quoted(text) + " is not a number");
}

[[noreturn]] void failOutOfRange(std::string_view text, int64_t min, int64_t max)
{
    fail(DataOutOfRange, quoted(text) + " is outside " + std::to_string(min) + ".." + std::to_string(max));
}

std::string accessFailure(const char *kind, int32_t code)
{
    return kind + hexText(uint32_t(code), 4);
}

int64_t Call::number(size_t index) const
{
    const std::optional<int64_t> v = parseNumber(params[index]);
    if (!v)
        failNotANumber(params[index]);
    return *v;
}

int64_t Call::integer(size_t index, int64_t min, int64_t max) const
{
    const int64_t v = number(index);
    if (v < min || v > max)
        failOutOfRange(params[index], min, max);
    return v;
}

int Call::chipRegister(size_t index) const
{
    const int64_t v = number(index);
    if (!isChipRegister(v))
        fail(DataOutOfRange, "register " + quoted(params[index]) + " is outside 0x40..0x5E");
    return int(v);
}

const RegisterField &Call::field(size_t index) const
{
    const std::string_view text = params[index];
    const RegisterField *f = findField(text);
    if (!f)
        fail(IllegalParameterValue, "unknown field " + quoted(text));
    return *f;
}

uint8_t Call::readChip(int reg)
{
    const BoardSession::Access a = session().read(reg);
    if (a.code != 0)
        fail(HardwareError, accessFailure("RDERR", a.code));
    return a.value;
}

void Call::writeChip(int reg, uint8_t value)
{
    if (const int32_t code = session().write(reg, value); code != 0)
        fail(HardwareError, accessFailure("WRERR", code));
}

namespace {

void idn(Call &c)
{
    c.answer("EVM Controller,CDX5170 EVM," + std::to_string(c.session().port()) + ',' + c.options.programVersion);
}

void rst(Call &c)
{
    // As the MRST button: bit 7 of 0x40 written as 0, the other bits as they are.
    c.writeChip(FirstRegister, readModifyWriteBase(FirstRegister, c.readChip(FirstRegister)) & 0x7F);
}

void cls(Call &c) { c.status.clear(); }
void opc(Call &c) { c.status.operationComplete(); }
void opcQuery(Call &c) { c.answer("1"); }
void nothing(Call &) {}
void esrQuery(Call &c) { c.answer(std::to_string(c.status.takeEventStatus())); }
void ese(Call &c) { c.status.eventEnable = uint8_t(c.integer(0, 0, 255)); }
void eseQuery(Call &c) { c.answer(std::to_string(c.status.eventEnable)); }
void sre(Call &c) { c.status.serviceEnable = uint8_t(c.integer(0, 0, 255)) & ~0x40; }
void sreQuery(Call &c) { c.answer(std::to_string(c.status.serviceEnable)); }
void stbQuery(Call &c) { c.answer(std::to_string(c.status.statusByte())); }
void tstQuery(Call &c) { c.answer("0"); }

void reg(Call &c)
{
    // The value is checked before the register: with both wrong, the value's error is the one
    // the server has always reported.
    const auto value = uint8_t(c.integer(1, 0, 255));
    c.writeChip(c.chipRegister(0), value);
}

void regQuery(Call &c) { c.answer(std::to_string(c.readChip(c.chipRegister(0)))); }

void regAllQuery(Call &c)
{
    const RegistersRead r = readAllRegisters(c.session());
    if (r.code != 0)
        fail(HardwareError, accessFailure("RDERR", r.code));
    std::string values;
    for (const uint8_t v : r.values) {
        if (!values.empty())
            values += ',';
        values += std::to_string(v);
    }
    c.answer(std::move(values));
}

void fieldSet(Call &c)
{
    const RegisterField &f = c.field(0);
    const std::string_view text = c.params[1];
    const std::optional<int64_t> value = parseNumber(text);
    const FieldValueCheck check = checkFieldValue(f, value);
    switch (check.kind) {
    case FieldValueCheck::Kind::Refused:
        fail(IllegalParameterValue, check.refusal);
    case FieldValueCheck::Kind::NotANumber:
        failNotANumber(text);
    case FieldValueCheck::Kind::OutOfRange:
        failOutOfRange(text, 0, check.top);
    case FieldValueCheck::Kind::Settable:
        break;
    }
    const FieldWrite w = writeField(c.session(), f, int(*value));
    if (w.kind == FieldWrite::Kind::ReadFailed)
        fail(HardwareError, accessFailure("RDERR", w.code));
    if (w.kind == FieldWrite::Kind::WriteFailed)
        fail(HardwareError, accessFailure("WRERR", w.code));
}

void fieldQuery(Call &c)
{
    const FieldRead r = readField(c.session(), c.field(0));
    if (r.code != 0)
        fail(HardwareError, accessFailure("RDERR", r.code));
    c.answer(std::to_string(r.value));
}

void line(Call &c)
{
    const auto pin = int32_t(c.integer(0, 0, OSTREL_LINE_COUNT - 1));
    const auto level = uint8_t(c.integer(1, 0, 255));
    if (const int32_t code = c.session().writeLine(pin, level); code != 0)
        fail(HardwareError, accessFailure("SPERR", code));
}

void errorQuery(Call &c) { c.answer(c.status.next()); }
void errorCountQuery(Call &c) { c.answer(std::to_string(c.status.queued())); }
void versionQuery(Call &c) { c.answer("1999.0"); }

using namespace rows;
constexpr CommandRow kInstrument[] = {
    {"*IDN?", 0, 0, Own, None, idn, nullptr},
    {"*RST", 0, 0, Shared, None, rst, nullptr},
    {remote::ClearStatus, 0, 0, Own, None, cls, nullptr},
    {"*OPC", 0, 0, Own, None, opc, nullptr},
    {"*OPC?", 0, 0, Own, None, opcQuery, nullptr},
    {"*WAI", 0, 0, Own, None, nothing, nullptr},
    {"*ESR?", 0, 0, Own, None, esrQuery, nullptr},
    {"*ESE", 1, 1, Own, None, ese, "MASK"},
    {"*ESE?", 0, 0, Own, None, eseQuery, nullptr},
    {"*SRE", 1, 1, Own, None, sre, "MASK"},
    {"*SRE?", 0, 0, Own, None, sreQuery, nullptr},
    {"*STB?", 0, 0, Own, None, stbQuery, nullptr},
    {"*TST?", 0, 0, Own, None, tstQuery, nullptr},
    {"REGister[:VALue]", 2, 2, Shared, None, reg, "REG,VALUE"},
    {"REGister[:VALue]?", 1, 1, Own, None, regQuery, "REG"},
    {"REGister:ALL?", 0, 0, Own, None, regAllQuery, nullptr},
    {"FIELD", 2, 2, Shared, None, fieldSet, "NAME,VALUE"},
    {"FIELD?", 1, 1, Own, None, fieldQuery, "NAME"},
    {"LINE", 2, 2, Shared, None, line, "LINE,LEVEL"},
    {remote::NextError, 0, 0, Own, None, errorQuery, nullptr},
    {"SYSTem:ERRor:COUNt?", 0, 0, Own, None, errorCountQuery, nullptr},
    {"SYSTem:VERSion?", 0, 0, Own, None, versionQuery, nullptr},
};

struct Compiled {
    const CommandRow *row;
    Pattern pattern;
};

const std::vector<Compiled> &compiledTable()
{
    static const std::vector<Compiled> table = [] {
        std::vector<Compiled> out;
        for (const std::span<const CommandRow> part : {instrumentCommands(), boardCommands()})
            for (const CommandRow &row : part)
                out.push_back({&row, compile(row.header)});
        return out;
    }();
    return table;
}

} // namespace

std::span<const CommandRow> instrumentCommands()
{
    return kInstrument;
}

const CommandRow *findCommand(const Parsed &u, const std::vector<std::string> &mnemonics)
{
    for (const Compiled &c : compiledTable()) {
        const Pattern &p = c.pattern;
        if (p.query != u.query || p.common.empty() != !u.common)
            continue;
        if (u.common ? p.common == mnemonics.front() : matchesNodes(p, mnemonics))
            return c.row;
    }
    return nullptr;
}

std::vector<CommandInfo> commandTable()
{
    std::vector<CommandInfo> out;
    for (const Compiled &c : compiledTable())
        out.push_back({c.row->header, c.row->effect == Effect::Shared});
    return out;
}

std::string commandListHelp()
{
    constexpr size_t kWidth = 80;
    std::string text;
    auto list = [&text](std::span<const CommandRow> rows) {
        std::string line = " ";
        for (const CommandRow &row : rows) {
            const std::string item = std::string(row.header) + (row.usage ? std::string(" ") + row.usage : std::string());
            if (line.size() > 1 && line.size() + 1 + item.size() > kWidth) {
                line.pop_back();
                text += line + '\n';
                line = " ";
            }
            line += ' ' + item + ' ';
        }
        line.pop_back();
        text += line + '\n';
    };
    list(instrumentCommands());
    text += "and the remote board library's, one for each of its entries:\n";
    list(boardCommands());
    return text;
}

} // namespace evm::scpi
