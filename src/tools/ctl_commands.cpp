// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctl_commands.h"

#include "boardaccess.h"
#include "boardsession.h"
#include "dbtext.h"
#include "fieldmath.h"
#include "fielddiff.h"
#include "fieldtext.h"
#include "inttext.h"
#include "registers.h"
#include "scpi/commands.h"
#include "scpi_server.h"
#include "script.h"
#include "settingsfile.h"
#include "setupexport.h"
#include "textfiles.h"

#include <chrono>
#include <map>
#include <optional>
#include <thread>

#include <sys/stat.h>

// How a user stops the server, as the help tells it.
#ifdef _WIN32
#define EVM_STOP_KEYS "Ctrl+C or Ctrl+Break"
#else
#define EVM_STOP_KEYS "SIGINT or SIGTERM"
#endif

namespace ctl {

namespace {

using evm::BoardSession;

// A failure of the command: its one-line message ends the run with status 2.
struct CommandError {
    std::string message;
};

[[noreturn]] void fail(const std::string &message)
{
    throw CommandError{message};
}

// One line, whatever a file name or a library's reason holds.
std::string oneLine(std::string_view text)
{
    std::string line(text);
    for (char &c : line)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    return line;
}

// A stream that has taken everything written to it so far: what it holds goes out before a
// message on the other one, and a write that did not reach the file shows.
bool flushed(std::ostream &stream)
{
    stream.flush();
    return bool(stream);
}

void writeOut(Call &call, std::string_view bytes)
{
    std::ostream &out = call.context.out;
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out)
        fail("cannot write to standard output");
}

void printLine(Call &call, const std::string &text)
{
    writeOut(call, text + '\n');
}

std::string hex2(int v)
{
    return "0x" + evm::hexText(static_cast<uint32_t>(v), 2);
}

int32_t number(const std::string &text)
{
    try {
        return evm::toInteger(text);
    } catch (const evm::ConversionError &e) {
        fail(e.message());
    }
}

int chipRegister(const std::string &text)
{
    const int32_t reg = number(text);
    if (!evm::isChipRegister(reg))
        fail("register " + text + " is outside 0x40..0x5E");
    return reg;
}

const evm::RegisterField &namedField(const std::string &name)
{
    const evm::RegisterField *f = evm::findField(name);
    if (!f)
        fail(evm::unknownFieldText(name));
    return *f;
}

std::string asciiLower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

} // namespace

// The board as one command sees it: the context's session, opened on first use with the
// interface that the options and the settings file give. A session that is open on that
// interface and has not failed since is used as it is; anything else is opened anew.
class Board
{
public:
    Board(Context &context, const Invocation &inv) : m_context(context), m_inv(inv), m_session(context.session)
    {
        checkInterfaceOptions();
    }
    // The trace goes with the command; the board stays open only for a context that keeps it
    // and only while it answers.
    ~Board()
    {
        if (!m_context.keepOpen || !m_session.answering())
            m_session.end();
        m_session.library().trace = nullptr;
    }
    Board(const Board &) = delete;
    Board &operator=(const Board &) = delete;

    // Opens the board once a command; later calls give that outcome.
    BoardSession::Status open()
    {
        if (m_status)
            return *m_status;
        if (m_inv.trace)
            m_session.library().trace = [&err = m_context.err](const std::string &line) {
                const std::string text = "trace: " + line + '\n';
                err.write(text.data(), std::streamsize(text.size()));
            };
        const evm::ConnectionSettings wanted = connection();
        if (m_session.answering() && evm::sameInterface(m_session.settings(), wanted))
            m_status = BoardSession::Status::Open;
        else
            m_status = m_session.open(wanted);
        return *m_status;
    }

    // The session as open() left it, board or not.
    BoardSession &opened() { return m_session; }

    BoardSession &session()
    {
        if (open() != BoardSession::Status::Open)
            fail(m_session.failureText());
        return m_session;
    }

