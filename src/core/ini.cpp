#include "ini.h"

#include "inttext.h"

#include <cstdint>

namespace evm::ini {

namespace {

using Text = Document::Text;
using Item = Document::Item;
using Typed = Document::Typed;

// ---- characters

enum { Space = 0x1, Special = 0x2 };

constexpr int traitsOf(unsigned char c)
{
    switch (c) {
    case '\t':
    case ' ':
        return Space;
    case '\n':
    case '\r':
        return Space | Special;
    case '"':
    case ';':
    case '=':
    case '\\':
        return Special;
    default:
        return 0;
    }
}

int fromHex(uint32_t c)
{
    if (c >= '0' && c <= '9')
        return int(c - '0');
    if (c >= 'a' && c <= 'f')
        return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return int(c - 'A' + 10);
    return -1;
}

int fromOct(uint32_t c)
{
    return c >= '0' && c <= '7' ? int(c - '0') : -1;
}

bool isAsciiAlnum(uint32_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool sameAsciiCaseless(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool startsWith(const Text &t, std::u16string_view prefix)
{
    return t.size() >= prefix.size() && std::u16string_view(t).substr(0, prefix.size()) == prefix;
}

bool endsWith(const Text &t, char16_t c)
{
    return !t.empty() && t.back() == c;
}

Text latin1Text(std::string_view bytes)
{
    Text t;
    t.reserve(bytes.size());
    for (const char c : bytes)
        t += char16_t(static_cast<unsigned char>(c));
    return t;
}

// Each unit above 0xFF becomes '?', as an 8-bit copy of a 16-bit text has always been made.
std::string latin1Bytes(std::u16string_view t)
{
    std::string out;
    out.reserve(t.size());
    for (const char16_t c : t)
        out += c > 0xFF ? '?' : char(c);
    return out;
}

// ---- UTF-8, decoded as the settings have always been: a byte that starts no valid sequence,
// and the start of a sequence cut short, become U+FFFD each. A decoder that goes on over
// several pieces keeps a sequence cut at the end of a piece for the next one.
class Utf8Decoder
{
public:
    void decode(std::string_view bytes, Text &out)
    {
        // A byte-order mark that starts the text is no character of it.
        if (!m_started) {
            m_started = true;
            if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
                bytes.remove_prefix(3);
        }
        size_t i = 0;
        if (!m_pending.empty()) {
            // The sequence cut at the end of the last piece, with what it needs of this one: a
            // failure makes U+FFFD of it and passes over one byte of this piece whatever it was.
            std::string joined = m_pending + std::string(bytes.substr(0, 4 - m_pending.size()));
            const size_t used = sequence(joined, 0, out);
            if (used == 0) {
                m_pending = joined;
                return;
            }
            if (used == size_t(-1)) {
                out += u'\uFFFD';
                i = 1;
            } else {
                i = used - m_pending.size();
            }
            m_pending.clear();
        }
        while (i < bytes.size()) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            if (b < 0x80) {
                out += char16_t(b);
                ++i;
                continue;
            }
            const size_t used = sequence(bytes, i, out);
            if (used == 0) { // cut short at the end
                if (m_stateful) {
                    m_pending = std::string(bytes.substr(i));
                    return;
                }
                out += u'\uFFFD';
                ++i;
            } else if (used == size_t(-1)) {
                out += u'\uFFFD';
                ++i;
            } else {
                i += used;
            }
        }
    }
    explicit Utf8Decoder(bool stateful) : m_stateful(stateful) {}

private:
    static bool continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

    // Bytes taken for the sequence at i, 0 when the text ends inside it, -1 when it is invalid.
    static size_t sequence(std::string_view bytes, size_t i, Text &out)
    {
        const auto b = static_cast<unsigned char>(bytes[i]);
        size_t needed;
        char32_t least;
        char32_t uc;
        if (b <= 0xC1)
            return size_t(-1);
        if (b < 0xE0) {
            needed = 2;
            least = 0x80;
            uc = b & 0x1F;
        } else if (b < 0xF0) {
            needed = 3;
            least = 0x800;
            uc = b & 0x0F;
        } else if (b < 0xF5) {
            needed = 4;
            least = 0x10000;
            uc = b & 0x07;
        } else {
            return size_t(-1);
        }
        const size_t available = bytes.size() - i - 1;
        if (available < needed - 1) {
            if (available > 0 && !continuation(static_cast<unsigned char>(bytes[i + 1])))
                return size_t(-1);
            if (available > 1 && !continuation(static_cast<unsigned char>(bytes[i + 2])))
                return size_t(-1);
            return 0;
        }
        for (size_t k = 1; k < needed; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if (!continuation(c))
                return size_t(-1);
            uc = (uc << 6) | (c & 0x3F);
        }
        if (uc < least || (uc >= 0xD800 && uc <= 0xDFFF) || uc > 0x10FFFF)
            return size_t(-1);
        if (uc >= 0x10000) {
            out += char16_t(0xD800 + ((uc - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((uc - 0x10000) & 0x3FF));
        } else {
            out += char16_t(uc);
        }
        return needed;
    }

    std::string m_pending;
    bool m_stateful;
    bool m_started = false;
};

// A byte-order mark at the start is dropped here too.
Text fromUtf8(std::string_view bytes)
{
    Text t;
    Utf8Decoder(false).decode(bytes, t);
    return t;
}

// UTF-8 of 16-bit units; a surrogate without its partner becomes `replacement`.
void appendUtf8(std::u16string_view t, std::string &out, std::string_view replacement)
{
    const auto put = [&out](char32_t uc) {
        if (uc < 0x80) {
            out += char(uc);
        } else if (uc < 0x800) {
            out += char(0xC0 | (uc >> 6));
            out += char(0x80 | (uc & 0x3F));
        } else if (uc < 0x10000) {
            out += char(0xE0 | (uc >> 12));
            out += char(0x80 | ((uc >> 6) & 0x3F));
            out += char(0x80 | (uc & 0x3F));
        } else {
            out += char(0xF0 | (uc >> 18));
            out += char(0x80 | ((uc >> 12) & 0x3F));
            out += char(0x80 | ((uc >> 6) & 0x3F));
            out += char(0x80 | (uc & 0x3F));
        }
    };
    for (size_t i = 0; i < t.size(); ++i) {
        const char16_t c = t[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF) {
                put(0x10000 + ((char32_t(c) - 0xD800) << 10) + (t[i + 1] - 0xDC00));
                ++i;
                continue;
            }
            out += replacement;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            out += replacement;
        } else {
            put(c);
        }
    }
}

std::string toUtf8(std::u16string_view t)
{
    std::string out;
    appendUtf8(t, out, "\xEF\xBF\xBD");
    return out;
}

// ---- lines

// One line from dataPos: where it starts, how long it is, the first '=' outside quotes (-1:
// none, else an index into data). False at the end of the data.
bool readLine(std::string_view data, size_t &dataPos, size_t &lineStart, size_t &lineLen, ptrdiff_t &equalsPos)
{
    const size_t dataLen = data.size();
    bool inQuotes = false;
    equalsPos = -1;

    lineStart = dataPos;
    while (lineStart < dataLen && (traitsOf(static_cast<unsigned char>(data[lineStart])) & Space))
        ++lineStart;

    size_t i = lineStart;
    while (i < dataLen) {
        char ch = data[i];
        while (!(traitsOf(static_cast<unsigned char>(ch)) & Special)) {
            if (++i == dataLen)
                goto done;
            ch = data[i];
        }
        ++i;
        if (ch == '=') {
            if (!inQuotes && equalsPos == -1)
                equalsPos = ptrdiff_t(i - 1);
        } else if (ch == '\n' || ch == '\r') {
            if (i == lineStart + 1) {
                ++lineStart;
            } else if (!inQuotes) {
                --i;
                goto done;
            }
        } else if (ch == '\\') {
            if (i < dataLen) {
                const char escaped = data[i++];
                if (i < dataLen) {
                    const char next = data[i];
                    // \n, \r, \r\n and \n\r all end a line
                    if ((escaped == '\n' && next == '\r') || (escaped == '\r' && next == '\n'))
                        ++i;
                }
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else { // ';'
            if (i == lineStart + 1) {
                while (i < dataLen && data[i] != '\n' && data[i] != '\r')
                    ++i;
                while (i < dataLen && (traitsOf(static_cast<unsigned char>(data[i])) & Space))
                    ++i;
                lineStart = i;
            } else if (!inQuotes) {
                --i;
                goto done;
            }
        }
    }
done:
    dataPos = i;
    lineLen = i - lineStart;
    return lineLen > 0;
}

size_t startAfterByteOrderMark(std::string_view data)
{
    return data.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

// ---- names and values

// The digits of a name's escape, read as they always were: blanks around, a '+' and a "0x"
// before them are let pass.
std::optional<char16_t> hexUnit(std::u16string_view digits)
{
    const auto blank = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    while (!digits.empty() && blank(digits.front()))
        digits.remove_prefix(1);
    while (!digits.empty() && blank(digits.back()))
        digits.remove_suffix(1);
    if (!digits.empty() && digits.front() == u'+')
        digits.remove_prefix(1);
    if (digits.size() >= 2 && digits[0] == u'0' && (digits[1] == u'x' || digits[1] == u'X'))
        digits.remove_prefix(2);
    if (digits.empty())
        return std::nullopt;
    uint32_t value = 0;
    for (const char16_t c : digits) {
        const int d = fromHex(c);
        if (d < 0)
            return std::nullopt;
        value = value * 16 + uint32_t(d);
    }
    return char16_t(value);
}

// Names are read as UTF-8, '\' as '/', "%XX" and "%UXXXX" as that unit; a '%' that starts no
// such escape stays.
Text unescapedKey(std::string_view key)
{
    const Text decoded = fromUtf8(key);
    const size_t size = decoded.size();
    Text result;
    size_t i = 0;
    while (i < size) {
        const char16_t ch = decoded[i];
        if (ch == u'\\') {
            result += u'/';
            ++i;
            continue;
        }
        if (ch != u'%' || i == size - 1) {
            result += ch;
            ++i;
            continue;
        }
        size_t numDigits = 2;
        size_t firstDigit = i + 1;
        if (decoded[i + 1] == u'U') {
            ++firstDigit;
            numDigits = 4;
        }
        if (firstDigit + numDigits > size) {
            result += u'%';
            ++i;
            continue;
        }
        const std::optional<char16_t> unit = hexUnit(std::u16string_view(decoded).substr(firstDigit, numDigits));
        if (!unit) {
            result += u'%';
            ++i;
            continue;
        }
        result += *unit;
        i = firstDigit + numDigits;
    }
    return result;
}

void chopTrailingBlanks(Text &str, size_t limit)
{
    while (str.size() > limit && (str.back() == u' ' || str.back() == u'\t'))
        str.pop_back();
}

// A value: quotes, escapes, and the items of a list. True when it is a list.
bool unescapedStringList(std::string_view str, Text &stringResult, std::vector<Text> &listResult)
{
    static constexpr char escapeCodes[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                              {'r', '\r'}, {'t', '\t'}, {'v', '\v'}, {'"', '"'},
                                              {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    bool isList = false;
    bool inQuotedString = false;
    bool currentValueIsQuoted = false;
    char16_t escapeVal = 0;
    size_t i = 0;
    size_t chopLimit = 0;
    char ch;
    Utf8Decoder decoder(true);

skipSpaces:
    while (i < str.size() && ((ch = str[i]) == ' ' || ch == '\t'))
        ++i;

normal:
    chopLimit = stringResult.size();
    while (i < str.size()) {
        switch (str[i]) {
        case '\\':
            ++i;
            if (i >= str.size())
                goto end;
            ch = str[i++];
            for (const auto &code : escapeCodes) {
                if (ch == code[0]) {
                    stringResult += char16_t(static_cast<unsigned char>(code[1]));
                    goto normal;
                }
            }
            if (ch == 'x') {
                escapeVal = 0;
                if (i >= str.size())
                    goto end;
                ch = str[i];
                if (fromHex(static_cast<unsigned char>(ch)) >= 0)
                    goto hexEscape;
            } else if (const int o = fromOct(static_cast<unsigned char>(ch)); o != -1) {
                escapeVal = char16_t(o);
                goto octEscape;
            } else if (ch == '\n' || ch == '\r') {
                if (i < str.size()) {
                    const char next = str[i];
                    if ((next == '\n' || next == '\r') && next != ch)
                        ++i;
                }
            } // any other escaped character is dropped
            chopLimit = stringResult.size();
            break;
        case '"':
            ++i;
            currentValueIsQuoted = true;
            inQuotedString = !inQuotedString;
            if (!inQuotedString)
                goto skipSpaces;
            break;
        case ',':
            if (!inQuotedString) {
                if (!currentValueIsQuoted)
                    chopTrailingBlanks(stringResult, chopLimit);
                if (!isList) {
                    isList = true;
                    listResult.clear();
                }
                listResult.push_back(stringResult);
                stringResult.clear();
                currentValueIsQuoted = false;
                ++i;
                goto skipSpaces;
            }
            [[fallthrough]];
        default: {
            size_t j = i + 1;
            while (j < str.size()) {
                ch = str[j];
                if (ch == '\\' || ch == '"' || ch == ',')
                    break;
                ++j;
            }
            decoder.decode(str.substr(i, j - i), stringResult);
            i = j;
        }
        }
    }
    if (!currentValueIsQuoted)
        chopTrailingBlanks(stringResult, chopLimit);
    goto end;

hexEscape:
    if (i >= str.size()) {
        stringResult += escapeVal;
        goto end;
    }
    ch = str[i];
    if (const int h = fromHex(static_cast<unsigned char>(ch)); h != -1) {
        escapeVal = char16_t((escapeVal << 4) + h);
        ++i;
        goto hexEscape;
    }
    stringResult += escapeVal;
    goto normal;

octEscape:
    if (i >= str.size()) {
        stringResult += escapeVal;
        goto end;
    }
    ch = str[i];
    if (const int o = fromOct(static_cast<unsigned char>(ch)); o != -1) {
        escapeVal = char16_t((escapeVal << 3) + o);
        ++i;
        goto octEscape;
    }
    stringResult += escapeVal;
    goto normal;

end:
    if (isList)
        listResult.push_back(stringResult);
    return isList;
}

// A whole number as the typed values write theirs: blanks around, an optional sign, decimal
// digits, within int; anything else is 0.
int wholeNumber(std::u16string_view t)
{
    const auto blank = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    while (!t.empty() && blank(t.front()))
        t.remove_prefix(1);
    while (!t.empty() && blank(t.back()))
        t.remove_suffix(1);
    bool negative = false;
    if (!t.empty() && (t.front() == u'+' || t.front() == u'-')) {
        negative = t.front() == u'-';
        t.remove_prefix(1);
    }
    if (t.empty())
        return 0;
    int64_t v = 0;
    for (const char16_t c : t) {
        if (c < u'0' || c > u'9')
            return 0;
        v = v * 10 + (c - u'0');
        if (v > int64_t(1) << 31)
            return 0;
    }
    if (negative)
        v = -v;
    if (v > INT32_MAX || v < INT32_MIN)
        return 0;
    return int(v);
}

// The arguments of "@Rect(1 2 3 4)": split at each space.
std::vector<Text> splitArgs(const Text &s, size_t open)
{
    std::vector<Text> result;
    Text item;
    for (size_t i = open + 1; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c == u')') {
            result.push_back(item);
        } else if (c == u' ') {
            result.push_back(item);
            item.clear();
        } else {
            item += c;
        }
    }
    return result;
}

// A value serialized by Qt's QDataStream in its 4.0 form, as "@Variant(...)" holds it: a
// 32-bit type number, big-endian, then the value. The numbers and texts are read as Qt
// reads them, a value cut short as zero or empty; another type is kept as it was written.
class DataStream
{
public:
    explicit DataStream(std::string_view data) : m_data(data) {}

    // The next n bytes as a big-endian number; 0 when fewer are left.
    uint64_t number(size_t n)
    {
        if (m_data.size() - m_pos < n) {
            m_pos = m_data.size();
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i)
            v = (v << 8) | static_cast<unsigned char>(m_data[m_pos++]);
        return v;
    }
    // A length and that many bytes; nothing when they are not all there.
    std::optional<std::string_view> block()
    {
        const auto length = uint32_t(number(4));
        if (length == 0xFFFFFFFF || length == 0)
            return std::string_view();
        if (m_data.size() - m_pos < length) {
            m_pos = m_data.size();
            return std::nullopt;
        }
        const std::string_view b = m_data.substr(m_pos, length);
        m_pos += length;
        return b;
    }

private:
    std::string_view m_data;
    size_t m_pos = 0;
};

// The type numbers of the 4.0 form that name a type of QtCore: those of Qt 4's extra types
// (128 on) sit 97 lower now; 27 is gone; 64 to 87 are the windows' types; 127 names its type.
bool knownType(uint32_t type)
{
    if (type == 127)
        return true;
    if (type >= 128)
        type -= 97;
    return type >= 1 && type <= 58 && type != 27;
}

std::optional<Item> streamedValue(const Text &payload)
{
    const std::string bytes = latin1Bytes(payload);
    DataStream in(bytes);
    const auto type = uint32_t(in.number(4));
    const auto text = [](const std::string &t) { return Item(latin1Text(t)); };
    switch (type) {
    case 0: // no type: an invalid value
        return Item(Typed());
    case 1:
        return text(in.number(1) != 0 ? "true" : "false");
    case 2:
        return text(std::to_string(int32_t(uint32_t(in.number(4)))));
    case 3:
        return text(std::to_string(uint32_t(in.number(4))));
    case 4:
        return text(std::to_string(int64_t(in.number(8))));
    case 5:
        return text(std::to_string(in.number(8)));
    case 10: { // UTF-16 big-endian, its length in bytes
        const auto block = in.block();
        Text t;
        if (block && block->size() % 2 == 0)
            for (size_t i = 0; i < block->size(); i += 2)
                t += char16_t((static_cast<unsigned char>((*block)[i]) << 8) | static_cast<unsigned char>((*block)[i + 1]));
        return Item(t);
    }
    case 12: {
        Typed t;
        t.kind = Typed::Kind::ByteArray;
        t.bytes = std::string(in.block().value_or(std::string_view()));
        return Item(t);
    }
    case 19: // left, top, right, bottom
    case 21: // width, height
    case 25: { // x, y
        Typed t;
        t.kind = type == 19 ? Typed::Kind::Rect : type == 21 ? Typed::Kind::Size : Typed::Kind::Point;
        const int count = type == 19 ? 4 : 2;
        for (int k = 0; k < count; ++k)
            t.numbers[k] = int32_t(uint32_t(in.number(4)));
        if (type == 19) { // as x, y, width, height
            t.numbers[2] = int32_t(uint32_t(int64_t(t.numbers[2]) - t.numbers[0] + 1));
            t.numbers[3] = int32_t(uint32_t(int64_t(t.numbers[3]) - t.numbers[1] + 1));
        }
        return Item(t);
    }
    default:
        // A type the program's Qt would not know (a window type, one long gone, no type at
        // all) was read as no value; any other is kept as it was written.
        return knownType(type) ? std::nullopt : std::optional<Item>(Typed());
    }
}

Item typedOrText(const Text &s)
{
    if (startsWith(s, u"@")) {
        if (endsWith(s, u')')) {
            Typed t;
            if (startsWith(s, u"@ByteArray(")) {
                t.kind = Typed::Kind::ByteArray;
                t.bytes = latin1Bytes(std::u16string_view(s).substr(11, s.size() - 12));
                return t;
            }
            if (startsWith(s, u"@String("))
                return s.substr(8, s.size() - 9);
            if (startsWith(s, u"@Variant(")) {
                if (auto value = streamedValue(s.substr(9)))
                    return *value;
            }
            if (startsWith(s, u"@Variant(") || startsWith(s, u"@DateTime(")) {
                t.kind = Typed::Kind::Verbatim;
                t.verbatim = s;
                return t;
            }
            struct Shape {
                std::u16string_view prefix;
                Typed::Kind kind;
                size_t count;
            };
            static constexpr Shape shapes[] = {{u"@Rect(", Typed::Kind::Rect, 4},
                                               {u"@Size(", Typed::Kind::Size, 2},
                                               {u"@Point(", Typed::Kind::Point, 2}};
            for (const Shape &shape : shapes) {
                if (!startsWith(s, shape.prefix))
                    continue;
                const std::vector<Text> args = splitArgs(s, shape.prefix.size() - 1);
                if (args.size() == shape.count) {
                    t.kind = shape.kind;
                    for (size_t k = 0; k < shape.count; ++k)
                        t.numbers[k] = wholeNumber(args[k]);
                    return t;
                }
                goto plain;
            }
            if (s == u"@Invalid()")
                return t;
        }
    plain:
        if (startsWith(s, u"@@"))
            return s.substr(1);
    }
    return s;
}

// ---- writing

void appendHex(std::string &out, uint32_t v, bool upper, int minDigits)
{
    const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[v & 0xF]);
        v >>= 4;
    } while (v != 0);
    while (int(text.size()) < minDigits)
        text.insert(text.begin(), '0');
    out += text;
}

void appendEscapedKey(const Text &key, std::string &out)
{
    for (const char16_t ch : key) {
        if (ch == u'/') {
            out += '\\';
        } else if (isAsciiAlnum(ch) || ch == u'_' || ch == u'-' || ch == u'.') {
            out += char(ch);
        } else if (ch <= 0xFF) {
            out += '%';
            appendHex(out, ch, true, 2);
        } else {
            out += "%U";
            appendHex(out, ch, true, 4);
        }
    }
}

// What a surrogate without its partner becomes in a written value.
constexpr std::string_view kUnpairedInValue = "\xEF\xBF\xBD";

void appendEscapedString(const Text &str, std::string &out)
{
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    const bool asUtf8 = !(startsWith(str, u"@ByteArray(") || startsWith(str, u"@Variant(") || startsWith(str, u"@DateTime("));
    const size_t startPos = out.size();

    // The units go to UTF-8 one at a time, so a surrogate waits for the next unit that goes
    // that way: a first half and a second make a pair, anything else makes U+FFFD of it, and
    // one still waiting at the end is dropped.
    char16_t pending = 0;
    for (size_t k = 0; k < str.size(); ++k) {
        const uint32_t ch = str[k];
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        if (escapeNextIfDigit && fromHex(ch) >= 0) {
            out += "\\x";
            appendHex(out, ch, false, 1);
            continue;
        }
        escapeNextIfDigit = false;
        switch (ch) {
        case '\0':
            out += "\\0";
            escapeNextIfDigit = true;
            break;
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        case '"':
        case '\\':
            out += '\\';
            out += char(ch);
            break;
        default:
            if (ch <= 0x1F || (ch >= 0x7F && !asUtf8)) {
                out += "\\x";
                appendHex(out, ch, false, 1);
                escapeNextIfDigit = true;
            } else if (asUtf8) {
                const bool surrogate = ch >= 0xD800 && ch <= 0xDFFF;
                if (pending) {
                    const char16_t pair[2] = {pending, char16_t(ch)};
                    const bool paired = pending <= 0xDBFF && ch >= 0xDC00 && ch <= 0xDFFF;
                    pending = 0;
                    if (paired) {
                        appendUtf8(std::u16string_view(pair, 2), out, kUnpairedInValue);
                        break;
                    }
                    out += kUnpairedInValue;
                }
                if (surrogate)
                    pending = char16_t(ch);
                else
                    appendUtf8(std::u16string_view(str).substr(k, 1), out, kUnpairedInValue);
            } else {
                out += char(ch);
            }
        }
    }
    if (needsQuotes || (startPos < out.size() && (out[startPos] == ' ' || out.back() == ' '))) {
        out.insert(out.begin() + ptrdiff_t(startPos), '"');
        out += '"';
    }
}

Text numberText(int v)
{
    return latin1Text(std::to_string(v));
}

// The text a value is written as, before its escapes.
Text writtenForm(const Item &item)
{
    if (const Text *text = std::get_if<Text>(&item)) {
        if (text->find(u'\0') != Text::npos)
            return u"@String(" + *text + u")";
        if (startsWith(*text, u"@"))
            return u"@" + *text;
        return *text;
    }
    const Typed &t = std::get<Typed>(item);
    switch (t.kind) {
    case Typed::Kind::Invalid:
        return u"@Invalid()";
    case Typed::Kind::ByteArray:
        return u"@ByteArray(" + latin1Text(t.bytes) + u")";
    case Typed::Kind::Rect:
        return u"@Rect(" + numberText(t.numbers[0]) + u" " + numberText(t.numbers[1]) + u" " + numberText(t.numbers[2])
               + u" " + numberText(t.numbers[3]) + u")";
    case Typed::Kind::Size:
        return u"@Size(" + numberText(t.numbers[0]) + u" " + numberText(t.numbers[1]) + u")";
    case Typed::Kind::Point:
        return u"@Point(" + numberText(t.numbers[0]) + u" " + numberText(t.numbers[1]) + u")";
    case Typed::Kind::Verbatim:
        return t.verbatim;
    }
    return {};
}

// ---- the document

void readSection(const Text &section, std::string_view data, std::map<Text, Document::Entry> &keys, bool &ok)
{
    size_t dataPos = 0, lineStart = 0, lineLen = 0;
    ptrdiff_t equalsPos = -1;
    while (readLine(data, dataPos, lineStart, lineLen, equalsPos)) {
        const std::string_view line = data.substr(lineStart, lineLen);
        if (equalsPos == -1) {
            if (line.front() != ';')
                ok = false;
            continue;
        }
        const size_t equals = size_t(equalsPos) - lineStart;
        const Text key = section + unescapedKey(trimmed(line.substr(0, equals)));
        Document::Entry entry;
        Text single;
        std::vector<Text> items;
        if (unescapedStringList(line.substr(equals + 1), single, items)) {
            entry.isList = true;
            // Items are read as typed values only when one of them is typed; otherwise only a
            // doubled '@' is undone.
            bool anyTyped = false;
            for (const Text &s : items)
                anyTyped |= startsWith(s, u"@") && !startsWith(s, u"@@");
            for (const Text &s : items)
                entry.list.push_back(anyTyped ? typedOrText(s) : Item(startsWith(s, u"@@") ? s.substr(1) : s));
        } else {
            entry.single = typedOrText(single);
        }
        keys[key] = std::move(entry);
    }
}

} // namespace

bool forEachLine(std::string_view text, const std::function<bool(const Line &)> &visit)
{
    const std::string_view data = text;
    size_t dataPos = startAfterByteOrderMark(data), lineStart = 0, lineLen = 0;
    ptrdiff_t equalsPos = -1;
    int number = 1;
    size_t counted = 0; // line breaks before this point are in number
    while (readLine(data, dataPos, lineStart, lineLen, equalsPos)) {
        for (; counted < lineStart; ++counted)
            if (data[counted] == '\n' || (data[counted] == '\r' && (counted + 1 >= data.size() || data[counted + 1] != '\n')))
                ++number;
        Line line;
        line.number = number;
        line.text = data.substr(lineStart, lineLen);
        if (line.text.front() == '[') {
            line.kind = Line::Kind::Section;
            size_t close = line.text.find(']');
            line.closed = close != std::string_view::npos;
            if (!line.closed)
                close = line.text.size();
            line.name = trimmed(line.text.substr(1, close - 1));
        } else if (equalsPos >= 0) {
            line.kind = Line::Kind::Entry;
            const size_t equals = size_t(equalsPos) - lineStart;
            line.name = trimmed(line.text.substr(0, equals));
            line.value = line.text.substr(equals + 1);
        }
        if (!visit(line))
            return false;
    }
    return true;
}

std::string unescapedName(std::string_view name)
{
    return toUtf8(unescapedKey(name));
}

Value unescapedValue(std::string_view value)
{
    Text single;
    std::vector<Text> items;
    Value v;
    v.isList = unescapedStringList(value, single, items);
    v.text = toUtf8(single);
    for (const Text &item : items)
        v.items.push_back(toUtf8(item));
    return v;
}

Document::Document(std::string_view text)
{
    const std::string_view data = text;
    // Lines are looked for after a byte-order mark, but the keys before the first section
    // are read from the very start: a mark there makes them malformed, or is dropped from the
    // first key's name when one follows it on its line.
    // The sections first, each with the text of its lines (a section given twice has both),
    // then each section's lines in order of the sections' names.
    std::map<Text, std::string> sections;
    Text current;
    size_t currentStart = 0;
    size_t dataPos = startAfterByteOrderMark(data), lineStart = 0, lineLen = 0;
    ptrdiff_t equalsPos = -1;
    const auto flush = [&](size_t end) {
        std::string &lines = sections[current];
        if (!lines.empty())
            lines += '\n';
        lines += data.substr(currentStart, end - currentStart);
    };
    while (readLine(data, dataPos, lineStart, lineLen, equalsPos)) {
        const std::string_view line = data.substr(lineStart, lineLen);
        if (line.front() != '[')
            continue;
        flush(lineStart);
        size_t close = line.find(']');
        if (close == std::string_view::npos) {
            m_wellFormed = false;
            close = line.size();
        }
        const std::string_view name = trimmed(line.substr(1, close - 1));
        if (sameAsciiCaseless(name, "general")) {
            current.clear();
        } else {
            current = sameAsciiCaseless(name, "%general") ? latin1Text(name.substr(1)) : unescapedKey(name);
            current += u'/';
        }
        currentStart = dataPos;
    }
    flush(data.size());
    for (const auto &[section, lines] : sections)
        readSection(section, lines, m_keys, m_wellFormed);
}

bool Document::keepsUndecodedValues() const
{
    const auto verbatim = [](const Item &item) {
        const Typed *t = std::get_if<Typed>(&item);
        return t && t->kind == Typed::Kind::Verbatim;
    };
    for (const auto &[key, entry] : m_keys) {
        if (verbatim(entry.single))
            return true;
        for (const Item &item : entry.list)
            if (verbatim(item))
                return true;
    }
    return false;
}

std::optional<std::string> Document::text(std::string_view key) const
{
    const auto found = m_keys.find(fromUtf8(key));
    if (found == m_keys.end())
        return std::nullopt;
    const Entry &e = found->second;
    if (e.isList)
        return std::string();
    if (const Text *text = std::get_if<Text>(&e.single))
        return toUtf8(*text);
    const Typed &t = std::get<Typed>(e.single);
    if (t.kind == Typed::Kind::ByteArray)
        return toUtf8(fromUtf8(t.bytes));
    return std::string();
}

void Document::set(std::string_view key, std::string_view value)
{
    Entry e;
    e.single = fromUtf8(value);
    m_keys[fromUtf8(key)] = std::move(e);
}

std::string Document::serialized() const
{
    // Section by section in order of their names, each key in order of its name: the part of a
    // key before its first '/' is its section.
    std::map<Text, std::map<Text, const Entry *>> sections;
    for (const auto &[key, entry] : m_keys) {
        const size_t slash = key.find(u'/');
        if (slash == Text::npos)
            sections[Text()][key] = &entry;
        else
            sections[key.substr(0, slash)][key.substr(slash + 1)] = &entry;
    }
    std::string out;
    bool first = true;
    for (const auto &[section, keys] : sections) {
        std::string header;
        appendEscapedKey(section, header);
        if (header.empty())
            header = "[General]";
        else if (sameAsciiCaseless(header, "general"))
            header = "[%General]";
        else
            header = "[" + header + "]";
        if (!first)
            out += '\n';
        first = false;
        out += header;
        out += '\n';
        for (const auto &[key, entry] : keys) {
            appendEscapedKey(key, out);
            out += '=';
            if (entry->isList) {
                for (size_t i = 0; i < entry->list.size(); ++i) {
                    if (i != 0)
                        out += ", ";
                    appendEscapedString(writtenForm(entry->list[i]), out);
                }
            } else {
                appendEscapedString(writtenForm(entry->single), out);
            }
            out += '\n';
        }
    }
    return out;
}

} // namespace evm::ini
