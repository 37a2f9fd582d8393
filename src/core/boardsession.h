// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "boardlib.h"
#include "registers.h"
#include "serialinterface.h"

#include <cstdint>
#include <string>

// The one way to a board: the library loaded, the board opened with one interface choice,
// single register and line accesses that report their result code, and _close whenever the
// library was loaded. The window, every command of the tool and the instrument server reach
// the board through a session and nothing else. The tool opens it for a task; the window loads
// the library once and keeps it, with or without a board, until it closes; the server keeps it
// for its whole run and shares it among its clients (sharedboard.h).
namespace evm {

// "a.b.c.d" of the version word from _getVer: a := v / 4096, b, c, d the next
// hexadecimal digits; everything above the low twelve bits lands in a.
std::string libraryVersionText(int32_t v);

// The record for _init: interface item 0 is IIC at chosenAddress, any other item SPI (address 0).
ConnectionSettings connectionSettingsFor(int interfaceItem, int32_t chosenAddress);
// Both name the same interface and address.
bool sameInterface(const ConnectionSettings &a, const ConnectionSettings &b);
// "SPI" or "IIC at 0x45", for messages.
std::string interfaceText(const ConnectionSettings &settings);

// What the user is told when _init finds no board: the window's status bar and start-up box,
// and the tool's error. (The resets' box spells it "No EVM was foud".)
inline constexpr char NoBoardText[] = "No EVM was found";

// "Communication error: RDERR0005": kind is RDERR, WRERR or SPERR (a board line), the code at
// least four hexadecimal digits.
std::string communicationErrorText(const char *kind, int32_t code);

// The byte a read-modify-write of a field starts from, given what the chip returned:
// only the bits the program keeps (no status flag), and MRST and SRST of 0x40 always 1,
// so that merging a field into it never starts a reset.
uint8_t readModifyWriteBase(int reg, uint8_t chipValue);

class BoardSession
{
public:
    enum class Status { Open, CannotLoad, InvalidLibrary, NoBoard };

    BoardSession() = default;
    BoardSession(const BoardSession &) = delete;
    BoardSession &operator=(const BoardSession &) = delete;
    ~BoardSession() { end(); }

    // Loads the library as the program does and calls _init with port 0.
    Status open(const ConnectionSettings &settings);
    // _close whenever the library is loaded, then unloads it. Safe to call twice.
    void end();

    // The library alone, without a board yet (after end() when one was loaded).
    BoardLibrary::LoadStatus load();
    bool isLoaded() const { return m_library.isLoaded(); }
    // _init with settings() on port (0: the library chooses, as the window and the tool open
    // it); its result is port(), 0 for no board. Library loaded.
    int32_t connect(int32_t port = 0);
    // _close; the library stays loaded and port() is 0 until the next connect(). Library loaded.
    void disconnect();
    // _close, then _init on port() with settings(), as a change of interface does; the library
    // keeps its own view of the port, so port() stays as it was. Library loaded.
    void reconnectKeepingPort();

    BoardLibrary &library() { return m_library; }
    int32_t port() const { return m_port; }
    // Open, and no access has failed since: a caller that keeps the session may go on with it.
    bool answering() const { return m_library.isLoaded() && m_port != 0 && !m_accessFailed; }
    const ConnectionSettings &settings() const { return m_settings; }
    // Where the interface choice goes; the next _init uses it.
    ConnectionSettings &settings() { return m_settings; }
    // Why the last open() did not give Status::Open, in one line.
    const std::string &failureText() const { return m_failure; }

    // _getVer; 0 without a library.
    int32_t version() { return m_library.getVer(); }

    struct Access {
        int32_t code = 0; // 0 success, else the library's error code
        uint8_t value = 0;
    };
    // A chip register (channel 0). The library is reached only while port() is not 0; before
    // that every access answers NotOpen, as a library does. Each call uses a fresh
    // zeroed 10-byte buffer.
    Access read(int32_t reg) { return readData(ChipChannel, reg); }
    int32_t write(int32_t reg, uint8_t value) { return writeData(ChipChannel, reg, value); }
    // A board control line (channel 7).
    int32_t writeLine(int32_t line, uint8_t value) { return writeData(PinChannel, line, value); }
    // Any channel, as given: the remote board library's calls pass through as they came.
    Access readData(int32_t channel, int32_t reg);
    int32_t writeData(int32_t channel, int32_t target, uint8_t value);

private:
    BoardLibrary m_library;
    ConnectionSettings m_settings;
    int32_t m_port = 0;
    bool m_accessFailed = false;
    std::string m_failure;
};

} // namespace evm
