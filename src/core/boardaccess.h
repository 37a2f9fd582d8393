// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "boardsession.h"
#include "fielddiff.h"
#include "registers.h"

#include <cstdint>
#include <optional>
#include <string>

// What the tool's commands and the instrument server's commands do to a board, written once:
// a field read and set by name, and every register read. Each front end words the outcome its
// own way; the steps and their order are these.
namespace evm {

// A field as the chip holds it: its register read, the field taken out.
struct FieldRead {
    int32_t code = 0; // the library's code of the read; the value counts only when 0
    int value = 0;
};
FieldRead readField(BoardSession &session, const RegisterField &field);

// What keeps value from being set into the field by name, checked before the board is
// reached: a status flag of the chip or a reset trigger (refusal), a text that was no number
// (no value), a value outside 0..top.
struct FieldValueCheck {
    enum class Kind { Settable, Refused, NotANumber, OutOfRange } kind = Kind::Settable;
    std::string refusal; // Refused
    int top = 0;         // the largest value the field takes
};
FieldValueCheck checkFieldValue(const RegisterField &field, std::optional<int64_t> value);

// The read-modify-write of a field whose value passed checkFieldValue: the register read,
// the value merged into the bits the program keeps (no status flag, never a reset), written.
struct FieldWrite {
    enum class Kind { Done, ReadFailed, WriteFailed } kind = Kind::Done;
    int32_t code = 0; // the library's code of the failed access
    uint8_t byte = 0; // what was written (or refused)
};
FieldWrite writeField(BoardSession &session, const RegisterField &field, int value);

// Registers 0x40..0x5E read in order, up to the first that fails.
struct RegistersRead {
    RegisterValues values{};
    int32_t code = 0;      // 0 when all were read
    int failedRegister = 0;
};
RegistersRead readAllRegisters(BoardSession &session);

} // namespace evm
