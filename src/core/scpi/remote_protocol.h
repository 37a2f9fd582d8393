// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <string>
#include <string_view>

// The protocol between a remote board library (libOstrelRemote.so) and the instrument server:
// each entry of the library is one command of the server's table, with the library's own
// result codes in the answers. The server's table and the library both take the headers from
// here, so the two sides spell them one way.
namespace evm::remote {

// INTERFACE,ADDRESS[,PORT] -> the port _init answers, 0 for none (SYSTem:ERRor? then says why)
inline constexpr const char Open[] = "BOARD:OPEN?";
// No answer; the next BOARD:OPEN? of the connection runs after it.
inline constexpr const char Close[] = "BOARD:CLOSE";
// CHANNEL,REG -> CODE,VALUE
inline constexpr const char Read[] = "BOARD:READ?";
// CHANNEL,TARGET,VALUE -> CODE
inline constexpr const char Write[] = "BOARD:WRITE?";
// -> the word _getVer answers
inline constexpr const char Version[] = "BOARD:VERsion?";
// Two of the instrument's own that the library uses: a clear queue before an open, and the
// reason of an open answered 0.
inline constexpr const char ClearStatus[] = "*CLS";
inline constexpr const char NextError[] = "SYSTem:ERRor[:NEXT]?";

// The one line a server sends a connection it does not take, before it closes it.
inline constexpr std::string_view RefusedPrefix = "refused: ";

// A header as a client sends it: its short form, the upper-case letters, optional nodes left
// out ("SYSTem:ERRor[:NEXT]?" is "SYST:ERR?").
inline std::string shortForm(std::string_view header)
{
    std::string out;
    int optional = 0;
    for (const char c : header) {
        if (c == '[')
            ++optional;
        else if (c == ']')
            --optional;
        else if (optional == 0 && !(c >= 'a' && c <= 'z'))
            out += c;
    }
    return out;
}

} // namespace evm::remote
