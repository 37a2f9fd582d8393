// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "ctl_args.h"

#include "boardsession.h"

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// The commands of evm5170ctl. Each checks its arguments before it touches the board,
// writes its result to the context's output and any failure as one line to its error
// stream, and returns the exit status. They run in-process: the program runs one
// command a run on its own standard streams, tests and a server run them on theirs.
namespace ctl {

// Where commands run: the board session they share, one command after another, and
// the two streams they write to.
struct Context {
    evm::BoardSession &session;
    std::ostream &out;
    std::ostream &err;
    // false: the board is closed after every command (the program, one command a run).
    // true: it stays open for the next command, unless it failed; a failed or lost board
    // is opened anew by the next command that needs it.
    bool keepOpen = false;
};

class Board;

// What a handler is given: its context, its invocation, and the board as this command sees
// it (its interface options, opened on first use).
struct Call {
    Context &context;
    const Invocation &invocation;
    Board &board;
};

// Parses the arguments (without the program's name) and runs the command; a usage error
// is one line on the error stream and status 2.
int runCommand(Context &context, const std::vector<std::string> &arguments);
int runCommand(Context &context, const Invocation &invocation);

// "evm5170ctl: " and the message, as one line.
void printError(std::ostream &err, std::string_view message);

} // namespace ctl
