// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The syntax of the instrument's command lines: a program message unit taken apart into its
// header and parameters, the header patterns of the command table ("REGister[:VALue]?"), and
// the protocol's numbers. Nothing here knows a command.
namespace evm::scpi {

// IEEE 488.2 whitespace: every byte up to 0x20.
constexpr bool isWhitespace(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}
std::string_view trimmedUnit(std::string_view text);

// A client's text inside an error message: printable, at most 40 characters and "...", no
// quote to end the string early, between single quotes.
std::string quoted(std::string_view text);

// One node of a header pattern: REGister is REG or REGISTER.
struct Node {
    std::string shortForm;
    std::string longForm;
    bool optional = false;

    bool matches(const std::string &mnemonic) const { return mnemonic == shortForm || mnemonic == longForm; }
};

struct Pattern {
    std::string common; // "*IDN" for a common command, else empty
    std::vector<Node> nodes;
    bool query = false;
};

// "REGister[:VALue]?" into its nodes; the upper-case letters are the short form.
Pattern compile(const char *header);
// Whether the mnemonics (upper case, in order) name the pattern's nodes, optional ones left out or not.
bool matchesNodes(const Pattern &pattern, const std::vector<std::string> &mnemonics);

// A program message unit taken apart: header and parameters, nothing checked against the table
// yet. Throws a Failure (syntax error) for a unit that is not one.
struct Parsed {
    bool common = false;
    bool absolute = false;
    bool query = false;
    std::vector<std::string> mnemonics; // upper case; for a common command its one name with the '*'
    std::vector<std::string_view> params; // within the unit's text
};
Parsed parseUnit(std::string_view text);

// A parameter as a number: decimal with an optional sign, or hexadecimal after 0x or #H,
// octal after #Q, binary after #B. Values beyond 32 bits come back clamped, so a range check
// rejects them; nullopt when the text is no number.
std::optional<int64_t> parseNumber(std::string_view text);

} // namespace evm::scpi
