// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "inttext.h"
#include "ostrel_abi.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace evm {

// The record handed to _init, zeroed whenever one is made, as every caller expects.
struct ConnectionSettings : OstrelConnectionSettings {
    ConnectionSettings() : OstrelConnectionSettings{} {}
};
static_assert(sizeof(ConnectionSettings) == sizeof(OstrelConnectionSettings));

constexpr int ChipChannel = OSTREL_CHANNEL_CHIP;
constexpr int PinChannel = OSTREL_CHANNEL_LINES;
constexpr int TransferBufferSize = OSTREL_TRANSFER_BUFFER_SIZE;
// What a call on a library that is not loaded returns: "board not open", as the board's own code.
constexpr int32_t NotOpen = OSTREL_NOT_OPEN;

// The board-access library, loaded at run time (its interface: ostrel_abi.h).
class BoardLibrary
{
public:
    enum class LoadStatus { Loaded, CannotLoad, InvalidLibrary };

    using InitFn = OstrelInitFn;
    using CloseFn = OstrelCloseFn;
    using DataFn = OstrelDataFn;
    using VersionFn = OstrelVersionFn;

    BoardLibrary() = default;
    BoardLibrary(const BoardLibrary &) = delete;
    BoardLibrary &operator=(const BoardLibrary &) = delete;
    ~BoardLibrary() { unload(); }

    // EVM_BOARD_LIBRARY when set (a file, or sim, linux or remote for the libraries beside
    // the executable); else "Ostrel" beside the executable, else in the system's library
    // paths (on Windows Ostrel.dll beside the executable only). The working directory is
    // never searched.
    LoadStatus load();
    LoadStatus loadFile(const std::string &path);
    void unload();

    bool isLoaded() const { return m_init != nullptr; }
    // The file loaded (or last tried), and why the last load failed.
    const std::string &fileName() const { return m_fileName; }
    const std::string &errorString() const { return m_error; }

    // Each call blocks until the library returns. While no library is loaded nothing is
    // called: init and getVer return 0 (no board, no version), the others NotOpen.
    int32_t init(int32_t port, ConnectionSettings *settings);
    int32_t close();
    int32_t readData(int32_t channel, int32_t reg, uint8_t *buffer, int32_t count);
    int32_t writeData(int32_t channel, int32_t reg, uint8_t *buffer, int32_t count);
    int32_t getVer();
    // What the library says of how it reaches the board; empty when it has no such entry.
    std::string describe();
    // The library's reason for its last failure (ostrel_last_error); empty when it gives none.
    std::string lastError();

    // Called after every entry call with a one-line description (for --trace).
    std::function<void(const std::string &)> trace;

    // Where load() would look, in order (for messages and tests).
    static std::vector<std::string> searchOrder();

private:
    LoadStatus resolveEntries();

    void *m_handle = nullptr;
    std::string m_fileName;
    std::string m_error;
    InitFn m_init = nullptr;
    CloseFn m_close = nullptr;
    DataFn m_read = nullptr;
    DataFn m_write = nullptr;
    VersionFn m_getVer = nullptr;
    OstrelDescribeFn m_describe = nullptr;
    OstrelLastErrorFn m_lastError = nullptr;
};

} // namespace evm
