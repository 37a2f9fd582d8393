#include "fieldset.h"

#include "board.h"
#include "fieldmath.h"

namespace evm {

std::string fieldSetRefusal(const RegisterField &field)
{
    if (field.kind == FieldKind::StatusFlag)
        return field.name + std::string(" is a status flag of the chip and cannot be set");
    if (field.kind == FieldKind::ResetTrigger)
        return field.name + std::string(" is a reset trigger, not a setting; write register 0x40 to start a reset");
    return {};
}

uint8_t fieldSetByte(const RegisterField &field, uint8_t chipValue, int value)
{
    return mergeField(readModifyWriteBase(field.reg, chipValue), field.shift, field.width, value);
}

} // namespace evm
