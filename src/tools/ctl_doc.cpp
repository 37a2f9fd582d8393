// SPDX-License-Identifier: GPL-3.0-or-later
// evm5170ctl-doc: makes the manual pages and the bash completion at build time from the tool's
// own tables (commands, options, fields), so that a command added to the table appears in both
// with nothing else to edit.
//
//   evm5170ctl-doc man TEMPLATE OUTPUT       fills @VERSION@, @COMMANDS@, @OPTIONS@, @FIELDS@
//   evm5170ctl-doc completion OUTPUT
#include "ctl_args.h"

#include "inttext.h"
#include "registers.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Text as roff reads it: a backslash and a minus escaped, a line that would start a request kept as text.
std::string roffEscaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\''))
        out.insert(0, "\\&");
    return out;
}

// A help text as roff: lines that start with a blank are kept as they are (examples, lists),
// the others are filled as a paragraph.
std::string roffText(const std::string &text)
{
    std::string out;
    bool literal = false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const bool indented = !line.empty() && line[0] == ' ';
        if (indented != literal) {
            out += indented ? ".nf\n" : ".fi\n";
            literal = indented;
        }
        out += (line.empty() ? std::string(".sp") : roffEscaped(line)) + '\n';
    }
    if (literal)
        out += ".fi\n";
    return out;
}

// A synopsis such as "[FILE]" or "FIELD VALUE": the placeholders in italics.
std::string roffSynopsis(const std::string &synopsis)
{
    std::string out;
    bool inWord = false;
    for (char c : synopsis) {
        const bool wordChar = (c >= 'A' && c <= 'Z') || c == '_';
        if (wordChar && !inWord)
            out += "\\fI";
        if (!wordChar && inWord)
            out += "\\fR";
        inWord = wordChar;
        out += c == '-' ? std::string("\\-") : std::string(1, c);
    }
    if (inWord)
        out += "\\fR";
    return out;
}

std::string roffOption(const ctl::Option &o)
{
    std::string out = ".TP\n\\fB\\-\\-" + roffEscaped(o.name) + "\\fR";
    if (o.valueName)
        out += " \\fI" + roffEscaped(o.valueName) + "\\fR";
    std::string help = o.help; // the help's phrase as a sentence
    if (!help.empty() && help[0] >= 'a' && help[0] <= 'z')
        help[0] = char(help[0] - 'a' + 'A');
    return out + '\n' + roffEscaped(help) + ".\n";
}

std::string optionsOf(const char *command)
{
    std::string out;
    for (const ctl::Option &o : ctl::options())
        if ((o.command == nullptr && command == nullptr) || (o.command && command && std::strcmp(o.command, command) == 0))
            out += roffOption(o);
    return out;
}

std::string manCommands()
{
    std::string out;
    for (const ctl::Command &c : ctl::commands()) {
        out += ".TP\n\\fB" + roffEscaped(c.name) + "\\fR";
        if (*c.synopsis)
            out += " " + roffSynopsis(c.synopsis);
        out += '\n' + roffText(c.details);
        if (c.moreDetails)
            out += roffText(c.moreDetails());
        const std::string own = optionsOf(c.name);
        if (!own.empty())
            out += ".RS\n" + own + ".RE\n";
    }
    return out;
}

std::string bits(const evm::RegisterField &f)
{
    const int top = f.shift + f.width - 1;
    return f.width == 1 ? "bit " + std::to_string(f.shift) : "bits " + std::to_string(top) + "\\(en" + std::to_string(f.shift);
}

std::string manFields()
{
    std::string out = ".PD 0\n"; // one line each
    for (const evm::RegisterField &f : evm::registerFields()) {
        out += ".TP 10\n\\fB" + roffEscaped(f.name) + "\\fR\nregister 0x" + evm::hexText(f.reg, 2) + ", " + bits(f);
        if (f.kind == evm::FieldKind::StatusFlag)
            out += ", a status flag (read only)";
        else if (f.kind == evm::FieldKind::ResetTrigger)
            out += ", a reset trigger (write 0x40 to use it)";
        out += '\n';
    }
    return out + ".PD\n";
}

bool readText(const std::string &path, std::string &text)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    text = bytes.str();
    if (!in)
        std::cerr << "evm5170ctl-doc: cannot read " << path << '\n';
    return bool(in);
}

// "@include FILE@" lines taken in, FILE beside the template: the parts both pages share.
bool included(std::string &text, const std::string &folder)
{
    const std::string mark = "@include ";
    for (size_t at; (at = text.find(mark)) != std::string::npos;) {
        const size_t end = text.find("@\n", at + mark.size());
        if (end == std::string::npos)
            return false;
        std::string part;
        if (!readText(folder + text.substr(at + mark.size(), end - at - mark.size()), part))
            return false;
        text.replace(at, end + 2 - at, part);
    }
    return true;
}

std::string replaced(std::string text, const std::map<std::string, std::string> &values)
{
    for (const auto &[key, value] : values)
        for (size_t at; (at = text.find(key)) != std::string::npos;)
            text.replace(at, key.size(), value);
    return text;
}

// The shell's words for one argument placeholder of a synopsis.
std::string argumentKind(std::string token)
{
    std::string name;
    for (char c : token)
        if ((c >= 'A' && c <= 'Z') || c == '_')
            name += c;
    if (name == "FIELD")
        return "field";
    if (name == "COMMAND")
        return "command";
    if (name == "REG")
        return "register";
    if (name == "VALUE" || name == "N" || name.empty())
        return "none";
    return "file"; // FILE, SCRIPT, A, B and what else names a file
}

std::string words(const std::vector<std::string> &list)
{
    std::string out;
    for (const std::string &w : list)
        out += (out.empty() ? "" : " ") + w;
    return out;
}

