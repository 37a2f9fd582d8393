// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctl_args.h"

#include "inttext.h"

#include <cstring>

namespace ctl {

namespace {

const Option kOptions[] = {
    {"interface", "iic|spi", nullptr, "the serial interface, instead of the settings file's",
     [](Invocation &i, const std::string &v) { i.interface = v; }},
    {"address", "ADDR", nullptr, "the IIC device address 0x44..0x47 (implies iic)",
     [](Invocation &i, const std::string &v) { i.address = v; }},
    {"trace", nullptr, nullptr, "print each board library call on standard error",
     [](Invocation &i, const std::string &) { i.trace = true; }},
    {"help", nullptr, nullptr, "show the help", [](Invocation &i, const std::string &) { i.help = true; }},
    {"version", nullptr, nullptr, "print the version and exit", [](Invocation &i, const std::string &) { i.version = true; }},
    {"fields", nullptr, "dump", "add each field's name and value after the line",
     [](Invocation &i, const std::string &) { i.fields = true; }},
    {"settings", nullptr, "diff", "compare only the fields that can be set (no status flags)",
     [](Invocation &i, const std::string &) { i.settingsOnly = true; }},
    {"check", nullptr, "run", "only check the script; nothing reaches the board",
     [](Invocation &i, const std::string &) { i.check = true; }},
    {"strict", nullptr, "run", "a warning of the check stops the run before anything is written",
     [](Invocation &i, const std::string &) { i.strict = true; }},
    {"format", "FORMAT", "export", "c, i2cset, python, json or script",
     [](Invocation &i, const std::string &v) { i.format = v; }},
    {"changed", nullptr, "export", "only the registers that differ from their power-on values",
     [](Invocation &i, const std::string &) { i.changed = true; }},
    {"listen", "HOST:PORT", "serve", "the address to listen on (default 127.0.0.1:5025)",
     [](Invocation &i, const std::string &v) { i.listen = v; }},
    {"read-only", nullptr, "serve", "refuse every command that changes the chip, a line or the board",
     [](Invocation &i, const std::string &) { i.readOnly = true; }},
    {"max-clients", "N", "serve", "clients served at once; more are refused (default 8)",
     [](Invocation &i, const std::string &v) { i.maxClients = v; }},
    {"allow", "ADDR[/PREFIX]", "serve", "accept only these clients (repeatable), e.g. 192.168.1.0/24",
     [](Invocation &i, const std::string &v) { i.allow.push_back(v); }},
    {"idle-timeout", "SECS", "serve", "close a client silent for SECS seconds (default 0: never)",
     [](Invocation &i, const std::string &v) { i.idleTimeout = v; }},
};

const Option *findOption(std::string_view name)
{
    for (const Option &o : kOptions)
        if (name == o.name)
            return &o;
    return nullptr;
}

// The text padded with spaces to the help's first column (longer text is kept whole).
std::string leftColumn(std::string text)
{
    if (text.size() < 24)
        text.resize(24, ' ');
    return text;
}

std::string optionLines(const char *command)
{
    std::string text;
    for (const Option &o : kOptions) {
        if ((o.command == nullptr) != (command == nullptr))
            continue;
        if (command && std::strcmp(o.command, command) != 0)
            continue;
        std::string left = std::string("  --") + o.name;
        if (o.valueName)
            left += std::string(" ") + o.valueName;
        text += leftColumn(left) + o.help + '\n';
    }
    return text;
}

std::string seeHelp(const Command *command)
{
    return command ? std::string(" (see evm5170ctl ") + command->name + " --help)" : std::string(" (see evm5170ctl --help)");
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string joined(const std::vector<std::string> &parts, char separator)
{
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i != 0)
            text += separator;
        text += parts[i];
    }
    return text;
}

} // namespace

std::span<const Option> options() { return kOptions; }

