// SPDX-License-Identifier: GPL-3.0-or-later
// The file that keeps the simulated chip's registers from one run to the next, as a powered
// board would (OSTREL_SIM_STATE): a register snapshot, "0x47, 0xFF" lines.
//
// Several runs may share one file (the window holding the board open, the tool run from
// scripts in parallel). The file is locked (flock, on Windows LockFileEx, on "<file>.lock" beside it) only while it
// is read at _init and while it is written at _close, never for a whole session: a window
// that keeps the board open for an hour must not stall the tool for that hour. So that
// overlapping sessions lose nothing of each other's, a save lays the registers this session
// changed over what the file holds by then; the one closed last wins a register both changed.
// Every session starts from the file as last saved, since it is read at _init.
#pragma once

#include "chip.h"

#include <array>
#include <cstdint>
#include <string>

namespace ostrel {

using Registers = std::array<uint8_t, Chip::kRegisterCount>;

// The stored bytes of 0x40..0x5E, in order.
Registers storedRegisters(const Chip &chip);

// Sets the chip's registers to the file's: power-on values where it has none, and wholly when
// it is missing or not a regular file, or malformed (reported on stderr). Lines stay.
void loadState(const std::string &path, Chip &chip);

// Writes the snapshot: what the file holds now, with every register where chip differs from
// loaded (what loadState gave this session) taken from chip. The file is replaced whole
// (a symbolic link stays a link, its target replaced; permissions kept), a device or FIFO
// written in place; a failure is reported on stderr and leaves the file as it was.
void saveState(const std::string &path, const Chip &chip, const Registers &loaded);

// The file's identity and last change, to tell when another run has saved it since.
struct StateStamp {
    unsigned long long device = 0, inode = 0, size = 0;
    long long seconds = 0, nanoseconds = 0;
    bool operator==(const StateStamp &) const = default;
};
// The stamp of the file a path names; all zero when there is no regular file.
StateStamp stateStamp(const std::string &path);

// Another run saved the file meanwhile (the tool, a server's board): the registers it changed
// against loaded are laid over the chip, and loaded follows the file, so this session's own
// changes of other registers stay and are saved at its close as before.
void followState(const std::string &path, Chip &chip, Registers &loaded);

// Where the registers are kept when OSTREL_SIM_STATE is unset: evm5170/sim-state.csv in the
// user's state folder ($XDG_STATE_HOME when it is an absolute path, else ~/.local/state), so that
// an installed window and tool see one chip between runs. Empty when there is no home to use.
std::string defaultStatePath();

// Makes the folders of path that are missing, each private to the user (0700), as the state
// folder is meant to be; an existing folder, or a symbolic link to one, is used as it is.
// false, reported on stderr, when it cannot: the file is then read as missing and not saved.
bool makeStateFolder(const std::string &path);

} // namespace ostrel