std::string completion()
{
    std::vector<std::string> commands, fields, registers, global, valued;
    for (const ctl::Command &c : ctl::commands())
        commands.push_back(c.name);
    for (const evm::RegisterField &f : evm::registerFields())
        fields.push_back(f.name);
    for (int reg = evm::FirstRegister; reg <= evm::LastRegister; ++reg)
        registers.push_back("0x" + evm::hexText(uint32_t(reg), 2));
    std::string valueCases;
    for (const ctl::Option &o : ctl::options()) {
        if (!o.command)
            global.push_back(std::string("--") + o.name);
        if (!o.valueName)
            continue;
        valued.push_back(std::string("--") + o.name);
        // A value name of alternatives ("iic|spi") is the list of its values.
        const std::string v = o.valueName;
        if (v.find('|') != std::string::npos) {
            std::string alternatives = v;
            for (char &c : alternatives)
                if (c == '|')
                    c = ' ';
            valueCases += "        --" + std::string(o.name) + ") COMPREPLY=($(compgen -W \"" + alternatives + "\" -- \"$cur\")); return ;;\n";
        }
    }
    std::string commandOptions, commandArguments;
    for (const ctl::Command &c : ctl::commands()) {
        std::vector<std::string> own;
        for (const ctl::Option &o : ctl::options())
            if (o.command && std::strcmp(o.command, c.name) == 0)
                own.push_back(std::string("--") + o.name);
        if (!own.empty())
            commandOptions += "        " + std::string(c.name) + ") options+=\" " + words(own) + "\" ;;\n";
        std::vector<std::string> kinds;
        std::istringstream tokens(c.synopsis);
        bool repeated = false;
        for (std::string token; tokens >> token;) {
            kinds.push_back(argumentKind(token));
            repeated = token.find("...") != std::string::npos;
        }
        if (!kinds.empty())
            commandArguments += "        " + std::string(c.name) + ") kinds=(" + words(kinds) + ")" + (repeated ? " repeat=1" : "") + " ;;\n";
    }

    std::string s;
    s += "# bash completion for evm5170ctl: its commands, options and field names. Made at build time\n"
         "# from the tool's own command, option and field tables by evm5170ctl-doc; do not edit.\n";
    s += "_evm5170ctl()\n{\n";
    s += "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n";
    s += "    local commands=\"" + words(commands) + "\"\n";
    s += "    local fields=\"" + words(fields) + "\"\n";
    s += "    local registers=\"" + words(registers) + "\"\n";
    s += "    local options=\"" + words(global) + "\"\n";
    s += "    COMPREPLY=()\n";
    s += "    case $prev in\n" + valueCases;
    std::string valuedPattern;
    for (const std::string &v : valued)
        valuedPattern += (valuedPattern.empty() ? "" : "|") + v;
    s += "        " + valuedPattern + ") return ;;\n"; // a value of its own: nothing to offer
    s += "    esac\n";
    // Which command, and how many of its arguments come before the word being completed.
    s += "    local i word command= before=0 ended=\n";
    s += "    for ((i = 1; i < COMP_CWORD; i++)); do\n";
    s += "        word=${COMP_WORDS[i]}\n";
    s += "        if [[ -z $ended ]]; then\n";
    s += "            case $word in\n";
    s += "                --) ended=1; continue ;;\n";
    s += "                " + valuedPattern + ") ((i++)); continue ;;\n";
    s += "                -?*) continue ;;\n";
    s += "            esac\n";
    s += "        fi\n";
    s += "        if [[ -z $command ]]; then command=$word; else ((before++)); fi\n";
    s += "    done\n";
    s += "    if [[ -z $ended && $cur == -* ]]; then\n";
    s += "        case $command in\n" + commandOptions + "        esac\n";
    s += "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n";
    s += "        return\n";
    s += "    fi\n";
    s += "    if [[ -z $command ]]; then\n";
    s += "        COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n";
    s += "        return\n";
    s += "    fi\n";
    s += "    local kinds=() repeat=\n";
    s += "    case $command in\n" + commandArguments + "    esac\n";
    s += "    local kind=${kinds[before]}\n";
    s += "    [[ -z $kind && -n $repeat && ${#kinds[@]} -gt 0 ]] && kind=${kinds[${#kinds[@]}-1]}\n";
    s += "    case $kind in\n";
    s += "        field) COMPREPLY=($(compgen -W \"$fields\" -- \"${cur^^}\")) ;;\n";
    s += "        command) COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\")) ;;\n";
    s += "        register) COMPREPLY=($(compgen -W \"$registers\" -- \"$cur\")) ;;\n";
    s += "        file) COMPREPLY=($(compgen -f -- \"$cur\")) ;;\n";
    s += "    esac\n";
    s += "}\n";
    s += "complete -o filenames -F _evm5170ctl evm5170ctl\n";
    return s;
}

bool written(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "evm5170ctl-doc: cannot write " << path << '\n';
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "man") {
        std::string text;
        const size_t slash = args[1].rfind('/');
        if (!readText(args[1], text) || !included(text, slash == std::string::npos ? std::string() : args[1].substr(0, slash + 1)))
            return 2;
        const std::string page = replaced(text, {{"@VERSION@", EVM_PROGRAM_VERSION},
                                                       {"@COMMANDS@\n", manCommands()},
                                                       {"@OPTIONS@\n", optionsOf(nullptr)},
                                                       {"@FIELDS@\n", manFields()}});
        return written(args[2], page) ? 0 : 2;
    }
    if (args.size() == 2 && args[0] == "completion")
        return written(args[1], completion()) ? 0 : 2;
    std::cerr << "usage: evm5170ctl-doc man TEMPLATE OUTPUT | completion OUTPUT\n";
    return 2;
}
