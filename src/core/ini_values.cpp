// SPDX-License-Identifier: GPL-3.0-or-later
#include "ini_detail.h"

#include <cstdint>
#include <optional>

namespace evm::ini::detail {

namespace {

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

} // namespace

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

namespace {
Text numberText(int v)
{
    return latin1Text(std::to_string(v));
}
} // namespace

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

} // namespace evm::ini::detail