    uint8_t read(int reg)
    {
        const BoardSession::Access a = session().read(reg);
        if (a.code != 0)
            failedRead(reg, a.code);
        return a.value;
    }

    void write(int32_t reg, uint8_t value, const std::string &after = std::string())
    {
        if (const int32_t code = session().write(reg, value); code != 0)
            failedWrite(reg, value, code, after);
    }

    evm::RegisterValues readAll()
    {
        const evm::RegistersRead r = evm::readAllRegisters(session());
        if (r.code != 0)
            failedRead(r.failedRegister, r.code);
        return r.values;
    }

    int fieldValue(const evm::RegisterField &field)
    {
        const evm::FieldRead r = evm::readField(session(), field);
        if (r.code != 0)
            failedRead(field.reg, r.code);
        return r.value;
    }

    void setField(const evm::RegisterField &field, int value)
    {
        const evm::FieldWrite w = evm::writeField(session(), field, value);
        if (w.kind == evm::FieldWrite::Kind::ReadFailed)
            failedRead(field.reg, w.code);
        if (w.kind == evm::FieldWrite::Kind::WriteFailed)
            failedWrite(field.reg, w.byte, w.code, std::string());
    }

private:
    [[noreturn]] void failedRead(int reg, int32_t code)
    {
        if (code == OSTREL_TIMED_OUT)
            fail(evm::communicationErrorText("RDERR", code) + " reading register " + hex2(reg) + ": no answer in time"
                 + libraryReason());
        fail(evm::communicationErrorText("RDERR", code) + " reading register " + hex2(reg)
             + "; please check the interface setting (" + evm::interfaceText(m_session.settings()) + ")" + libraryReason());
    }

    [[noreturn]] void failedWrite(int reg, uint8_t value, int32_t code, const std::string &after)
    {
        if (code == OSTREL_TIMED_OUT) // a write that got no answer may have reached the chip all the same
            fail(evm::communicationErrorText("WRERR", code) + " writing " + hex2(value) + " to register " + hex2(reg)
                 + after + ": no answer in time, so the write may still have taken effect" + libraryReason());
        fail(evm::communicationErrorText("WRERR", code) + " writing " + hex2(value) + " to register " + hex2(reg) + after
             + libraryReason());
    }

    // The library's own words on its last failure (the server it could not reach), as " (...)".
    std::string libraryReason()
    {
        const std::string why = m_session.library().lastError();
        return why.empty() ? std::string() : " (" + why + ")";
    }

    void checkInterfaceOptions()
    {
        if (m_inv.interface) {
            const std::string name = asciiLower(*m_inv.interface);
            if (name != "iic" && name != "spi")
                fail("--interface takes iic or spi, not '" + *m_inv.interface + "'");
            m_options.item = name == "iic" ? evm::IicItem : evm::SpiItem;
        }
        if (m_inv.address) {
            const int32_t a = number(*m_inv.address);
            if (!evm::isIicAddress(a))
                fail("--address " + *m_inv.address + " is outside 0x44..0x47");
            if (m_options.item == evm::SpiItem)
                fail("--address is an IIC device address; SPI has none");
            m_options.item = evm::IicItem;
            m_options.address = a;
        }
    }

    evm::ConnectionSettings connection()
    {
        const evm::InterfaceOutcome o = evm::interfaceFromOptions(m_options);
        if (o.fileFailed)
            printError(m_context.err, "warning: cannot read the interface settings in " + evm::settingsFilePath()
                                          + "; going on with " + evm::interfaceText(o.settings));
        return o.settings;
    }

    Context &m_context;
    const Invocation &m_inv;
    evm::InterfaceOptions m_options;
    std::optional<BoardSession::Status> m_status;
    BoardSession &m_session;
};

