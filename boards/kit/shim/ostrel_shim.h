// The entry shim every board library is built around. It defines the five entries,
// checks what every library must check (an open board, the buffer and count, the
// channel, the line number), writes the common trace, and hands the rest to the
// library's backend. A board library is a backend plus a definition of backend().
#pragma once

#include "ostrel_abi.h"

#include <cstdint>
#include <string>

namespace ostrel {

class Backend {
public:
    virtual ~Backend() = default;

    // Upper-case name for the trace variable: the shim appends one line per entry call
    // to the file named by OSTREL_<NAME>_TRACE (OSTREL_SIM_TRACE for "SIM").
    virtual const char *name() const = 0;

    // _init with a record the shim has checked is not null. Answers the port (not 0)
    // when the board is open, 0 when it is not; the shim then answers OSTREL_NOT_OPEN
    // to every access until the next successful open.
    virtual int32_t open(int32_t port, const OstrelConnectionSettings &settings) = 0;
    // _close, also when open() failed or was never called; twice is harmless.
    virtual void close() = 0;

    // Channel 0, only while open, with the buffer and count already checked. The register
    // range is the backend's (OSTREL_BAD_REGISTER outside it). A failed read leaves value 0.
    virtual int32_t readRegister(int32_t reg, uint8_t &value) = 0;
    virtual int32_t writeRegister(int32_t reg, uint8_t value) = 0;
    // Channel 7, only while open, line already checked against 0..OSTREL_LINE_COUNT-1.
    virtual int32_t writeLine(int32_t line, uint8_t level) = 0;

    virtual int32_t version() = 0;

    // False once an open board is lost (a simulated board taken away, a dropped network
    // connection): the shim then answers OSTREL_NOT_OPEN before any other check.
    virtual bool connected() const { return true; }

    // Every trace line, also when no trace file is set (the simulator keeps a call log).
    virtual void traced(const std::string &line) { (void)line; }

    // Why the last call failed, in words for the user, beyond its code (ostrel_last_error);
    // empty when there is nothing to add.
    virtual std::string lastError() const { return {}; }
};

// Defined once by each board library; the shim calls it on every entry, and once when the
// library is loaded (to name the trace file), so it must not depend on other globals.
Backend &backend();

// One line on stderr, prefixed with "libOstrel: ", for what a library reports on its own.
void warn(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace ostrel
