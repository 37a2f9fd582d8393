// SPDX-License-Identifier: GPL-3.0-or-later
#include "textfiles.h"
#include "inttext.h"
#include "registers.h"

namespace evm {

std::string snapshotText(const std::array<uint8_t, 31> &values)
{
    std::string out;
    out.reserve(31 * 12);
    for (int i = 0; i < RegisterCount; ++i) {
        out += registerLine(FirstRegister + i, values[i]);
        out += "\r\n";
    }
    return out;
}

std::string historyText(std::string_view log)
{
    if (log.empty())
        return {};
    std::string text;
    text.reserve(log.size() + log.size() / 8 + 2);
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i] == '\r' || log[i] == '\n') {
            if (log[i] == '\r' && i + 1 < log.size() && log[i + 1] == '\n')
                ++i;
            text += "\r\n";
        } else {
            text += log[i];
        }
    }
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        text += "\r\n";
    // Latin-1 when every character fits it: a two-byte sequence of U+0080..U+00FF becomes its byte.
    std::string latin1;
    latin1.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            latin1 += char(b);
        } else if ((b == 0xC2 || b == 0xC3) && i + 1 < text.size()
                   && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
            latin1 += char(((b & 0x1F) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
            ++i;
        } else {
            return text;
        }
    }
    return latin1;
}

} // namespace evm
