#include "ctl_args.h"

#include "inttext.h"

namespace ctl {

namespace {

struct Option {
    const char *name;
    const char *valueName; // null for a switch
    const char *command;   // null for a global option
    const char *help;
    void (*apply)(Invocation &, const QString &value);
};

const Option kOptions[] = {
    {"interface", "iic|spi", nullptr, "the serial interface, instead of the settings file's",
     [](Invocation &i, const QString &v) { i.interface = v; }},
    {"address", "ADDR", nullptr, "the IIC device address 0x44..0x47 (implies iic)",
     [](Invocation &i, const QString &v) { i.address = v; }},
    {"trace", nullptr, nullptr, "print each board library call on standard error",
     [](Invocation &i, const QString &) { i.trace = true; }},
    {"help", nullptr, nullptr, "show the help", [](Invocation &i, const QString &) { i.help = true; }},
    {"fields", nullptr, "dump", "add each field's name and value after the line",
     [](Invocation &i, const QString &) { i.fields = true; }},
    {"settings", nullptr, "diff", "compare only the fields that can be set (no status flags)",
     [](Invocation &i, const QString &) { i.settingsOnly = true; }},
    {"check", nullptr, "run", "only check the script; nothing reaches the board",
     [](Invocation &i, const QString &) { i.check = true; }},
    {"listen", "HOST:PORT", "serve", "the address to listen on (default 127.0.0.1:5025)",
     [](Invocation &i, const QString &v) { i.listen = v; }},
    {"read-only", nullptr, "serve", "refuse every command that changes the chip, a line or the board",
     [](Invocation &i, const QString &) { i.readOnly = true; }},
    {"max-clients", "N", "serve", "clients served at once; more are refused (default 8)",
     [](Invocation &i, const QString &v) { i.maxClients = v; }},
    {"allow", "ADDR[/PREFIX]", "serve", "accept only these clients (repeatable), e.g. 192.168.1.0/24",
     [](Invocation &i, const QString &v) { i.allow << v; }},
    {"idle-timeout", "SECS", "serve", "close a client silent for SECS seconds (default 0: never)",
     [](Invocation &i, const QString &v) { i.idleTimeout = v; }},
};

const Option *findOption(QStringView name)
{
    for (const Option &o : kOptions)
        if (name == QLatin1String(o.name))
            return &o;
    return nullptr;
}

QString optionLines(const char *command)
{
    QString text;
    for (const Option &o : kOptions) {
        if ((o.command == nullptr) != (command == nullptr))
            continue;
        if (command && qstrcmp(o.command, command) != 0)
            continue;
        QString left = QStringLiteral("  --%1").arg(QLatin1String(o.name));
        if (o.valueName)
            left += QLatin1Char(' ') + QLatin1String(o.valueName);
        text += left.leftJustified(24) + QLatin1String(o.help) + QLatin1Char('\n');
    }
    return text;
}

QString seeHelp(const Command *command)
{
    return command ? QStringLiteral(" (see evm5170ctl %1 --help)").arg(QLatin1String(command->name))
                   : QStringLiteral(" (see evm5170ctl --help)");
}

} // namespace

std::variant<Invocation, QString> parseCommandLine(const QStringList &arguments)
{
    Invocation inv;
    QStringList positional;
    QList<const Option *> given;
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        // "-" names the chip, and a negative number is a value, not an option.
        const bool looksLikeOption = arg.size() > 1 && arg.startsWith(QLatin1Char('-')) && !evm::parseInteger(arg);
        if (optionsEnded || !looksLikeOption) {
            positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("-h")) {
            inv.help = true;
            continue;
        }
        if (!arg.startsWith(QLatin1String("--")))
            return QStringLiteral("unknown option '%1'").arg(arg) + seeHelp(nullptr);
        QString name = arg.mid(2);
        std::optional<QString> value;
        if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
        }
        const Option *o = findOption(name);
        if (!o)
            return QStringLiteral("unknown option '--%1'").arg(name) + seeHelp(nullptr);
        if (o->valueName && !value) {
            if (i + 1 >= arguments.size())
                return QStringLiteral("--%1 needs a value").arg(name) + seeHelp(nullptr);
            value = arguments[++i];
        } else if (!o->valueName && value) {
            return QStringLiteral("--%1 takes no value").arg(name) + seeHelp(nullptr);
        }
        o->apply(inv, value.value_or(QString()));
        given << o;
    }

    if (!positional.isEmpty()) {
        inv.command = findCommand(positional.first());
        if (!inv.command)
            return QStringLiteral("unknown command '%1'").arg(positional.first()) + seeHelp(nullptr);
        positional.removeFirst();
    }
    for (const Option *o : given)
        if (o->command && (!inv.command || qstrcmp(o->command, inv.command->name) != 0))
            return QStringLiteral("--%1 belongs to %2").arg(QLatin1String(o->name), QLatin1String(o->command))
                + seeHelp(inv.command);

    // "help read" is "read --help".
    if (inv.command && qstrcmp(inv.command->name, "help") == 0) {
        const bool aboutHelp = inv.help && positional.isEmpty(); // "help --help"
        inv.help = true;
        inv.command = aboutHelp ? inv.command : nullptr;
        if (!positional.isEmpty()) {
            inv.command = findCommand(positional.first());
            if (!inv.command || positional.size() > 1)
                return QStringLiteral("no help for '%1'").arg(positional.join(QLatin1Char(' '))) + seeHelp(nullptr);
        }
        return inv;
    }
    if (inv.help)
        return inv;
    if (!inv.command)
        return QStringLiteral("no command given") + seeHelp(nullptr);
    if (positional.size() < inv.command->minArguments || positional.size() > inv.command->maxArguments) {
        const QString synopsis = QLatin1String(inv.command->synopsis);
        return (synopsis.isEmpty() ? QStringLiteral("%1 takes no arguments").arg(QLatin1String(inv.command->name))
                                   : QStringLiteral("usage: evm5170ctl %1 %2").arg(QLatin1String(inv.command->name), synopsis))
            + seeHelp(inv.command);
    }
    inv.arguments = positional;
    return inv;
}

