// SPDX-License-Identifier: GPL-3.0-or-later
#include "scpi/parser.h"

#include "inttext.h"
#include "scpi/errors.h"

#include <algorithm>

namespace evm::scpi {

namespace {

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool matchNodes(const std::vector<Node> &nodes, size_t n, const std::vector<std::string> &given, size_t g)
{
    if (n == nodes.size())
        return g == given.size();
    if (g < given.size() && nodes[n].matches(given[g]) && matchNodes(nodes, n + 1, given, g + 1))
        return true;
    return nodes[n].optional && matchNodes(nodes, n + 1, given, g);
}

} // namespace

std::string_view trimmedUnit(std::string_view text)
{
    return trimmed(text, isWhitespace);
}

std::string quoted(std::string_view text)
{
    std::string out = "'";
    for (size_t i = 0; i < text.size() && i < 40; ++i) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        out += c == '"' ? '\'' : (u < 0x20 || u > 0x7E) ? '?' : c;
    }
    if (text.size() > 40)
        out += "...";
    return out + '\'';
}

Pattern compile(const char *header)
{
    Pattern p;
    std::string_view h(header);
    if (!h.empty() && h.back() == '?') {
        p.query = true;
        h.remove_suffix(1);
    }
    if (!h.empty() && h.front() == '*') {
        p.common = h;
        return p;
    }
    bool optional = false;
    Node node;
    auto finish = [&]() {
        if (node.longForm.empty())
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
            if (node.longForm.empty())
                node.optional = optional;
            if (c >= 'A' && c <= 'Z' && node.shortForm.size() == node.longForm.size())
                node.shortForm += c;
            node.longForm += upper(c);
        }
    }
    finish();
    return p;
}

bool matchesNodes(const Pattern &pattern, const std::vector<std::string> &mnemonics)
{
    return matchNodes(pattern.nodes, 0, mnemonics, 0);
}

Parsed parseUnit(std::string_view text)
{
    Parsed u;
    size_t i = 0;
    const size_t n = text.size();
    auto mnemonic = [&]() {
        if (i >= n || !isLetter(text[i]))
            fail(SyntaxError, "header " + quoted(text));
        std::string m;
        while (i < n && (isLetter(text[i]) || isDigit(text[i]) || text[i] == '_'))
            m += upper(text[i++]);
        return m;
    };
    if (text[0] == '*') {
        u.common = true;
        ++i;
        u.mnemonics.push_back('*' + mnemonic());
    } else {
        if (text[0] == ':') {
            u.absolute = true;
            ++i;
        }
        u.mnemonics.push_back(mnemonic());
        while (i < n && text[i] == ':') {
            ++i;
            u.mnemonics.push_back(mnemonic());
        }
    }
    if (i < n && text[i] == '?') {
        u.query = true;
        ++i;
    }
    if (i < n && !isWhitespace(text[i]))
        fail(SyntaxError, "header " + quoted(text));
    const std::string_view rest = trimmedUnit(text.substr(i));
    if (rest.empty())
        return u;
    size_t start = 0;
    for (size_t k = 0; k <= rest.size(); ++k) {
        if (k < rest.size() && rest[k] != ',')
            continue;
        const std::string_view p = trimmedUnit(rest.substr(start, k - start));
        if (p.empty())
            fail(SyntaxError, "empty parameter");
        u.params.push_back(p);
        start = k + 1;
    }
    return u;
}

std::optional<int64_t> parseNumber(std::string_view t)
{
    t = trimmedUnit(t);
    int base = 10;
    bool negative = false;
    if (t.size() >= 2 && t[0] == '#') {
        const char b = char(t[1] & ~0x20);
        base = b == 'H' ? 16 : b == 'Q' ? 8 : b == 'B' ? 2 : 0;
        if (base == 0)
            return std::nullopt;
        t.remove_prefix(2);
    } else {
        if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
            negative = t[0] == '-';
            t.remove_prefix(1);
        }
        if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
            base = 16;
            t.remove_prefix(2);
        }
    }
    if (t.empty())
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

} // namespace evm::scpi
