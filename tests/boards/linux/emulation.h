// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A Linux board's device files, emulated in user space with umockdev: /dev/i2c-1 and
// /dev/spidev0.0 with the chip model answering behind them, /dev/gpiochip0 and
// /dev/gpiochip1 recording every line request and level. The test runs under umockdev's
// preload; a process it starts inherits the testbed, while the ioctls are answered here, on
// umockdev's worker thread. A line request hands back a descriptor opened in this process,
// so only a library loaded here can drive lines (the tool, a child, never writes them).
#include "chip.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

// Runs this test program again under umockdev's preload unless it already runs under it,
// so that it can be started directly as well as from CTest.
void runUnderDeviceEmulation(char **argv);

// The test's main(): the program under umockdev, then the Qt Test class.
#define EVM_EMULATED_TEST_MAIN(TestObject, Application)                                                        \
    int main(int argc, char **argv)                                                                            \
    {                                                                                                          \
        runUnderDeviceEmulation(argv);                                                                         \
        Application app(argc, argv);                                                                           \
        TestObject test;                                                                                       \
        return QTest::qExec(&test, argc, argv);                                                                \
    }

// What this process writes to standard error while it lives (the board library's reasons).
class StandardErrorCapture
{
public:
    StandardErrorCapture();
    ~StandardErrorCapture();
    StandardErrorCapture(const StandardErrorCapture &) = delete;
    StandardErrorCapture &operator=(const StandardErrorCapture &) = delete;
    QString text();

private:
    int m_saved = -1;
    int m_file = -1;
};

// The permission checks a normal user meets, also for a test that runs as root: this thread
// loses the capabilities that override file permissions while the object lives.
class WithoutFileOverride
{
public:
    WithoutFileOverride();
    ~WithoutFileOverride();
    WithoutFileOverride(const WithoutFileOverride &) = delete;
    WithoutFileOverride &operator=(const WithoutFileOverride &) = delete;

private:
    uint32_t m_effective[2] = {};
    bool m_changed = false;
};

struct _UMockdevTestbed;
struct _UMockdevIoctlBase;
struct _UMockdevIoctlClient;

class EmulatedBoard
{
public:
    static constexpr int kGpioChips = 2;
    static constexpr int kGpioLines = 32;

    EmulatedBoard();
    ~EmulatedBoard();
    EmulatedBoard(const EmulatedBoard &) = delete;
    EmulatedBoard &operator=(const EmulatedBoard &) = delete;

    // The chip's strapped IIC address (0x44 unless set); any other gets no acknowledge.
    void setIicAddress(int address);

    // Every bus transfer since the last clear, in order:
    //   "iic 0x44 read 0x40 = 0xC0", "iic 0x44 write 0x46 = 0x0A", "iic 0x45 read 0x40 nack",
    //   "spi 0xC0 0x00 -> 0x00 0xC0" (the bytes sent, then the bytes clocked in),
    //   "spi mode 0", "spi bits 8", "spi speed 1000000".
    QStringList transfers();
    // Only the register transfers ("iic ..." or "spi 0x..").
    QStringList registerTransfers();
    void clearTransfers();

    // Every line event since the last clear, in order:
    //   "gpiochip0 17 request output 1 evm5170", "gpiochip0 17 = 0", "gpiochip0 17 released".
    QStringList lineEvents();
    void clearLineEvents();
    // The level a requested line drives now, -1 while it is not requested. A release shows
    // once the handle's close has reached the emulation (poll for it).
    int level(int chip, int offset);
    // A line held by someone else: a request for it fails with EBUSY.
    void setBusy(int chip, int offset);

    // Ties a GPIO line to the chip model's board line, so that the chip sees what it drives
    // (line 53 resets it, the DIN lines decide its zero flags).
    void wire(int chip, int offset, int boardLine);

    // The chip model behind the buses, under the emulation's lock.
    void withChip(const std::function<void(ostrel::Chip &)> &body);
    int chipRegister(int reg);

    // The adapter goes away: every transfer on node fails with ENODEV from now on and
    // the node itself disappears. plugIn() brings the node back, answering again.
    void unplug(const QString &node);
    void plugIn(const QString &node);
    // The file that plays node inside the testbed (for chmod and the like).
    QString nodeFile(const QString &node) const;
    // Open descriptors of node that the library still holds (closes reach the fake late).
    int openClients(const QString &node);

private:
    struct Handler;
    friend struct Handler;
    int handleIic(_UMockdevIoctlClient *client);
    int handleSpi(_UMockdevIoctlClient *client);
    int handleGpioChip(int chip, _UMockdevIoctlClient *client);
    int handleGpioLine(int chip, _UMockdevIoctlClient *client);
    void takeHandle(int chip, _UMockdevIoctlClient *client);
    void sweepReleasedHandles();
    void attach(const QString &node, std::function<int(_UMockdevIoctlClient *)> handler);

    _UMockdevTestbed *m_testbed = nullptr;
    QString m_root;
    std::vector<std::unique_ptr<Handler>> m_handlers;

    std::mutex m_mutex;
    ostrel::Chip m_chip;
    int m_iicAddress = 0x44;
    QStringList m_transfers;
    QStringList m_lineEvents;
    QStringList m_unplugged;
    struct Line {
        int level = -1;
        bool busy = false;
        int boardLine = -1;
        int handle = 0; // the request that holds it
    };
    Line m_lines[kGpioChips][kGpioLines];
    // Requests whose handle descriptor was opened but whose client has not connected yet.
    struct Pending {
        int chip;
        int handle;
        std::vector<int> offsets;
    };
    std::vector<Pending> m_pendingHandles;
    int m_lastHandle = 0;
};
