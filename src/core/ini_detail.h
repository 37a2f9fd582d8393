// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The parts of the INI rules that the reader, the writer and the typed values share.
#include "ini.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace evm::ini::detail {

using Text = Document::Text;
using Item = Document::Item;
using Typed = Document::Typed;

// ---- characters (ini_text.cpp)

// What a byte is to the line rules: a blank that may lead a line, or a byte that may end or
// split one (line breaks, '"', ';', '=', '\').
enum { Space = 0x1, Special = 0x2 };
int traitsOf(unsigned char c);

int fromHex(uint32_t c); // -1 for anything but 0-9, a-f, A-F
int fromOct(uint32_t c);
bool isAsciiAlnum(uint32_t c);
bool sameAsciiCaseless(std::string_view a, std::string_view b);
bool startsWith(const Text &t, std::u16string_view prefix);
bool endsWith(const Text &t, char16_t c);

// One unit a byte, and back (a unit above 0xFF becomes '?').
Text latin1Text(std::string_view bytes);
std::string latin1Bytes(std::u16string_view t);

// UTF-8, decoded as the settings have always been: a byte that starts no valid sequence, and
// the start of a sequence cut short, become U+FFFD each; a byte-order mark that starts the
// text is dropped. A stateful decoder goes on over several pieces: a sequence cut at the end of
// one waits for the next, and one still waiting when the decoder goes is dropped.
class Utf8Decoder
{
public:
    explicit Utf8Decoder(bool stateful) : m_stateful(stateful) {}
    void decode(std::string_view bytes, Text &out);

private:
    // Bytes taken for the sequence at i, 0 when the text ends inside it, -1 when it is invalid.
    static size_t sequence(std::string_view bytes, size_t i, Text &out);

    std::string m_pending;
    bool m_stateful;
    bool m_started = false;
};

Text fromUtf8(std::string_view bytes);
// UTF-8 of 16-bit units; a surrogate without its partner becomes `replacement`.
void appendUtf8(std::u16string_view t, std::string &out, std::string_view replacement);
std::string toUtf8(std::u16string_view t); // U+FFFD for a surrogate without its partner

// ---- typed values (ini_values.cpp)

// A value's text as a value: "@ByteArray(...)", "@Invalid()", "@Rect(...)", "@Variant(...)"
// and the like are typed values, "@@" a leading '@'; anything else is the text.
Item typedOrText(const Text &s);
// The text a value is written as, before its escapes.
Text writtenForm(const Item &item);

} // namespace evm::ini::detail
