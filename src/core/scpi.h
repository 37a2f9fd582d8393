#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "ostrel_abi.h"

#include <cerrno>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The board as a SCPI instrument: the command lines of one client parsed and run against
// the board, with the client's own error queue and IEEE 488.2 status bytes. No sockets here;
// the server hands each line in and sends back what comes out.
namespace evm::scpi {

// What one client's commands reach: the five library entries, with the board port kept
// beside them.
class Board
{
public:
    virtual ~Board() = default;
    // The port of the open board, 0 when none is open.
    virtual int32_t port() const = 0;
    // The board under this choice for this client; answers its port, 0 for no board. A board
    // shared with others may refuse a choice that would take it from them: 0, and the reason
    // in refusal.
    virtual int32_t open(int32_t port, int32_t interfaceCode, int32_t deviceAddress, std::string &refusal) = 0;
    // This client is done with the board that open() gave it.
    virtual void close() = 0;
    // Reach the library only while port() is not 0; before that they answer the library's
    // "not open" code themselves.
    virtual int32_t read(int32_t channel, int32_t reg, uint8_t &value) = 0;
    virtual int32_t write(int32_t channel, int32_t regOrLine, uint8_t value) = 0;
    virtual int32_t version() = 0;
};

// SCPI error numbers this instrument uses.
enum Error {
    NoError = 0,
    CommandError = -100,
    SyntaxError = -102,
    ParameterNotAllowed = -108,
    MissingParameter = -109,
    UndefinedHeader = -113,
    CommandProtected = -203,
    SettingsConflict = -221,
    DataOutOfRange = -222,
    IllegalParameterValue = -224,
    HardwareError = -240,
    QueueOverflow = -350,
};

// The SCPI text of an error number, e.g. "Undefined header".
const char *errorText(int code);

// What a read-only server answers to BOARD:WRITE?, so that the remote board library gets an
// answer instead of a silence: the shared system-error code plus EACCES.
constexpr int32_t ReadOnlyWriteCode = OSTREL_SYSTEM_ERROR + EACCES;

struct Options {
    bool readOnly = false;        // refuse every command that changes the chip, a line or the board (-203)
    QByteArray programVersion;    // the fourth field of *IDN?
};

class Session
{
public:
    static constexpr int QueueSize = 32; // the last place is kept for "Queue overflow"

    Session(Board &board, Options options) : m_board(board), m_options(std::move(options)) {}

    // Runs one line (its terminator removed): every command in it, in order. Answers the
    // responses of its queries joined by ';', or nothing when it asked nothing that answered.
    std::optional<QByteArray> execute(QByteArrayView line);

    // The same a command at a time, so that a server can let other clients' commands run in
    // between: startLine, then runNext until lineDone, then takeAnswer. A line still running
    // when the next starts is dropped where it stands.
    void startLine(QByteArrayView line);
    // Runs the line's next command; false when none was left.
    bool runNext();
    bool lineDone() const { return !m_line.pending; }
    std::optional<QByteArray> takeAnswer() { return std::exchange(m_line.answer, std::nullopt); }

    // A line the server refused to take whole (longer than it accepts).
    void refuseLine(const QString &why);

    // Queues an error; info, when given, follows the text after ';'.
    void pushError(int code, const QString &info = QString());
    int queuedErrors() const { return int(m_errors.size()); }
    // The oldest queued error as SYSTem:ERRor? answers it, and takes it off the queue.
    QByteArray nextError();

private:
    enum class Outcome { Done, Failed, StopLine };

    Outcome runUnit(QByteArrayView text, QByteArray &path, std::optional<QByteArray> &response);
    // Finds the line's next command that is not empty, from offset from on.
    void findNext(qsizetype from);

    // Handlers of the command table.
    friend struct Handlers;

    Board &m_board;
    Options m_options;
    struct Line {
        QByteArray text;
        QByteArrayView unit;  // the next command, within text
        qsizetype after = 0;  // where the one after it starts
        bool pending = false; // unit is still to run
        QByteArray path;      // the header path of the compound rule
        std::optional<QByteArray> answer;
    } m_line;
    struct Queued {
        int code;
        QByteArray text;
    };
    std::deque<Queued> m_errors;
    uint8_t m_esr = 0; // standard event status register
    uint8_t m_ese = 0; // its enable mask
    uint8_t m_sre = 0; // service request enable
};

// The command table as tests walk it: each header (as "REGister[:VALue]?") and whether the
// command may change the chip, a line or the board for the other clients.
struct CommandInfo {
    const char *header;
    bool changes;
};
std::vector<CommandInfo> commandTable();

// A parameter as a number: decimal with an optional sign, or hexadecimal after 0x or #H,
// octal after #Q, binary after #B. Values beyond 32 bits come back clamped, so a range check
// rejects them; nullopt when the text is no number.
std::optional<int64_t> parseNumber(QByteArrayView text);

} // namespace evm::scpi
