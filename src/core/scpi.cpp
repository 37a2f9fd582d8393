#include "scpi.h"

#include "board.h"
#include "fieldmath.h"
#include "fieldset.h"
#include "inttext.h"
#include "registers.h"

#include <QList>

#include <span>
#include <vector>

namespace evm::scpi {

namespace {

// An error of the command being run; the session queues it.
struct Failure {
    int code;
    QString info;
};

[[noreturn]] void fail(int code, const QString &info = QString())
{
    throw Failure{code, info};
}

bool isBlank(char c)
{
    return uchar(c) <= 0x20;
}

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

QByteArrayView trimmed(QByteArrayView t)
{
    while (!t.isEmpty() && isBlank(t.front()))
        t = t.sliced(1);
    while (!t.isEmpty() && isBlank(t.back()))
        t.chop(1);
    return t;
}

// A client's text inside an error message: printable, short, and no quote to end the string early.
QString quoted(QByteArrayView text)
{
    QString out;
    for (qsizetype i = 0; i < text.size() && i < 40; ++i) {
        const char c = text[i];
        out += c == '"' ? QLatin1Char('\'') : (uchar(c) < 0x20 || uchar(c) > 0x7E) ? QLatin1Char('?') : QLatin1Char(c);
    }
    if (text.size() > 40)
        out += QStringLiteral("...");
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

// One node of a header pattern: REGister is REG or REGISTER.
struct Node {
    QByteArray shortForm;
    QByteArray longForm;
    bool optional = false;

    bool matches(const QByteArray &mnemonic) const { return mnemonic == shortForm || mnemonic == longForm; }
};

struct Pattern {
    QByteArray common; // "*IDN" for a common command, else empty
    std::vector<Node> nodes;
    bool query = false;
};

// "REGister[:VALue]?" into its nodes; the upper-case letters are the short form.
Pattern compile(const char *header)
{
    Pattern p;
    QByteArray h(header);
    if (h.endsWith('?')) {
        p.query = true;
        h.chop(1);
    }
    if (h.startsWith('*')) {
        p.common = h;
        return p;
    }
    bool optional = false;
    Node node;
    auto finish = [&]() {
        if (node.longForm.isEmpty())
            return;
        p.nodes.push_back(node);
        node = Node();
    };
    for (char c : h) {
        if (c == '[') {
            finish();
            optional = true;
        } else if (c == ']' || c == ':') {
            finish();
            if (c == ']')
                optional = false;
        } else {
            if (node.longForm.isEmpty())
                node.optional = optional;
            if (c >= 'A' && c <= 'Z' && node.shortForm.size() == node.longForm.size())
                node.shortForm += c;
            node.longForm += char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
    }
    finish();
    return p;
}

bool matchNodes(const std::vector<Node> &nodes, size_t n, const QList<QByteArray> &given, qsizetype g)
{
    if (n == nodes.size())
        return g == given.size();
    if (g < given.size() && nodes[n].matches(given[g]) && matchNodes(nodes, n + 1, given, g + 1))
        return true;
    return nodes[n].optional && matchNodes(nodes, n + 1, given, g);
}

// A program message unit taken apart: header and parameters, nothing checked against the table yet.
struct Parsed {
    bool common = false;
    bool absolute = false;
    bool query = false;
    QList<QByteArray> mnemonics; // upper case; for a common command its one name with the '*'
    QList<QByteArrayView> params;
};

Parsed parseUnit(QByteArrayView text)
{
    Parsed u;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto mnemonic = [&]() {
        if (i >= n || !isLetter(text[i]))
            fail(SyntaxError, QStringLiteral("header %1").arg(quoted(text)));
        QByteArray m;
        while (i < n && (isLetter(text[i]) || isDigit(text[i]) || text[i] == '_')) {
            const char c = text[i++];
            m += char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
        return m;
    };
    if (text[0] == '*') {
        u.common = true;
        ++i;
        u.mnemonics << ('*' + mnemonic());
    } else {
        if (text[0] == ':') {
            u.absolute = true;
            ++i;
        }
        u.mnemonics << mnemonic();
        while (i < n && text[i] == ':') {
            ++i;
            u.mnemonics << mnemonic();
        }
    }
    if (i < n && text[i] == '?') {
        u.query = true;
        ++i;
    }
    if (i < n && !isBlank(text[i]))
        fail(SyntaxError, QStringLiteral("header %1").arg(quoted(text)));
    const QByteArrayView rest = trimmed(text.sliced(i));
    if (rest.isEmpty())
        return u;
    qsizetype start = 0;
    for (qsizetype k = 0; k <= rest.size(); ++k) {
        if (k < rest.size() && rest[k] != ',')
            continue;
        const QByteArrayView p = trimmed(rest.sliced(start, k - start));
        if (p.isEmpty())
            fail(SyntaxError, QStringLiteral("empty parameter"));
        u.params << p;
        start = k + 1;
    }
    return u;
}

QByteArray number(int64_t v)
{
    return QByteArray::number(qlonglong(v));
}

} // namespace

std::optional<int64_t> parseNumber(QByteArrayView t)
{
    t = trimmed(t);
    int base = 10;
    bool negative = false;
    if (t.size() >= 2 && t[0] == '#') {
        const char b = char(t[1] & ~0x20);
        base = b == 'H' ? 16 : b == 'Q' ? 8 : b == 'B' ? 2 : 0;
        if (base == 0)
            return std::nullopt;
        t = t.sliced(2);
    } else {
        if (!t.isEmpty() && (t[0] == '+' || t[0] == '-')) {
            negative = t[0] == '-';
            t = t.sliced(1);
        }
        if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
            base = 16;
            t = t.sliced(2);
        }
    }
    if (t.isEmpty())
        return std::nullopt;
    constexpr uint64_t kClamp = uint64_t(1) << 40; // far beyond 32 bits, far from overflowing
    uint64_t v = 0;
    for (char c : t) {
        int d = -1;
        if (isDigit(c))
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        if (d < 0 || d >= base)
            return std::nullopt;
        v = std::min(v * uint64_t(base) + uint64_t(d), kClamp);
    }
    return negative ? -int64_t(v) : int64_t(v);
}

const char *errorText(int code)
{
    switch (code) {
    case NoError: return "No error";
    case CommandError: return "Command error";
    case SyntaxError: return "Syntax error";
    case ParameterNotAllowed: return "Parameter not allowed";
    case MissingParameter: return "Missing parameter";
    case UndefinedHeader: return "Undefined header";
    case CommandProtected: return "Command protected";
    case SettingsConflict: return "Settings conflict";
    case DataOutOfRange: return "Data out of range";
    case IllegalParameterValue: return "Illegal parameter value";
    case HardwareError: return "Hardware error";
    case QueueOverflow: return "Queue overflow";
    }
    return "Error";
}

// The command table's handlers, with what they share.
struct Handlers {
    Session &s;
    QList<QByteArrayView> params;
    std::optional<QByteArray> &response;

    Board &board() { return s.m_board; }

    int64_t integer(int index, int64_t min, int64_t max)
    {
        const QByteArrayView text = params[index];
        const std::optional<int64_t> v = parseNumber(text);
        if (!v)
            fail(SyntaxError, QStringLiteral("%1 is not a number").arg(quoted(text)));
        if (*v < min || *v > max)
            fail(DataOutOfRange, QStringLiteral("%1 is outside %2..%3").arg(quoted(text)).arg(min).arg(max));
        return *v;
    }

    int chipRegister(int index)
    {
        const QByteArrayView text = params[index];
        const std::optional<int64_t> v = parseNumber(text);
        if (!v)
            fail(SyntaxError, QStringLiteral("%1 is not a number").arg(quoted(text)));
        if (!isChipRegister(*v))
            fail(DataOutOfRange, QStringLiteral("register %1 is outside 0x40..0x5E").arg(quoted(text)));
        return int(*v);
    }

    static QString failure(const char *kind, int32_t code)
    {
        return QLatin1String(kind) + QString::fromStdString(hexText(uint32_t(code), 4));
    }

    uint8_t readChip(int reg)
    {
        uint8_t value = 0;
        if (const int32_t code = board().read(ChipChannel, reg, value); code != 0)
            fail(HardwareError, failure("RDERR", code));
        return value;
    }

    void writeChip(int reg, uint8_t value)
    {
        if (const int32_t code = board().write(ChipChannel, reg, value); code != 0)
            fail(HardwareError, failure("WRERR", code));
    }

    const RegisterField &field(int index)
    {
        const QByteArrayView text = params[index];
        const RegisterField *f = findField(std::string_view(text.data(), size_t(text.size())));
        if (!f)
            fail(IllegalParameterValue, QStringLiteral("unknown field %1").arg(quoted(text)));
        return *f;
    }

    void answer(const QByteArray &text) { response = text; }

    void idn()
    {
        answer("EVM Controller,CDX5170 EVM," + number(board().port()) + ',' + s.m_options.programVersion);
    }
    void rst()
    {
        // As the MRST button: bit 7 of 0x40 written as 0, the other bits as they are.
        writeChip(FirstRegister, readModifyWriteBase(FirstRegister, readChip(FirstRegister)) & 0x7F);
    }
    void cls()
    {
        s.m_errors.clear();
        s.m_esr = 0;
    }
    void opc() { s.m_esr |= 0x01; }
    void opcQuery() { answer("1"); }
    void nothing() {}
    void esrQuery()
    {
        answer(number(s.m_esr));
        s.m_esr = 0;
    }
    void ese() { s.m_ese = uint8_t(integer(0, 0, 255)); }
    void eseQuery() { answer(number(s.m_ese)); }
    void sre() { s.m_sre = uint8_t(integer(0, 0, 255)) & ~0x40; }
    void sreQuery() { answer(number(s.m_sre)); }
    void stbQuery()
    {
        uint8_t stb = 0;
        if (!s.m_errors.empty())
            stb |= 0x04; // error queue not empty
        if (s.m_esr & s.m_ese)
            stb |= 0x20; // event status summary
        if (stb & s.m_sre)
            stb |= 0x40; // master summary
        answer(number(stb));
    }
    void tstQuery() { answer("0"); }

    void reg() { writeChip(chipRegister(0), uint8_t(integer(1, 0, 255))); }
    void regQuery() { answer(number(readChip(chipRegister(0)))); }
    void regAllQuery()
    {
        QByteArray values;
        for (int r = FirstRegister; r <= LastRegister; ++r) {
            if (r != FirstRegister)
                values += ',';
            values += number(readChip(r));
        }
        answer(values);
    }
    void fieldSet()
    {
        const RegisterField &f = field(0);
        if (const QString refusal = QString::fromStdString(fieldSetRefusal(f)); !refusal.isEmpty())
            fail(IllegalParameterValue, refusal);
        const int value = int(integer(1, 0, fieldMask(f.width)));
        writeChip(f.reg, fieldSetByte(f, readChip(f.reg), value));
    }
    void fieldQuery()
    {
        const RegisterField &f = field(0);
        answer(number(fieldValue(readChip(f.reg), f.shift, f.width)));
    }
    void line()
    {
        const int32_t pin = int32_t(integer(0, 0, 63));
        const uint8_t level = uint8_t(integer(1, 0, 255));
        if (const int32_t code = board().write(PinChannel, pin, level); code != 0)
            fail(HardwareError, failure("SPERR", code));
    }
    void errorQuery() { answer(s.nextError()); }
    void errorCountQuery() { answer(number(s.queuedErrors())); }
    void versionQuery() { answer("1999.0"); }

    // The remote board library's commands: the library's own codes, passed through.
    void boardOpenQuery()
    {
        const auto interfaceCode = int32_t(integer(0, INT32_MIN, INT32_MAX));
        const auto address = int32_t(integer(1, INT32_MIN, INT32_MAX));
        const auto port = params.size() > 2 ? int32_t(integer(2, INT32_MIN, INT32_MAX)) : 0;
        std::string refusal;
        const int32_t opened = board().open(port, interfaceCode, address, refusal);
        answer(number(opened));
        // The answer is what a library's _init would answer; the queue says why it is 0.
        if (!refusal.empty())
            fail(SettingsConflict, QString::fromStdString(refusal));
        if (opened == 0)
            fail(HardwareError, QStringLiteral("the board library found no board"));
    }
    void boardClose() { board().close(); }
    void boardReadQuery()
    {
        const auto channel = int32_t(integer(0, INT32_MIN, INT32_MAX));
        const auto reg = int32_t(integer(1, INT32_MIN, INT32_MAX));
        uint8_t value = 0;
        const int32_t code = board().read(channel, reg, value);
        answer(number(code) + ',' + number(value));
    }
    void boardWriteQuery()
    {
        const auto channel = int32_t(integer(0, INT32_MIN, INT32_MAX));
        const auto target = int32_t(integer(1, INT32_MIN, INT32_MAX));
        const auto value = uint8_t(integer(2, 0, 255));
        answer(number(board().write(channel, target, value)));
    }
    void boardVersionQuery() { answer(number(board().version())); }
};

// Whether a command may change the chip, a line or the board for the other clients; a
// read-only server refuses those (-203) before their handler runs.
enum class Effect { Own, Shared };

struct HeaderRow {
    const char *header;
    int minParams;
    int maxParams;
    Effect effect;
    // What a refused query still answers, so that a board library waiting on it gets an answer.
    std::optional<int32_t> refusedAnswer;
    void (Handlers::*run)();
};

namespace {

using H = Handlers;
constexpr Effect Own = Effect::Own;
constexpr Effect Shared = Effect::Shared;
constexpr std::nullopt_t None = std::nullopt;
constexpr HeaderRow kHeaders[] = {
    {"*IDN?", 0, 0, Own, None, &H::idn},
    {"*RST", 0, 0, Shared, None, &H::rst},
    {"*CLS", 0, 0, Own, None, &H::cls},
    {"*OPC", 0, 0, Own, None, &H::opc},
    {"*OPC?", 0, 0, Own, None, &H::opcQuery},
    {"*WAI", 0, 0, Own, None, &H::nothing},
    {"*ESR?", 0, 0, Own, None, &H::esrQuery},
    {"*ESE", 1, 1, Own, None, &H::ese},
    {"*ESE?", 0, 0, Own, None, &H::eseQuery},
    {"*SRE", 1, 1, Own, None, &H::sre},
    {"*SRE?", 0, 0, Own, None, &H::sreQuery},
    {"*STB?", 0, 0, Own, None, &H::stbQuery},
    {"*TST?", 0, 0, Own, None, &H::tstQuery},
    {"REGister[:VALue]", 2, 2, Shared, None, &H::reg},
    {"REGister[:VALue]?", 1, 1, Own, None, &H::regQuery},
    {"REGister:ALL?", 0, 0, Own, None, &H::regAllQuery},
    {"FIELD", 2, 2, Shared, None, &H::fieldSet},
    {"FIELD?", 1, 1, Own, None, &H::fieldQuery},
    {"LINE", 2, 2, Shared, None, &H::line},
    {"SYSTem:ERRor[:NEXT]?", 0, 0, Own, None, &H::errorQuery},
    {"SYSTem:ERRor:COUNt?", 0, 0, Own, None, &H::errorCountQuery},
    {"SYSTem:VERSion?", 0, 0, Own, None, &H::versionQuery},
    // A hold on the board keeps others from reopening it, and a reopen changes it for all.
    {"BOARD:OPEN?", 2, 3, Shared, 0, &H::boardOpenQuery},
    {"BOARD:CLOSE", 0, 0, Shared, None, &H::boardClose},
    {"BOARD:READ?", 2, 2, Own, None, &H::boardReadQuery},
    {"BOARD:WRITE?", 3, 3, Shared, ReadOnlyWriteCode, &H::boardWriteQuery},
    {"BOARD:VERsion?", 0, 0, Own, None, &H::boardVersionQuery},
};

const std::vector<Pattern> &patterns()
{
    static const std::vector<Pattern> compiled = [] {
        std::vector<Pattern> out;
        for (const HeaderRow &row : kHeaders)
            out.push_back(compile(row.header));
        return out;
    }();
    return compiled;
}

const HeaderRow *find(const Parsed &u, const QList<QByteArray> &mnemonics)
{
    const std::vector<Pattern> &all = patterns();
    for (size_t i = 0; i < all.size(); ++i) {
        const Pattern &p = all[i];
        if (p.query != u.query || p.common.isEmpty() != !u.common)
            continue;
        if (u.common ? p.common == mnemonics.front() : matchNodes(p.nodes, 0, mnemonics, 0))
            return &kHeaders[i];
    }
    return nullptr;
}

} // namespace

Session::Outcome Session::runUnit(QByteArrayView text, QByteArray &path, std::optional<QByteArray> &response)
{
    try {
        const Parsed u = parseUnit(text);
        const HeaderRow *row = nullptr;
        QList<QByteArray> used = u.mnemonics;
        if (u.common) {
            row = find(u, used);
        } else {
            // After a command, a header without a leading ':' starts where the last one ended
            // (SCPI's compound rule); one that does not fit there is taken from the root.
            if (!u.absolute && !path.isEmpty()) {
                QList<QByteArray> relative = path.split(':');
                relative += u.mnemonics;
                if ((row = find(u, relative)))
                    used = relative;
            }
            if (!row)
                row = find(u, u.mnemonics);
        }
        if (!row)
            fail(UndefinedHeader, quoted(text));
        if (!u.common) {
            used.removeLast();
            path = used.join(':');
        }
        if (u.params.size() < row->minParams)
            fail(MissingParameter);
        if (u.params.size() > row->maxParams)
            fail(ParameterNotAllowed);
        Handlers h{*this, u.params, response};
        if (row->effect == Effect::Shared && m_options.readOnly) {
            if (row->refusedAnswer)
                h.answer(number(*row->refusedAnswer));
            fail(CommandProtected, QStringLiteral("the server is read-only"));
        }
        (h.*(row->run))();
        return Outcome::Done;
    } catch (const Failure &f) {
        pushError(f.code, f.info);
        // A command error ends the line; an execution error leaves the rest to run.
        return f.code <= -100 && f.code > -200 ? Outcome::StopLine : Outcome::Failed;
    }
}

std::optional<QByteArray> Session::execute(QByteArrayView line)
{
    startLine(line);
    while (runNext()) {
    }
    return takeAnswer();
}

void Session::startLine(QByteArrayView line)
{
    m_line = Line();
    m_line.text = line.toByteArray();
    findNext(0);
}

void Session::findNext(qsizetype from)
{
    const QByteArrayView text(m_line.text);
    while (from <= text.size()) {
        qsizetype end = m_line.text.indexOf(';', from);
        if (end < 0)
            end = text.size();
        const QByteArrayView unit = trimmed(text.sliced(from, end - from));
        from = end + 1;
        if (!unit.isEmpty()) {
            m_line.unit = unit;
            m_line.after = from;
            m_line.pending = true;
            return;
        }
    }
    m_line.pending = false;
}

bool Session::runNext()
{
    if (!m_line.pending)
        return false;
    std::optional<QByteArray> response;
    const Outcome outcome = runUnit(m_line.unit, m_line.path, response);
    if (response && m_line.answer)
        m_line.answer->append(';').append(*response);
    else if (response)
        m_line.answer = std::move(response);
    if (outcome == Outcome::StopLine)
        m_line.pending = false;
    else
        findNext(m_line.after);
    return true;
}

std::vector<CommandInfo> commandTable()
{
    std::vector<CommandInfo> out;
    for (const HeaderRow &row : kHeaders)
        out.push_back({row.header, row.effect == Effect::Shared});
    return out;
}

void Session::refuseLine(const QString &why)
{
    pushError(CommandError, why);
}

void Session::pushError(int code, const QString &info)
{
    QByteArray text = errorText(code);
    if (!info.isEmpty())
        text += ';' + info.toLatin1();
    text.replace('"', '\'');
    if (code <= -100 && code > -200)
        m_esr |= 0x20; // command error
    else if (code <= -200 && code > -300)
        m_esr |= 0x10; // execution error
    else if (code <= -300 && code > -400)
        m_esr |= 0x08; // device-specific error
    if (m_errors.size() < size_t(QueueSize)) {
        m_errors.push_back({code, text});
    } else {
        m_errors.back() = {QueueOverflow, errorText(QueueOverflow)};
        m_esr |= 0x08;
    }
}

QByteArray Session::nextError()
{
    if (m_errors.empty())
        return QByteArray("0,\"No error\"");
    const Queued e = m_errors.front();
    m_errors.pop_front();
    return number(e.code) + ",\"" + e.text + '"';
}

} // namespace evm::scpi
