#pragma once
#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace evm {

// The snapshot of all registers: one "0x40, 0xC0" line per register 0x40..0x5E, each ending CR LF.
QByteArray snapshotText(const std::array<uint8_t, 31> &values);
// The history log as a file: every line ends CR LF; an empty log gives an empty file.
// 8-bit text; a log holding characters beyond Latin-1 (typed by the user) is written as UTF-8
// rather than lose them.
QByteArray historyText(const QString &log);

// Replaces the whole file or creates it, atomically: a failed write leaves an existing
// file as it was. Returns the reason on failure.
std::optional<QString> saveWholeFile(const QString &path, const QByteArray &bytes);
// Reads the whole file; the reason on failure.
std::optional<QString> readWholeFile(const QString &path, QByteArray &bytes);

} // namespace evm
