#pragma once
#include <QLibrary>
#include <QString>

#include "ostrel_abi.h"

#include <cstdint>
#include <functional>

namespace evm {

// The record handed to _init, zeroed whenever one is made, as every caller expects.
struct ConnectionSettings : OstrelConnectionSettings {
    ConnectionSettings() : OstrelConnectionSettings{} {}
};
static_assert(sizeof(ConnectionSettings) == sizeof(OstrelConnectionSettings));

constexpr int ChipChannel = OSTREL_CHANNEL_CHIP;
constexpr int PinChannel = OSTREL_CHANNEL_LINES;
constexpr int TransferBufferSize = OSTREL_TRANSFER_BUFFER_SIZE;

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

    // EVM_BOARD_LIBRARY when set; else "Ostrel" beside the executable, else in the
    // system's library paths. The working directory is never searched.
    LoadStatus load();
    LoadStatus loadFile(const QString &path);
    void unload();

    bool isLoaded() const { return m_init != nullptr; }
    QString fileName() const { return m_lib.fileName(); }
    QString errorString() const { return m_error; }

    // Only valid while isLoaded(); each call blocks until the library returns.
    int32_t init(int32_t port, ConnectionSettings *settings);
    int32_t close();
    int32_t readData(int32_t channel, int32_t reg, uint8_t *buffer, int32_t count);
    int32_t writeData(int32_t channel, int32_t reg, uint8_t *buffer, int32_t count);
    int32_t getVer();

    // Called after every entry call with a one-line description (for --trace).
    std::function<void(const QString &)> trace;

    // Where load() would look, in order (for messages and tests).
    static QStringList searchOrder();

private:
    LoadStatus resolveEntries();

    QLibrary m_lib;
    QString m_error;
    InitFn m_init = nullptr;
    CloseFn m_close = nullptr;
    DataFn m_read = nullptr;
    DataFn m_write = nullptr;
    VersionFn m_getVer = nullptr;
};

} // namespace evm
