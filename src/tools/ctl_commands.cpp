#include "ctl_commands.h"

#include "boardaccess.h"
#include "boardsession.h"
#include "fielddiff.h"
#include "inttext.h"
#include "registers.h"
#include "scpi/commands.h"
#include "scpi_server.h"
#include "script.h"
#include "settingsfile.h"
#include "textfiles.h"

#include <chrono>
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

std::string fieldNameList()
{
    std::string names;
    for (const evm::RegisterField &f : evm::registerFields())
        names += (names.empty() ? "" : " ") + std::string(f.name);
    return names;
}

const evm::RegisterField &namedField(const std::string &name)
{
    const evm::RegisterField *f = evm::findField(name);
    if (!f)
        fail("unknown field '" + name + "'; the fields are " + fieldNameList());
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
    const std::optional<int32_t> value = evm::parseInteger(text);
    const evm::FieldValueCheck check = evm::checkFieldValue(f, value);
    switch (check.kind) {
    case evm::FieldValueCheck::Kind::Refused:
        fail(check.refusal);
    case evm::FieldValueCheck::Kind::NotANumber:
        fail(evm::ConversionError(text).message());
    case evm::FieldValueCheck::Kind::OutOfRange:
        fail("value " + text + " is outside 0.." + std::to_string(check.top) + " for " + f.name);
    case evm::FieldValueCheck::Kind::Settable:
        break;
    }
    board.setField(f, *value);
    return Success;
}

int dump(Call &call)
{
    const Invocation &inv = call.invocation;
    Board &board = call.board;
    const evm::RegisterValues values = board.readAll();
    const std::string text = inv.fields ? evm::annotatedSnapshotText(values) : evm::snapshotText(values);
    // "-" is standard output, as for any tool; a file named "-" is ./-
    if (inv.arguments.empty() || inv.arguments[0] == "-") {
        writeOut(call, text);
        return Success;
    }
    if (const auto error = evm::saveWholeFile(inv.arguments[0], text))
        fail("cannot write " + inv.arguments[0] + ": " + *error);
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

int runScript(Call &call)
{
    const Invocation &inv = call.invocation;
    Board &board = call.board;
    const std::string &path = inv.arguments[0];
    const std::vector<std::string> lines = evm::splitScriptLines(fileBytes(path));
    int line = 0;
    int writes = 0;
    evm::ScriptSink sink;
    sink.progress = [&line](int index) { line = index + 1; };
    if (!inv.check) {
        sink.write = [&](int32_t reg, int32_t value) {
            try {
                board.write(reg, static_cast<uint8_t>(value), " (" + writesBefore(writes) + ")");
            } catch (CommandError &e) {
                throw WriteRefused{e};
            }
            ++writes;
        };
        sink.sleep = [](int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    }
    if (!inv.check)
        board.session(); // no board is the error of the whole run, not of its first write
    evm::ScriptResult result;
    try {
        result = evm::runScriptLines(lines, sink);
    } catch (const WriteRefused &refused) {
        fail(path + ":" + std::to_string(line) + ": " + refused.error.message);
    }
    if (result.stopped)
        fail(path + ":" + std::to_string(result.line) + ": " + result.message + " ("
             + (inv.check ? std::string("checked only") : writesBefore(writes)) + ")");
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
     "any case; an unknown name lists the valid ones.", getField},
    {"set", "FIELD VALUE", 2, 2, "write one field by name",
     "Reads the field's register from the chip, puts VALUE into the field and writes\n"
     "the register back; the other bits keep what the chip holds. Status flags\n"
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
     "the run too. SCRIPT - reads the script from standard input.", runScript},
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
