#pragma once
#include "registers.h"

#include <cstdint>
#include <string>

// Setting one field by name, as the tool's set and the instrument server's FIELD do it.
namespace evm {

// Why the field cannot be set by name (a status flag of the chip, a reset trigger), or an
// empty text when it can.
std::string fieldSetRefusal(const RegisterField &field);

// The byte that puts value (0..fieldMask(width)) into the field, given the register as the
// chip returned it: the other kept bits as they are, no status flag, never a reset.
uint8_t fieldSetByte(const RegisterField &field, uint8_t chipValue, int value);

} // namespace evm
