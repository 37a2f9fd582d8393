#pragma once
#include "ctl_args.h"

// The commands of evm5170ctl. Each checks its arguments before it touches the board,
// prints its result on standard output and any failure as one line on standard error,
// and returns the exit status.
namespace ctl {

int runCommand(const Invocation &invocation);

// "evm5170ctl: " and the message on standard error, as one line.
void printError(const QString &message);

} // namespace ctl
