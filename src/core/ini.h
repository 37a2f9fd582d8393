// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The INI files of the program and its board libraries, read and written by one set of rules:
// those the settings file EVM5170.ini has always been written and read by (the rules of Qt's
// QSettings in its INI form), kept so that every file a user has reads and is rewritten as it
// always was.
//
// Lines: blanks (space, tab, CR, LF) before a line are skipped; a line ends at CR or LF, and at
// a ';' outside quotes, which starts a comment to the end of the line; a '"' opens and closes a
// quote, inside which line breaks do not end the line; a '\' before a line break continues the
// line. A line starting with '[' names a section up to the first ']' (a missing ']' makes the
// file malformed, the rest is still read); any other line is "key=value" at its first '='
// outside quotes, or malformed. Keys before the first section, and those of [General], have no
// section. Names: '\' stands for '/', "%XX" and "%UXXXX" for that character. Values: blanks at
// either end are dropped, quotes removed, C escapes resolved (\n, \x41, \101 ...), and a comma
// outside quotes makes a list. A value "@ByteArray(...)", "@Invalid()", "@Rect(...)" and the like
// is a typed value; "@@" stands for a leading '@'.
namespace evm::ini {

// One line of a text as the reader splits it.
struct Line {
    enum class Kind { Section, Entry, Other };
    Kind kind = Kind::Other;
    int number = 0;          // the line of the file where it starts, from 1
    std::string_view text;   // from its first non-blank character to its end, comment excluded
    std::string_view name;   // Section: between '[' and ']' (or the end), trimmed; Entry: the key, trimmed
    bool closed = true;      // Section: a ']' ends the name
    std::string_view value;  // Entry: everything after the '='
};

// Each line of the text in order (a UTF-8 byte-order mark at the start is passed over); stops
// and answers false at the first visit that answers false.
bool forEachLine(std::string_view text, const std::function<bool(const Line &)> &visit);

// A section or key name with its escapes resolved, as UTF-8.
std::string unescapedName(std::string_view name);

// An entry's value with quotes and escapes resolved, as UTF-8; a value with a comma outside
// quotes is a list of its items.
struct Value {
    std::string text;
    std::vector<std::string> items; // only for a list
    bool isList = false;
};
Value unescapedValue(std::string_view value);

// A settings document: every key of an INI text ("Section/Key"), set and written back whole in
// the one form the rules give (sections and keys in order of their names, "\n" line ends), so
// that other keys and sections stay as they were meant.
class Document
{
public:
    explicit Document(std::string_view text = {});

    // No malformed line in the text (a section without its ']', a line that is neither a
    // section, an entry nor a comment).
    bool wellFormed() const { return m_wellFormed; }

    // A binary value of Qt's ("@Variant(...)", "@DateTime(...)") of a type other than a
    // number, a text, bytes, a rectangle, a size or a point: such a value is kept as it was
    // written, where Qt would have decoded it and written it its own way.
    bool keepsUndecodedValues() const;

    // The key's value as text, or nothing when the key is absent. A list, and a typed value
    // that is no text, give an empty text, as they always have.
    std::optional<std::string> text(std::string_view key) const;
    void set(std::string_view key, std::string_view value);

    // The whole document as a file.
    std::string serialized() const;

    // Held as 16-bit units, as the names and values have always been, so that any escape
    // reads and writes back as it did.
    using Text = std::u16string;
    struct Typed;
    using Item = std::variant<Text, Typed>;
    struct Typed {
        enum class Kind { Invalid, ByteArray, Rect, Size, Point, Verbatim } kind = Kind::Invalid;
        std::string bytes;  // ByteArray
        int numbers[4] = {};
        Text verbatim;      // a typed value this reader does not decode, as it was read
    };
    struct Entry {
        Item single;
        std::vector<Item> list; // a list value
        bool isList = false;
    };

private:
    std::map<Text, Entry> m_keys;
    bool m_wellFormed = true;
};

} // namespace evm::ini
