#pragma once
#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <variant>

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
};

std::span<const Command> commands();
const Command *findCommand(QStringView name);

struct Invocation {
    const Command *command = nullptr; // null with help: the general help
    QStringList arguments;
    bool help = false;
    std::optional<QString> interface; // as given, not yet checked
    std::optional<QString> address;
    bool trace = false;
    bool fields = false;       // dump
    bool settingsOnly = false; // diff
    bool check = false;        // run
    std::optional<QString> listen; // serve
    bool readOnly = false;
    std::optional<QString> maxClients;
    QStringList allow; // every --allow, in order
    std::optional<QString> idleTimeout;
};

// The invocation, or a one-line usage error.
std::variant<Invocation, QString> parseCommandLine(const QStringList &arguments);

QString generalHelp();
QString commandHelp(const Command &command);

} // namespace ctl