std::variant<Invocation, std::string> parseCommandLine(const std::vector<std::string> &arguments)
{
    Invocation inv;
    std::vector<std::string> positional;
    std::vector<const Option *> given;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &arg = arguments[i];
        // "-" names the chip, and a negative number or level ("-12.5dB") is a value, not an option.
        const bool negativeValue = arg.size() > 1 && ((arg[1] >= '0' && arg[1] <= '9') || arg[1] == '.');
        const bool looksLikeOption = arg.size() > 1 && arg[0] == '-' && !negativeValue && !evm::parseInteger(arg);
        if (optionsEnded || !looksLikeOption) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h") {
            inv.help = true;
            continue;
        }
        if (!startsWith(arg, "--"))
            return "unknown option '" + arg + "'" + seeHelp(nullptr);
        std::string name = arg.substr(2);
        std::optional<std::string> value;
        if (const size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const Option *o = findOption(name);
        if (!o)
            return "unknown option '--" + name + "'" + seeHelp(nullptr);
        if (o->valueName && !value) {
            if (i + 1 >= arguments.size())
                return "--" + name + " needs a value" + seeHelp(nullptr);
            value = arguments[++i];
        } else if (!o->valueName && value) {
            return "--" + name + " takes no value" + seeHelp(nullptr);
        }
        o->apply(inv, value.value_or(std::string()));
        given.push_back(o);
    }

    if (!positional.empty()) {
        inv.command = findCommand(positional.front());
        if (!inv.command)
            return "unknown command '" + positional.front() + "'" + seeHelp(nullptr);
        positional.erase(positional.begin());
    }
    for (const Option *o : given)
        if (o->command && (!inv.command || std::strcmp(o->command, inv.command->name) != 0))
            return std::string("--") + o->name + " belongs to " + o->command + seeHelp(inv.command);

    // "help read" is "read --help".
    if (inv.command && std::strcmp(inv.command->name, "help") == 0) {
        const bool aboutHelp = inv.help && positional.empty(); // "help --help"
        inv.help = true;
        inv.command = aboutHelp ? inv.command : nullptr;
        if (!positional.empty()) {
            inv.command = findCommand(positional.front());
            if (!inv.command || positional.size() > 1)
                return "no help for '" + joined(positional, ' ') + "'" + seeHelp(nullptr);
        }
        return inv;
    }
    if (inv.help || inv.version)
        return inv;
    if (!inv.command)
        return "no command given" + seeHelp(nullptr);
    if (int(positional.size()) < inv.command->minArguments || int(positional.size()) > inv.command->maxArguments) {
        const std::string synopsis = inv.command->synopsis;
        return (synopsis.empty() ? std::string(inv.command->name) + " takes no arguments"
                                 : std::string("usage: evm5170ctl ") + inv.command->name + " " + synopsis)
            + seeHelp(inv.command);
    }
    inv.arguments = positional;
    return inv;
}

std::string generalHelp()
{
    std::string text =
        "Usage: evm5170ctl [options] COMMAND [arguments]\n"
        "\n"
        "The CDX5170 evaluation board from the command line, one command a run, through\n"
        "the same board library and interface settings as the EVM Controller window.\n"
        "\n"
        "Commands:\n";
    for (const Command &c : commands())
        text += leftColumn(std::string("  ") + c.name + " " + c.synopsis) + c.summary + '\n';
    text += "\nOptions:\n" + optionLines(nullptr);
    text +=
        "\n"
#ifdef _WIN32
        "The board library is %EVM_BOARD_LIBRARY%, else Ostrel.dll beside this program\n"
        "(never one from the working folder or the PATH). The interface comes from\n"
        "EVM5170.ini in %APPDATA%, which is only read, never written.\n"
#else
        "The board library is $EVM_BOARD_LIBRARY, else Ostrel beside this program, else\n"
        "in the system's library paths. The interface comes from EVM5170.ini in\n"
        "$XDG_CONFIG_HOME (else ~/.config), which is only read, never written.\n"
#endif
        "Exit status: 0 success, 1 diff found differences, 2 failure (one line on\n"
        "standard error). \"evm5170ctl COMMAND --help\" describes one command.\n";
    return text;
}

std::string commandHelp(const Command &command)
{
    std::string text = std::string("Usage: evm5170ctl [options] ") + command.name;
    if (*command.synopsis)
        text += std::string(" ") + command.synopsis;
    text += std::string("\n\n") + command.details + '\n';
    if (command.moreDetails)
        text += command.moreDetails();
    const std::string own = optionLines(command.name);
    if (!own.empty())
        text += std::string("\nOptions of ") + command.name + ":\n" + own;
    text += "\nOptions:\n" + optionLines(nullptr);
    return text;
}

} // namespace ctl
