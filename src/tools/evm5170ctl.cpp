// SPDX-License-Identifier: GPL-3.0-or-later
// evm5170ctl: the board from the command line, one command a run, for lab automation.
#include "ctl_commands.h"

#include <clocale>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char *argv[])
{
    // The system's own messages (a file's error, the loader's) in the user's language.
    std::setlocale(LC_ALL, "");
#ifdef _WIN32
    // Standard input and output carry bytes as they are, as on other systems: a snapshot
    // written to "-" keeps its CR LF (text mode would make it CR CR LF), a script read from "-"
    // does not end at a Ctrl+Z, and the tool's lines are the same bytes a script gets on Linux.
    // Messages on standard error stay text for the console.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stdin), _O_BINARY);
#endif
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    // Each write goes out at once, so a write that cannot reach its file shows where it happens.
    std::cout << std::unitbuf;
    evm::BoardSession session;
    ctl::Context context{session, std::cout, std::cerr};
    return ctl::runCommand(context, arguments);
}