QString generalHelp()
{
    QString text = QStringLiteral(
        "Usage: evm5170ctl [options] COMMAND [arguments]\n"
        "\n"
        "The CDX5170 evaluation board from the command line, one command a run, through\n"
        "the same board library and interface settings as the EVM Controller window.\n"
        "\n"
        "Commands:\n");
    for (const Command &c : commands()) {
        const QString left = QStringLiteral("  %1 %2").arg(QLatin1String(c.name), QLatin1String(c.synopsis));
        text += left.leftJustified(24) + QLatin1String(c.summary) + QLatin1Char('\n');
    }
    text += QStringLiteral("\nOptions:\n") + optionLines(nullptr);
    text += QStringLiteral(
        "\n"
        "The board library is $EVM_BOARD_LIBRARY, else Ostrel beside this program, else\n"
        "in the system's library paths. The interface comes from EVM5170.ini in\n"
        "$XDG_CONFIG_HOME (else ~/.config), which is only read, never written.\n"
        "Exit status: 0 success, 1 diff found differences, 2 failure (one line on\n"
        "standard error). \"evm5170ctl COMMAND --help\" describes one command.\n");
    return text;
}

QString commandHelp(const Command &command)
{
    QString text = QStringLiteral("Usage: evm5170ctl [options] %1").arg(QLatin1String(command.name));
    if (*command.synopsis)
        text += QLatin1Char(' ') + QLatin1String(command.synopsis);
    text += QStringLiteral("\n\n") + QLatin1String(command.details) + QLatin1Char('\n');
    const QString own = optionLines(command.name);
    if (!own.isEmpty())
        text += QStringLiteral("\nOptions of %1:\n").arg(QLatin1String(command.name)) + own;
    text += QStringLiteral("\nOptions:\n") + optionLines(nullptr);
    return text;
}

} // namespace ctl
