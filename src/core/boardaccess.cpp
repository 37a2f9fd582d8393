// SPDX-License-Identifier: GPL-3.0-or-later
#include "boardaccess.h"

#include "fieldmath.h"

namespace evm {

FieldRead readField(BoardSession &session, const RegisterField &field)
{
    const BoardSession::Access a = session.read(field.reg);
    return {a.code, fieldValue(a.value, field.shift, field.width)};
}

FieldValueCheck checkFieldValue(const RegisterField &field, std::optional<int64_t> value)
{
    FieldValueCheck check;
    check.top = fieldMask(field.width);
    if (field.kind == FieldKind::StatusFlag) {
        check.kind = FieldValueCheck::Kind::Refused;
        check.refusal = field.name + std::string(" is a status flag of the chip and cannot be set");
    } else if (field.kind == FieldKind::ResetTrigger) {
        check.kind = FieldValueCheck::Kind::Refused;
        check.refusal = field.name + std::string(" is a reset trigger, not a setting; write register 0x40 to start a reset");
    } else if (!value) {
        check.kind = FieldValueCheck::Kind::NotANumber;
    } else if (*value < 0 || *value > check.top) {
        check.kind = FieldValueCheck::Kind::OutOfRange;
    }
    return check;
}

FieldWrite writeField(BoardSession &session, const RegisterField &field, int value)
{
    FieldWrite w;
    const BoardSession::Access read = session.read(field.reg);
    if (read.code != 0) {
        w.kind = FieldWrite::Kind::ReadFailed;
        w.code = read.code;
        return w;
    }
    w.byte = mergeField(readModifyWriteBase(field.reg, read.value), field.shift, field.width, value);
    w.code = session.write(field.reg, w.byte);
    if (w.code != 0)
        w.kind = FieldWrite::Kind::WriteFailed;
    return w;
}

RegistersRead readAllRegisters(BoardSession &session)
{
    RegistersRead r;
    for (int i = 0; i < RegisterCount; ++i) {
        const BoardSession::Access a = session.read(FirstRegister + i);
        if (a.code != 0) {
            r.code = a.code;
            r.failedRegister = FirstRegister + i;
            return r;
        }
        r.values[size_t(i)] = a.value;
    }
    return r;
}

} // namespace evm
