#include "ctl_commands.h"

#include "board.h"
#include "fielddiff.h"
#include "fieldmath.h"
#include "fieldset.h"
#include "inttext.h"
#include "registers.h"
#include "scpi_server.h"
#include "script.h"
#include "settingsfile.h"
#include "textfiles.h"

#include <QFileInfo>
#include <QThread>

#include <cstdio>

namespace ctl {

namespace {

using evm::BoardSession;

// A failure of the command: its one-line message ends the run with status 2.
struct CommandError {
    QString message;
};

[[noreturn]] void fail(const QString &message)
{
    throw CommandError{message};
}

// One line, whatever a file name or a library's reason holds.
QByteArray oneLine(const QString &text)
{
    QString line = text;
    for (QChar &c : line)
        if (c.unicode() < 0x20)
            c = QLatin1Char(' ');
    return line.toUtf8();
}

void writeOut(const QByteArray &bytes)
{
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()))
        fail(QStringLiteral("cannot write to standard output"));
}

void printLine(const QString &text)
{
    writeOut(text.toUtf8() + '\n');
}

QString hex2(int v)
{
    return QStringLiteral("0x") + evm::hexText(static_cast<uint32_t>(v), 2);
}

int32_t number(const QString &text)
{
    try {
        return evm::toInteger(text);
    } catch (const evm::ConversionError &e) {
        fail(e.message());
    }
}

int chipRegister(const QString &text)
{
    const int32_t reg = number(text);
    if (!evm::isChipRegister(reg))
        fail(QStringLiteral("register %1 is outside 0x40..0x5E").arg(text));
    return reg;
}

QString fieldNameList()
{
    QStringList names;
    for (const evm::RegisterField &f : evm::registerFields())
        names << QLatin1String(f.name);
    return names.join(QLatin1Char(' '));
}

const evm::RegisterField &namedField(const QString &name)
{
    const evm::RegisterField *f = evm::findField(name);
    if (!f)
        fail(QStringLiteral("unknown field '%1'; the fields are %2").arg(name, fieldNameList()));
    return *f;
}

// The board, opened on first use with the interface the options and the settings file give.
class Board
{
public:
    explicit Board(const Invocation &inv) : m_inv(inv) { checkInterfaceOptions(); }

    // Opens the board once; later calls give the first outcome.
    BoardSession::Status open()
    {
        if (m_status)
            return *m_status;
        if (m_inv.trace)
            m_session.library().trace = [](const QString &line) {
                std::fputs(("trace: " + line.toUtf8() + '\n').constData(), stderr);
            };
        m_status = m_session.open(connection());
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
            fail(QStringLiteral("%1 reading register %2; please check the interface setting (%3)")
                     .arg(evm::communicationErrorText("RDERR", a.code), hex2(reg), evm::interfaceText(m_session.settings())));
        return a.value;
    }

    void write(int32_t reg, uint8_t value, const QString &after = QString())
    {
        if (const int32_t code = session().write(reg, value); code != 0)
            fail(QStringLiteral("%1 writing %2 to register %3%4")
                     .arg(evm::communicationErrorText("WRERR", code), hex2(value), hex2(reg), after));
    }

    evm::RegisterValues readAll()
    {
        evm::RegisterValues values{};
        for (int i = 0; i < evm::RegisterCount; ++i)
            values[i] = read(evm::FirstRegister + i);
        return values;
    }

private:
    void checkInterfaceOptions()
    {
        if (m_inv.interface) {
            const QString name = m_inv.interface->toLower();
            if (name != QLatin1String("iic") && name != QLatin1String("spi"))
                fail(QStringLiteral("--interface takes iic or spi, not '%1'").arg(*m_inv.interface));
            m_item = name == QLatin1String("iic") ? 0 : 1;
        }
        if (m_inv.address) {
            const int32_t a = number(*m_inv.address);
            if (a < 0x44 || a > 0x47)
                fail(QStringLiteral("--address %1 is outside 0x44..0x47").arg(*m_inv.address));
            if (m_item == 1)
                fail(QStringLiteral("--address is an IIC device address; SPI has none"));
            m_item = 0;
            m_address = a;
        }
    }

