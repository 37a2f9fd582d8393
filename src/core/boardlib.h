#pragma once
#include <QLibrary>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace evm {

// The record handed to _init, little-endian, 64 bytes.
struct ConnectionSettings {
    int32_t interfaceCode = 0; // 1 IIC, 3 SPI
    int32_t deviceAddress = 0; // IIC 0x44..0x47, SPI 0
    uint8_t unused1[48] = {};
    int32_t word56 = 0; // 3, set once at start-up; its meaning is the library's
    uint8_t unused2[4] = {};
};
static_assert(sizeof(ConnectionSettings) == 64);
static_assert(offsetof(ConnectionSettings, interfaceCode) == 0);
static_assert(offsetof(ConnectionSettings, deviceAddress) == 4);
static_assert(offsetof(ConnectionSettings, word56) == 56);

constexpr int ChipChannel = 0;
constexpr int PinChannel = 7;
constexpr int TransferBufferSize = 10;
// What a call on a library that is not loaded returns: "board not open", as the board's own code.
constexpr int32_t NotOpen = 0x0102;

// The board-access library, loaded at run time. Its five entries use the C
// calling convention with 32-bit arguments and a 32-bit result.
class BoardLibrary
{
public:
    enum class LoadStatus { Loaded, CannotLoad, InvalidLibrary };

    using InitFn = int32_t (*)(int32_t port, ConnectionSettings *settings);
    using CloseFn = int32_t (*)();
    using DataFn = int32_t (*)(int32_t channel, int32_t reg, uint8_t *buffer, int32_t count);
    using VersionFn = int32_t (*)();

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

    // Each call blocks until the library returns. While no library is loaded nothing is
    // called: init and getVer return 0 (no board, no version), the others NotOpen.
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
