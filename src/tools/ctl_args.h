// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The command line of evm5170ctl: global options, one command and its arguments,
// and the help texts, all from one table of commands and one of options.
namespace ctl {

// 0 success; 1 only from diff, when the two sides differ; 2 any failure.
enum ExitCode { Success = 0, Differ = 1, Failure = 2 };

struct Call;

// One row of the command table (ctl_commands.cpp): what the help and the parser know of a
// command, and its handler.
struct Command {
    const char *name;
    const char *synopsis; // the arguments, as the usage line shows them
    int minArguments;
    int maxArguments;
    const char *summary;
    const char *details;
    int (*run)(Call &call); // null for help, which the parser turns into the help option
    std::string (*moreDetails)() = nullptr; // what follows details, made from another table
};

std::span<const Command> commands();
const Command *findCommand(std::string_view name);

struct Invocation;

// One row of the option table (ctl_args.cpp), which the parser, the help, the manual page and
// the shell completion all read.
struct Option {
    const char *name;      // without the leading --
    const char *valueName; // null for a switch
    const char *command;   // null for a global option
    const char *help;
    void (*apply)(Invocation &, const std::string &value);
};

std::span<const Option> options();

struct Invocation {
    const Command *command = nullptr; // null with help: the general help
    std::vector<std::string> arguments;
    bool help = false;
    bool version = false;
    std::optional<std::string> interface; // as given, not yet checked
    std::optional<std::string> address;
    bool trace = false;
    bool fields = false;       // dump
    bool settingsOnly = false; // diff
    bool check = false;        // run
    bool strict = false;       // run
    std::optional<std::string> format; // export
    bool changed = false;              // export
    std::optional<std::string> listen; // serve
    bool readOnly = false;
    std::optional<std::string> maxClients;
    std::vector<std::string> allow; // every --allow, in order
    std::optional<std::string> idleTimeout;
};

// The invocation, or a one-line usage error.
std::variant<Invocation, std::string> parseCommandLine(const std::vector<std::string> &arguments);

std::string generalHelp();
std::string commandHelp(const Command &command);

} // namespace ctl