    // The settings file is read only when the options leave something open.
    evm::ConnectionSettings connection()
    {
        if (m_address)
            return evm::connectionSettingsFor(0, *m_address);
        if (m_item == 1)
            return evm::connectionSettingsFor(1, 0);
        const auto file = evm::openSettingsFile();
        const evm::InterfaceChoice choice = evm::readInterfaceChoice(file.get());
        if (!choice.ok)
            printError(QStringLiteral("warning: cannot read the interface settings in %1; going on with %2")
                           .arg(evm::settingsFilePath(),
                                evm::interfaceText(evm::connectionSettingsFor(choice.itemIndex, choice.chosenAddress))));
        if (m_item == 0) // IIC asked for, the file on SPI: the first IIC address, as a switch to IIC chooses
            return evm::connectionSettingsFor(0, choice.itemIndex == 0 ? choice.chosenAddress : 0x44);
        return evm::connectionSettingsFor(choice.itemIndex, choice.chosenAddress);
    }

    const Invocation &m_inv;
    std::optional<int> m_item;
    std::optional<int32_t> m_address;
    std::optional<BoardSession::Status> m_status;
    BoardSession m_session;
};

int info(const Invocation &, Board &board)
{
    const BoardSession::Status status = board.open();
    BoardSession &s = board.opened();
    if (status == BoardSession::Status::CannotLoad || status == BoardSession::Status::InvalidLibrary)
        fail(s.failureText());
    // Without a board the library still tells its version; the reason comes last.
    printLine(QStringLiteral("library: %1").arg(s.library().fileName()));
    printLine(QStringLiteral("version: %1").arg(evm::libraryVersionText(s.library().getVer())));
    printLine(QStringLiteral("interface: %1").arg(evm::interfaceText(s.settings())));
    printLine(QStringLiteral("port: %1").arg(s.port()));
    if (status != BoardSession::Status::Open)
        fail(s.failureText());
    return Success;
}

int readRegister(const Invocation &inv, Board &board)
{
    const int reg = chipRegister(inv.arguments[0]);
    printLine(hex2(board.read(reg)));
    return Success;
}

int writeRegister(const Invocation &inv, Board &board)
{
    const int reg = chipRegister(inv.arguments[0]);
    const int32_t value = number(inv.arguments[1]);
    if (value < 0 || value > 0xFF)
        fail(QStringLiteral("value %1 is outside 0..255").arg(inv.arguments[1]));
    board.write(reg, static_cast<uint8_t>(value));
    return Success;
}

int getField(const Invocation &inv, Board &board)
{
    const evm::RegisterField &f = namedField(inv.arguments[0]);
    printLine(QString::number(evm::fieldValue(board.read(f.reg), f.shift, f.width)));
    return Success;
}

int setField(const Invocation &inv, Board &board)
{
    const evm::RegisterField &f = namedField(inv.arguments[0]);
    if (const QString refusal = evm::fieldSetRefusal(f); !refusal.isEmpty())
        fail(refusal);
    const int32_t value = number(inv.arguments[1]);
    const int top = evm::fieldMask(f.width);
    if (value < 0 || value > top)
        fail(QStringLiteral("value %1 is outside 0..%2 for %3").arg(inv.arguments[1]).arg(top).arg(QLatin1String(f.name)));
    board.write(f.reg, evm::fieldSetByte(f, board.read(f.reg), value));
    return Success;
}

int dump(const Invocation &inv, Board &board)
{
    const evm::RegisterValues values = board.readAll();
    const QByteArray text = inv.fields ? evm::annotatedSnapshotText(values) : evm::snapshotText(values);
    if (inv.arguments.isEmpty()) {
        writeOut(text);
        return Success;
    }
    if (const auto error = evm::saveWholeFile(inv.arguments[0], text))
        fail(QStringLiteral("cannot write %1: %2").arg(inv.arguments[0], *error));
    return Success;
}

QByteArray fileBytes(const QString &path)
{
    if (!QFileInfo(path).isFile())
        fail(QStringLiteral("%1: %2").arg(path, QFileInfo::exists(path) ? QStringLiteral("not a file")
                                                                         : QStringLiteral("no such file")));
    QByteArray bytes;
    if (const auto error = evm::readWholeFile(path, bytes))
        fail(QStringLiteral("cannot read %1: %2").arg(path, *error));
    return bytes;
}

// Stops a run from inside the script sink at a write that the board refused.
struct WriteRefused {
    CommandError error;
};

QString writesBefore(int writes)
{
    if (writes == 0)
        return QStringLiteral("nothing was written before it");
    return writes == 1 ? QStringLiteral("1 write before it took effect")
                       : QStringLiteral("%1 writes before it took effect").arg(writes);
}

