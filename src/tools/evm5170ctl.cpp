// SPDX-License-Identifier: GPL-3.0-or-later
// evm5170ctl: the board from the command line, one command a run, for lab automation.
#include "ctl_commands.h"

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    // The system's own messages (a file's error, the loader's) in the user's language.
    std::setlocale(LC_ALL, "");
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    // Each write goes out at once, so a write that cannot reach its file shows where it happens.
    std::cout << std::unitbuf;
    evm::BoardSession session;
    ctl::Context context{session, std::cout, std::cerr};
    return ctl::runCommand(context, arguments);
}
