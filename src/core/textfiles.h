// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace evm {

// The snapshot of all registers: one "0x40, 0xC0" line per register 0x40..0x5E, each ending CR LF.
std::string snapshotText(const std::array<uint8_t, 31> &values);
// The history log (UTF-8) as a file: every line ends CR LF; an empty log gives an empty file.
// 8-bit text; a log holding characters beyond Latin-1 (typed by the user) is written as UTF-8
// rather than lose them.
std::string historyText(std::string_view log);

// Every file the program and the tools write goes through here. A symbolic link is followed
// and stays a link. A regular file is replaced whole or created, atomically, keeping its
// permissions and (where the process may set them) its owner and group; where it cannot be
// replaced but may be written (a writable file in a read-only or sticky folder) it is written
// over in place. A device, FIFO or socket is written directly and never replaced; opening it
// never blocks. A failed save never leaves a cut file. Returns the reason on failure.
std::optional<std::string> saveWholeFile(const std::string &path, std::string_view bytes);
// Reads the whole of a regular file; anything else (a folder, a FIFO, a device) is refused
// without being opened, so reading never blocks. The reason on failure.
std::optional<std::string> readWholeFile(const std::string &path, std::string &bytes);
// Reads a stream to its end (standard input for "-").
std::optional<std::string> readWholeStream(int fd, std::string &bytes);

} // namespace evm