int runScript(const Invocation &inv, Board &board)
{
    const QString &path = inv.arguments[0];
    const QStringList lines = evm::splitScriptLines(fileBytes(path));
    int line = 0;
    int writes = 0;
    evm::ScriptSink sink;
    sink.progress = [&line](int index) { line = index + 1; };
    if (!inv.check) {
        sink.write = [&](int32_t reg, int32_t value) {
            try {
                board.write(reg, static_cast<uint8_t>(value),
                            QStringLiteral(" (%1)").arg(writesBefore(writes)));
            } catch (CommandError &e) {
                throw WriteRefused{e};
            }
            ++writes;
        };
        sink.sleep = [](int32_t ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
    }
    if (!inv.check)
        board.session(); // no board is the error of the whole run, not of its first write
    evm::ScriptResult result;
    try {
        result = evm::runScriptLines(lines, sink);
    } catch (const WriteRefused &refused) {
        fail(QStringLiteral("%1:%2: %3").arg(path).arg(line).arg(refused.error.message));
    }
    if (result.stopped)
        fail(QStringLiteral("%1:%2: %3 (%4)").arg(path).arg(result.line).arg(result.message,
                                                                         inv.check ? QStringLiteral("checked only")
                                                                                   : writesBefore(writes)));
    return Success;
}

int diff(const Invocation &inv, Board &board)
{
    std::optional<evm::RegisterValues> chip;
    auto side = [&](const QString &name) {
        if (name == QLatin1String("-")) {
            if (!chip)
                chip = board.readAll();
            return *chip;
        }
        evm::RegisterValues values{};
        if (const auto error = evm::parseSnapshot(fileBytes(name), values))
            fail(QStringLiteral("%1: %2").arg(name, *error));
        return values;
    };
    const evm::RegisterValues a = side(inv.arguments[0]);
    const evm::RegisterValues b = side(inv.arguments[1]);
    const auto differences = evm::compareRegisters(a, b, inv.settingsOnly ? evm::Comparison::SettingsOnly
                                                                           : evm::Comparison::WholeBytes);
    for (const evm::RegisterDifference &d : differences)
        printLine(evm::differenceText(d));
    if (differences.empty())
        return Success;
    const auto name = [](const QString &n) { return n == QLatin1String("-") ? QStringLiteral("the chip") : n; };
    std::fflush(stdout);
    printError(QStringLiteral("%1 and %2 differ in %3 register%4")
                   .arg(name(inv.arguments[0]), name(inv.arguments[1]))
                   .arg(differences.size())
                   .arg(differences.size() == 1 ? "" : "s"));
    return Differ;
}

int serve(const Invocation &inv, Board &board)
{
    const auto options = serveOptions(inv.listen, inv.readOnly, inv.maxClients);
    if (const QString *error = std::get_if<QString>(&options))
        fail(*error);
    // Without a board the server still serves: BOARD:OPEN? tries again.
    if (board.open() == BoardSession::Status::NoBoard)
        printError(QStringLiteral("warning: %1; serving without a board").arg(board.opened().failureText()));
    else
        board.session();
    QString error;
    const int status = serveBoard(std::get<ServeOptions>(options), board.opened(), &error, [](const QString &line) {
        printLine(line);
        std::fflush(stdout);
    });
    if (status != Success)
        fail(error);
    return status;
}

struct Handler {
    const char *name;
    int (*run)(const Invocation &, Board &);
};

constexpr Handler kHandlers[] = {
    {"info", info}, {"read", readRegister}, {"write", writeRegister}, {"get", getField},
    {"set", setField}, {"dump", dump}, {"run", runScript}, {"diff", diff}, {"serve", serve},
};

} // namespace

void printError(const QString &message)
{
    std::fputs("evm5170ctl: ", stderr);
    std::fputs(oneLine(message).constData(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

int runCommand(const Invocation &inv)
{
    if (inv.help) {
        std::fputs((inv.command ? commandHelp(*inv.command) : generalHelp()).toUtf8().constData(), stdout);
        return Success;
    }
    try {
        Board board(inv);
        for (const Handler &h : kHandlers) {
            if (qstrcmp(h.name, inv.command->name) != 0)
                continue;
            const int status = h.run(inv, board);
            if (std::fflush(stdout) != 0 || std::ferror(stdout))
                fail(QStringLiteral("cannot write to standard output"));
            return status;
        }
        fail(QStringLiteral("%1 is not a command").arg(QLatin1String(inv.command->name)));
    } catch (const CommandError &e) {
        std::fflush(stdout);
        printError(e.message);
        return Failure;
    }
}

} // namespace ctl
