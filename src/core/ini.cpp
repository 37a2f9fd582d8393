// SPDX-License-Identifier: GPL-3.0-or-later
#include "ini.h"

#include "ini_detail.h"
#include "inttext.h"

#include <cstdint>

namespace evm::ini {

using namespace detail;

namespace {

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

