#include "fieldset.h"

#include "board.h"
#include "fieldmath.h"

namespace evm {

QString fieldSetRefusal(const RegisterField &field)
{
    if (field.kind == FieldKind::StatusFlag)
        return QStringLiteral("%1 is a status flag of the chip and cannot be set").arg(QLatin1String(field.name));
    if (field.kind == FieldKind::ResetTrigger)
        return QStringLiteral("%1 is a reset trigger, not a setting; write register 0x40 to start a reset")
            .arg(QLatin1String(field.name));
    return QString();
}

uint8_t fieldSetByte(const RegisterField &field, uint8_t chipValue, int value)
{
    return mergeField(readModifyWriteBase(field.reg, chipValue), field.shift, field.width, value);
}

} // namespace evm
