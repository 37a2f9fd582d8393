// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Register scripts: text files of register writes ("0x41, 0x12") and pauses ("sleep, 100"), one
// record a line, run top to bottom until the end or the first faulty line.
namespace evm {

// Lines of a script file: bytes taken as they are, one character each (no byte is lost or rejected), split at
// CR LF, lone CR or lone LF; a final line break adds no line; an empty line in the middle is a line.
// A NUL byte is an ordinary character of its line; it makes the field that holds it invalid.
std::vector<std::string> splitScriptLines(std::string_view bytes);

// Fields of one line by the comma-text rules: blanks are codes 1..32 and are skipped before the first
// field; an unquoted field runs to the next blank or comma; a quoted field runs to its closing quote,
// with "" standing for one quote; after a field blanks and then one comma with the blanks behind it
// are skipped; a comma with no field before it gives an empty field, and so does a comma that is the
// very last character of the line; a line of blanks gives no field at all.
// Never reads past the end of the line: an unterminated quote runs to the end of the line and keeps
// every character of it.
std::vector<std::string> splitFields(std::string_view line);

struct ScriptRecord
{
    enum Kind { Write, Sleep, Skip, InvalidSleep, InvalidRecord, InvalidData } kind = Skip;
    int32_t reg = 0;
    int32_t value = 0;
    int32_t ms = 0;
};

// The record of one line's fields:
// - no field at all (an empty or blank line): Skip. It asks for nothing, so the run goes on; a
//   script with a blank line between blocks should not stop there.
// - first field "sleep" (A..Z lower-cased, so any case): Sleep with the second field as ms;
//   InvalidSleep when that field is missing, not an integer, or negative. A negative length is
//   refused rather than taken as no pause: it is outside 0..2147483647 like any other faulty
//   length, and a sleep of it as an unsigned count would never end.
// - any other first field: Write of the second field to the first; InvalidRecord when the second
//   field is missing or either is not an integer, InvalidData when the value is outside 0..255.
//   The address is not range-checked.
// Fields after the second are ignored.
ScriptRecord parseRecord(const std::vector<std::string> &fields);

// The stop message for a faulty record kind ("Invalid sleep time.", "Invalid record was found on the Register setting file.", "Invalid register data!"), empty for Write/Sleep/Skip.
std::string recordMessage(ScriptRecord::Kind kind);

struct ScriptSink
{                                            // what a run does with each record
    std::function<void(int32_t reg, int32_t value)> write;
    std::function<void(int32_t ms)> sleep;
    std::function<void(int index)> progress; // called with line index i before line i runs; may be empty
};

struct ScriptResult
{
    bool stopped = false;
    int line = 0; // 1-based line that stopped the run
    ScriptRecord::Kind kind = ScriptRecord::Skip;
    std::string message;
    int linesRun = 0; // lines that took effect or were skipped; the stopping line does not count
};

// What a write to reg does not do as it seems to, for a check of a script: a register the
// chip does not have, or one of only status flags, which a write sets nothing in. Empty when
// the write is a setting of the chip.
std::string scriptWriteWarning(int32_t reg);

// Runs the lines in order until the end or the first faulty line, which runs nothing. An empty
// write or sleep in the sink is taken as "do nothing" (a dry run checks a script that way).
ScriptResult runScriptLines(const std::vector<std::string> &lines, const ScriptSink &sink);

} // namespace evm