namespace {

int info(Call &call)
{
    Board &board = call.board;
    const BoardSession::Status status = board.open();
    BoardSession &s = board.opened();
    if (status == BoardSession::Status::CannotLoad || status == BoardSession::Status::InvalidLibrary)
        fail(s.failureText());
    // Without a board the library still tells its version; the reason comes last.
    printLine(call, "library: " + s.library().fileName());
    printLine(call, "version: " + evm::libraryVersionText(s.version()));
    printLine(call, "interface: " + evm::interfaceText(s.settings()));
    printLine(call, "port: " + std::to_string(s.port()));
    // A library may say how it reaches the board (the Linux one: its file, devices and lines).
    writeOut(call, s.library().describe());
    if (status != BoardSession::Status::Open)
        fail(s.failureText());
    return Success;
}

int readRegister(Call &call)
{
    const Invocation &inv = call.invocation;
    Board &board = call.board;
    const int reg = chipRegister(inv.arguments[0]);
    printLine(call, hex2(board.read(reg)));
    return Success;
}

int writeRegister(Call &call)
{
    const Invocation &inv = call.invocation;
    Board &board = call.board;
    const int reg = chipRegister(inv.arguments[0]);
    const int32_t value = number(inv.arguments[1]);
    if (value < 0 || value > 0xFF)
        fail("value " + inv.arguments[1] + " is outside 0..255");
    board.write(reg, static_cast<uint8_t>(value));
    return Success;
}

int getField(Call &call)
{
    const Invocation &inv = call.invocation;
    Board &board = call.board;
    const evm::RegisterField &f = namedField(inv.arguments[0]);
    printLine(call, std::to_string(board.fieldValue(f)));
    return Success;
}

int setField(Call &call)
{
    const Invocation &inv = call.invocation;
    Board &board = call.board;
    const evm::RegisterField &f = namedField(inv.arguments[0]);
    const std::string &text = inv.arguments[1];
    // A flag or a trigger is refused whatever the value.
    if (const evm::FieldValueCheck kind = evm::checkFieldValue(f, 0); kind.kind == evm::FieldValueCheck::Kind::Refused)
        fail(kind.refusal);
    const evm::FieldValueText typed = evm::parseFieldValueText(f, text);
    if (typed.kind == evm::FieldValueText::Kind::Invalid)
        fail(typed.reason);
    const evm::FieldValueCheck check = evm::checkFieldValue(f, typed.value);
    if (check.kind == evm::FieldValueCheck::Kind::OutOfRange)
        fail("value " + text + " is outside 0.." + std::to_string(check.top) + " for " + f.name
             + (evm::attenuatorZeroDb(f) && typed.value < 0 ? std::string("; a level takes its unit, e.g. -12.5dB")
                                                               : std::string()));
    board.setField(f, int(typed.value));
    if (typed.clamped) {
        const int zero = *evm::attenuatorZeroDb(f);
        printError(call.context.err, "warning: " + text + " is beyond the range of " + f.name + ", " + evm::dbText(0, zero)
                                         + " dB to " + evm::dbText(255, zero) + " dB; set to "
                                         + evm::fieldMeaning(f, int(typed.value)));
    }
    return Success;
}

// "DEMP    0x46  5..4    3  32kHz": name, register, bits, value and what it means.
std::string showLine(const evm::RegisterField &f, int value)
{
    auto padded = [](std::string text, size_t width) {
        if (text.size() < width)
            text.resize(width, ' ');
        return text;
    };
    std::string number = std::to_string(value);
    number.insert(0, number.size() < 3 ? 3 - number.size() : 0, ' ');
    std::string line = padded(f.name, 8) + hex2(f.reg) + "  " + padded(evm::fieldBitsText(f), 4) + "  " + number;
    if (const std::string meaning = evm::fieldMeaning(f, value); !meaning.empty())
        line += "  " + meaning;
    return line;
}

int showFields(Call &call)
{
    const Invocation &inv = call.invocation;
    Board &board = call.board;
    std::vector<const evm::RegisterField *> fields;
    for (const std::string &name : inv.arguments)
        fields.push_back(&namedField(name));
    if (inv.arguments.empty())
        for (const evm::RegisterField &f : evm::registerFields())
            fields.push_back(&f);
    // Each register is read once, when its first field is shown.
    std::map<int, uint8_t> read;
    std::string text;
    for (const evm::RegisterField *f : fields) {
        if (!read.count(f->reg))
            read[f->reg] = board.read(f->reg);
        text += showLine(*f, evm::fieldValue(read[f->reg], f->shift, f->width)) + '\n';
    }
    writeOut(call, text);
    return Success;
}

// Writes a whole file through the one writer, or to standard output for none or "-".
void writeResult(Call &call, const std::vector<std::string> &arguments, const std::string &text)
{
    // "-" is standard output, as for any tool; a file named "-" is ./-
    if (arguments.empty() || arguments[0] == "-") {
        writeOut(call, text);
        return;
    }
    if (const auto error = evm::saveWholeFile(arguments[0], text))
        fail("cannot write " + arguments[0] + ": " + *error);
}

std::string formatNames()
{
    std::string names;
    const auto formats = evm::setupFormats();
    for (size_t i = 0; i < formats.size(); ++i)
        names += std::string(i == 0 ? "" : i + 1 == formats.size() ? " or " : ", ") + formats[i].name;
    return names;
}

int exportSetup(Call &call)
{
    const Invocation &inv = call.invocation;
    Board &board = call.board;
    if (!inv.format)
        fail("export needs --format " + formatNames());
    const evm::SetupFormatInfo *format = evm::findSetupFormat(*inv.format);
    if (!format)
        fail("--format takes " + formatNames() + ", not '" + *inv.format + "'");
    evm::SetupExport setup;
    setup.values = board.readAll();
    setup.changedOnly = inv.changed;
    const evm::ConnectionSettings &used = board.opened().settings();
    setup.iicAddress = used.interfaceCode == evm::IicInterfaceCode ? used.deviceAddress : evm::FirstIicAddress;
    setup.origin = "the chip";
    setup.program = "evm5170ctl " EVM_PROGRAM_VERSION;
    writeResult(call, inv.arguments, evm::setupText(format->format, setup));
    return Success;
}

int dump(Call &call)
{
    const Invocation &inv = call.invocation;
    Board &board = call.board;
    const evm::RegisterValues values = board.readAll();
    writeResult(call, inv.arguments, inv.fields ? evm::annotatedSnapshotText(values) : evm::snapshotText(values));
    return Success;
}

std::string fileBytes(const std::string &path)
{
    std::string bytes;
    if (path == "-") {
        if (const auto error = evm::readWholeStream(0, bytes))
            fail("cannot read standard input: " + *error);
        return bytes;
    }
    struct stat st;
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (!exists || !S_ISREG(st.st_mode))
        fail(path + ": " + (exists ? "not a file" : "no such file"));
    if (const auto error = evm::readWholeFile(path, bytes))
        fail("cannot read " + path + ": " + *error);
    return bytes;
}

// Stops a run from inside the script sink at a write that the board refused.
struct WriteRefused {
    CommandError error;
};

std::string writesBefore(int writes)
{
    if (writes == 0)
        return "nothing was written before it";
    return writes == 1 ? std::string("1 write before it took effect") : std::to_string(writes) + " writes before it took effect";
}

// The check of a script without the board: each write that cannot do what it seems to (a
// register the chip does not have, one of only status flags) is a warning naming its line,
// and a faulty line ends the check as it would end the run.
void checkScript(Call &call, const std::string &path, const std::vector<std::string> &lines)
{
    const Invocation &inv = call.invocation;
    int line = 0;
    int warnings = 0;
    evm::ScriptSink sink;
    sink.progress = [&line](int index) { line = index + 1; };
    sink.write = [&](int32_t reg, int32_t) {
        if (const std::string warning = evm::scriptWriteWarning(reg); !warning.empty()) {
            printError(call.context.err, path + ":" + std::to_string(line) + ": warning: " + warning);
            ++warnings;
        }
    };
    const std::string outcome = inv.check ? "checked only" : "nothing was written";
    const evm::ScriptResult result = evm::runScriptLines(lines, sink);
    if (result.stopped && (inv.check || inv.strict))
        fail(path + ":" + std::to_string(result.line) + ": " + result.message + " (" + outcome + ")");
    if (inv.strict && warnings > 0)
        fail(path + ": " + std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings") + " with --strict ("
             + outcome + ")");
}

int runScript(Call &call)
{
    const Invocation &inv = call.invocation;
    Board &board = call.board;
    const std::string &path = inv.arguments[0];
    const std::vector<std::string> lines = evm::splitScriptLines(fileBytes(path));
    if (inv.check || inv.strict)
        checkScript(call, path, lines);
    if (inv.check)
        return Success;
    int line = 0;
    int writes = 0;
    evm::ScriptSink sink;
    sink.progress = [&line](int index) { line = index + 1; };
    sink.write = [&](int32_t reg, int32_t value) {
        try {
            board.write(reg, static_cast<uint8_t>(value), " (" + writesBefore(writes) + ")");
        } catch (CommandError &e) {
            throw WriteRefused{e};
        }
        ++writes;
    };
    sink.sleep = [](int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    board.session(); // no board is the error of the whole run, not of its first write
    evm::ScriptResult result;
    try {
        result = evm::runScriptLines(lines, sink);
    } catch (const WriteRefused &refused) {
        fail(path + ":" + std::to_string(line) + ": " + refused.error.message);
    }
    if (result.stopped)
        fail(path + ":" + std::to_string(result.line) + ": " + result.message + " (" + writesBefore(writes) + ")");
    return Success;
}

int diff(Call &call)
{
    const Invocation &inv = call.invocation;
    Board &board = call.board;
    std::optional<evm::RegisterValues> chip;
    auto side = [&](const std::string &name) {
        if (name == "-") {
            if (!chip)
                chip = board.readAll();
            return *chip;
        }
        evm::RegisterValues values{};
        if (const auto error = evm::parseSnapshot(fileBytes(name), values))
            fail(name + ": " + *error);
        return values;
    };
    const evm::RegisterValues a = side(inv.arguments[0]);
    const evm::RegisterValues b = side(inv.arguments[1]);
    const auto differences = evm::compareRegisters(a, b, inv.settingsOnly ? evm::Comparison::SettingsOnly
                                                                           : evm::Comparison::WholeBytes);
    for (const evm::RegisterDifference &d : differences)
        printLine(call, evm::differenceText(d));
    if (differences.empty())
        return Success;
    const auto name = [](const std::string &n) { return n == "-" ? std::string("the chip") : n; };
    flushed(call.context.out);
    printError(call.context.err, name(inv.arguments[0]) + " and " + name(inv.arguments[1]) + " differ in "
                                     + std::to_string(differences.size()) + " register"
                                     + (differences.size() == 1 ? "" : "s"));
    return Differ;
}

int serve(Call &call)
{
    const Invocation &inv = call.invocation;
    Board &board = call.board;
    ServeArguments arguments;
    arguments.readOnly = inv.readOnly;
    arguments.listen = inv.listen;
    arguments.maxClients = inv.maxClients;
    arguments.allow = inv.allow;
    arguments.idleTimeout = inv.idleTimeout;
    const auto options = serveOptions(arguments);
    if (const std::string *error = std::get_if<std::string>(&options))
        fail(*error);
    // Without a board the server still serves: BOARD:OPEN? tries again.
    if (board.open() == BoardSession::Status::NoBoard)
        printError(call.context.err, "warning: " + board.opened().failureText() + "; serving without a board");
    else
        board.session();
    std::string error;
    ServeOutput output;
    output.announce = [&call](const std::string &line) {
        printLine(call, line);
        flushed(call.context.out);
    };
    output.warn = [&call](const std::string &line) { printError(call.context.err, line); };
    const int status = serveBoard(std::get<ServeOptions>(options), board.opened(), &error, output);
    if (status != Success)
        fail(error);
    return status;
}

std::string formatHelp()
{
    std::string text;
    for (const evm::SetupFormatInfo &f : evm::setupFormats()) {
        std::string name = std::string("  ") + f.name;
        name.resize(10, ' ');
        text += name + f.description + '\n';
    }
    return text;
}

} // namespace

// The commands: what the help and the parser know of each, and its handler.
constexpr Command kCommands[] = {
    {"info", "", 0, 0, "the library version and the board port",
     "Loads the board library, opens the board and prints the library's file, its\n"
     "version, the board port and the interface. Without a board the reason is the\n"
     "error, after what could be found out.", info},
    {"read", "REG", 1, 1, "read one register",
     "Prints the value of register REG (0x40..0x5E) as the chip returns it, as 0x and\n"
     "two hexadecimal digits. Numbers are decimal, or hexadecimal after 0x, $ or x.", readRegister},
    {"write", "REG VALUE", 2, 2, "write one register",
     "Writes VALUE (0..255) to register REG (0x40..0x5E) as given. Register 0x40 is\n"
     "written raw: a value with bit 7 (MRST) or bit 6 (SRST) clear starts a reset of\n"
     "the chip. To change the DAC sampling mode without a reset, use set SRDA.", writeRegister},
    {"get", "FIELD", 1, 1, "read one field by name",
     "Reads the field's register from the chip and prints the field's value in\n"
     "decimal. FIELD is a name such as DEMP, FMTDA, ATDA1, MUTDA3, ZERO1 or SRDA, in\n"
     "any case; a mistyped name is answered with the nearest names, or with all of\n"
     "them when none is near. show prints what the value means.", getField},
    {"show", "[FIELD...]", 0, 1000, "every field, or those named, with its meaning",
     "Reads the registers from the chip and prints one line a field: its name, register,\n"
     "bits, value in decimal and what the value means: the item the window shows for it\n"
     "(\"32kHz\"), its level for an attenuator (\"-63.5 dB\"), \"(no item)\" for a value the\n"
     "window has no item for, \"status flag\" or \"reset trigger\"; nothing for a plain bit.\n"
     "  DEMP    0x46  5..4    3  32kHz\n"
     "Without FIELD every field of the chip, in register order.", showFields},
    {"set", "FIELD VALUE", 2, 2, "write one field by name",
     "Reads the field's register from the chip, puts VALUE into the field and writes\n"
     "the register back; the other bits keep what the chip holds. VALUE is a number,\n"
     "an item as the window shows it (set DEMP 32kHz; any case, blanks ignored), or\n"
     "for an attenuator a level with its unit (set ATDA1 -12.5dB), which goes to the\n"
     "0.5 dB step at or below it and is held to the attenuator's range, as the window's\n"
     "dB edits do (a warning says so). Status flags\n"
     "(ZERO1..ZERO8, OVF1..OVF6) are the chip's and cannot be set, and neither can the\n"
     "reset triggers MRST and SRST: a set of a field of 0x40 always writes both as 1,\n"
     "so it never starts a reset. Use write 0x40 to start one on purpose.", setField},
    {"dump", "[FILE]", 0, 1, "all registers as a snapshot",
     "Reads registers 0x40..0x5E from the chip and writes them in the snapshot form,\n"
     "one \"0x46, 0x0A\" line each with CR LF, to FILE (replaced whole, only once every\n"
     "register has been read) or, without FILE or with -, to standard output. The\n"
     "result runs as a script.", dump},
    {"run", "SCRIPT", 1, 1, "run a register script",
     "Runs the register writes and sleep lines of SCRIPT from the top. The first\n"
     "faulty line stops the run: its file name, line number and message are the error,\n"
     "with how many writes before it took effect. A write that the board refuses stops\n"
     "the run too. SCRIPT - reads the script from standard input.\n"
     "--check checks the script without the board, to its end or its first faulty line,\n"
     "and warns, naming file and line, of writes to a register outside 0x40..0x5E and to\n"
     "the status flag registers 0x45 and 0x56; the exit status stays 0 unless --strict,\n"
     "with which a run also checks first and runs nothing unless the script passes.", runScript},
    {"export", "[FILE]", 0, 1, "the chip's setup for firmware, a Linux system or a script",
     "Reads registers 0x40..0x5E from the chip and writes the writes that bring a chip\n"
     "from its power-on values to that setup, in register order, to FILE (replaced\n"
     "whole) or, without FILE or with -, to standard output. The status flag registers\n"
     "0x45 and 0x56 are never written, and 0x40 goes out with MRST and SRST as 1, so\n"
     "the setup starts no reset. --changed keeps the registers that differ from their\n"
     "power-on values. --format is one of:\n", exportSetup, formatHelp},
    {"diff", "A B", 2, 2, "compare two snapshots, or a snapshot and the chip",
     "Compares the register values of A and B, register by register and field by\n"
     "field, and prints one line for each register that differs:\n"
     "  0x46: 0x0A -> 0x2A  DEMP 0 -> 2\n"
     "A or B may be - for the registers as the chip holds them now. Exit status 0 when\n"
     "they agree, 1 when they differ, 2 on an error.", diff},
    {"serve", "", 0, 0, "the board as a SCPI instrument on the network",
     "Opens the board and serves it as a SCPI instrument over a raw TCP socket (port\n"
     "5025, as VISA's TCPIP0::host::5025::SOCKET) until " EVM_STOP_KEYS ", then closes\n"
     "it and exits 0. Prints \"listening on HOST:PORT\" first (with --listen HOST:0\n"
     "the port the system chose).\n"
     "The board stays open for the whole run, shared by every client; a remote board\n"
     "library joins it, and may reopen it under another interface only while no other\n"
     "one holds it. Clients take turns a command at a time.\n"
     "There is no authentication: anyone who reaches the port drives the chip. Keep\n"
     "the default loopback address and reach it through an SSH tunnel.\n"
     "Commands, one line each, ';' between several:", serve, evm::scpi::commandListHelp},
    {"help", "[COMMAND]", 0, 1, "this help, or the help of one command", "Prints the help of COMMAND, or the list of commands.", nullptr},
};

std::span<const Command> commands() { return kCommands; }

const Command *findCommand(std::string_view name)
{
    for (const Command &c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

void printError(std::ostream &err, std::string_view message)
{
    // One write, so that the line is never torn by another writer of the stream.
    const std::string line = "evm5170ctl: " + oneLine(message) + '\n';
    err.write(line.data(), std::streamsize(line.size()));
    flushed(err);
}

int runCommand(Context &context, const std::vector<std::string> &arguments)
{
    const auto parsed = parseCommandLine(arguments);
    if (const std::string *error = std::get_if<std::string>(&parsed)) {
        printError(context.err, *error);
        return Failure;
    }
    return runCommand(context, std::get<Invocation>(parsed));
}

int runCommand(Context &context, const Invocation &inv)
{
    if (inv.version) {
        context.out << "evm5170ctl " EVM_PROGRAM_VERSION "\n";
        flushed(context.out);
        return Success;
    }
    if (inv.help) {
        context.out << (inv.command ? commandHelp(*inv.command) : generalHelp());
        flushed(context.out);
        return Success;
    }
    try {
        Board board(context, inv);
        Call call{context, inv, board};
        if (!inv.command->run)
            fail(inv.command->name + std::string(" is not a command"));
        const int status = inv.command->run(call);
        if (!flushed(context.out))
            fail("cannot write to standard output");
        return status;
    } catch (const CommandError &e) {
        flushed(context.out);
        printError(context.err, e.message);
        return Failure;
    }
}

} // namespace ctl
