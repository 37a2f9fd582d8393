// SPDX-License-Identifier: GPL-3.0-or-later
#include "ini_detail.h"

namespace evm::ini::detail {

int traitsOf(unsigned char c)
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

void Utf8Decoder::decode(std::string_view bytes, Text &out)
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

namespace {
bool continuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}
} // namespace

size_t Utf8Decoder::sequence(std::string_view bytes, size_t i, Text &out)
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

} // namespace evm::ini::detail
