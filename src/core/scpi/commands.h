// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "ostrel_abi.h"
#include "registers.h"
#include "scpi/parser.h"
#include "scpi/status.h"
#include "sharedboard.h"

#include <cerrno>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The instrument's command table: each command's header, its parameters, whether it may change
// the board for the other clients, and its handler. The instrument's own commands are in
// commands.cpp, the remote board library's in board_commands.cpp.
namespace evm::scpi {

struct Options {
    bool readOnly = false;      // refuse every command that changes the chip, a line or the board (-203)
    std::string programVersion; // the fourth field of *IDN?
};

// What a handler is given: the client's status and hold on the board, its parameters, and
// where its answer goes. The helpers fail the command the SCPI way.
struct Call {
    Status &status;
    SharedBoard::Client &board;
    const Options &options;
    const std::vector<std::string_view> &params;
    std::optional<std::string> &response;

    BoardSession &session() { return board.session(); }
    void answer(std::string text) { response = std::move(text); }

    // Parameter index as a number: a syntax error when it is none.
    int64_t number(size_t index) const;
    // The same, and in min..max.
    int64_t integer(size_t index, int64_t min, int64_t max) const;
    int chipRegister(size_t index) const;
    const RegisterField &field(size_t index) const;
    // A chip register, a hardware error when the library fails.
    uint8_t readChip(int reg);
    void writeChip(int reg, uint8_t value);
};

// The errors of a parameter that is no number, or one outside min..max.
[[noreturn]] void failNotANumber(std::string_view text);
[[noreturn]] void failOutOfRange(std::string_view text, int64_t min, int64_t max);
// "RDERR0101": the library's code after the kind of access, as a hardware error's text.
std::string accessFailure(const char *kind, int32_t code);

// Whether a command may change the chip, a line or the board for the other clients; a
// read-only server refuses those (-203) before their handler runs.
enum class Effect { Own, Shared };

struct CommandRow {
    const char *header;
    int minParams;
    int maxParams;
    Effect effect;
    // What a refused query still answers, so that a board library waiting on it gets an answer.
    std::optional<int32_t> refusedAnswer;
    void (*run)(Call &call);
    const char *usage; // its parameters as the help shows them, e.g. "REG,VALUE"; nullptr: none
};

// Short names for the rows of the two tables.
namespace rows {
inline constexpr Effect Own = Effect::Own;
inline constexpr Effect Shared = Effect::Shared;
inline constexpr std::nullopt_t None = std::nullopt;
} // namespace rows

std::span<const CommandRow> instrumentCommands();
std::span<const CommandRow> boardCommands();

// The row of the whole table that a unit's header (with these mnemonics) names, or null.
const CommandRow *findCommand(const Parsed &unit, const std::vector<std::string> &mnemonics);

// What a read-only server answers to BOARD:WRITE?, so that the remote board library gets an
// answer instead of a silence: the shared system-error code plus EACCES.
constexpr int32_t ReadOnlyWriteCode = OSTREL_SYSTEM_ERROR + EACCES;

// The command table as tests walk it: each header (as "REGister[:VALue]?") and whether the
// command may change the chip, a line or the board for the other clients.
struct CommandInfo {
    const char *header;
    bool changes;
};
std::vector<CommandInfo> commandTable();

// Every command with its parameters, wrapped for a help text, each line indented by two.
std::string commandListHelp();

} // namespace evm::scpi
