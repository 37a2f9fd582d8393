// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux_backend.h"

#include <gpiod.h>
extern "C" {
#include <i2c/smbus.h>
}
#include <linux/i2c-dev.h>
#include <linux/spi/spidev.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::linuxboard {

namespace {

constexpr const char kConsumer[] = "evm5170";
// The chip's four strapped addresses; nothing else on the bus is this board's chip.
constexpr int32_t kFirstChipAddress = 0x44;
constexpr int32_t kLastChipAddress = 0x47;

// Why the last open or access failed, for the user (ostrel_last_error).
std::string g_reason;

// A failure at open: said on stderr as ever, and kept as the reason.
void complain(const char *format, ...) __attribute__((format(printf, 1, 2)));
void complain(const char *format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_reason = text;
    warn("%s", text);
}

// A failed transfer: kept as the reason only, since a window may make thousands of them.
void because(const std::string &device, const std::string &what)
{
    g_reason = device + ": " + what;
}

std::string hex2(int32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X", unsigned(v) & 0xFFFFFFFFu);
    return text;
}

int32_t systemError(int error)
{
    if (error == ENXIO || error == EREMOTEIO)
        return OSTREL_NO_ACKNOWLEDGE;
    return OSTREL_SYSTEM_ERROR + (error > 0 ? error : EIO);
}

// The type is checked before anything opens a node: a regular file left at /dev/i2c-1 would
// open fine and fail every transfer, and a FIFO named by mistake would block the open.
bool isCharacterDevice(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        complain("%s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    if (!S_ISCHR(st.st_mode)) {
        complain("%s: not a character device", path.c_str());
        return false;
    }
    return true;
}

// A bus node, opened for transfers; a terminal named by mistake does not wait for a carrier.
int openDevice(const std::string &path)
{
    if (!isCharacterDevice(path))
        return -1;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        complain("%s: %s", path.c_str(), std::strerror(errno));
    return fd;
}

// The example configuration installed with the documentation, found from where this library
// lies (so a relocated install finds its own), else where it was to be installed; empty when
// neither holds it, as in a build folder.
std::string installedExample()
{
    std::vector<std::string> candidates;
    Dl_info self {};
    if (::dladdr(reinterpret_cast<void *>(&installedExample), &self) != 0 && self.dli_fname) {
        const std::string library = self.dli_fname;
        const auto slash = library.rfind('/');
        if (slash != std::string::npos)
            candidates.push_back(library.substr(0, slash + 1) + EVM_LINUX_EXAMPLE_FROM_LIBRARY);
    }
    candidates.push_back(EVM_LINUX_EXAMPLE_INSTALLED);
    for (const std::string &path : candidates) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        char *real = ::realpath(path.c_str(), nullptr); // without the ../ that led there
        const std::string found = real ? real : path;
        std::free(real);
        return found;
    }
    return std::string();
}

} // namespace

int32_t LinuxBackend::open(int32_t, const OstrelConnectionSettings &settings)
{
    close();
    g_reason.clear();
    // Read at every open, so that an edit takes effect at the next Reconnect.
    configPath_ = configPath();
    std::string error;
    auto config = readConfig(configPath_, error);
    configured_ = config.has_value();
    if (!config) {
        configError_ = error;
        struct stat st {};
        example_ = ::stat(configPath_.c_str(), &st) != 0 && errno == ENOENT ? installedExample() : std::string();
        if (example_.empty())
            complain("%s", error.c_str());
        else
            complain("%s; copy the example %s there and edit it", error.c_str(), example_.c_str());
        return 0;
    }
    configError_.clear();
    config_ = std::move(*config);

    bool ok = false;
    if (settings.interfaceCode == OSTREL_INTERFACE_IIC)
        ok = openIic(settings.deviceAddress);
    else if (settings.interfaceCode == OSTREL_INTERFACE_SPI)
        ok = openSpi();
    else
        complain("interface code %d is neither IIC (%d) nor SPI (%d)", int(settings.interfaceCode), OSTREL_INTERFACE_IIC,
             OSTREL_INTERFACE_SPI);
    if (ok)
        ok = openLines();
    if (!ok) {
        close();
        return 0;
    }
    return kPort;
}

bool LinuxBackend::openIic(int32_t address)
{
    if (config_.iicDevice.empty()) {
        complain("%s: no Device in [IIC]", configPath_.c_str());
        return false;
    }
    fd_ = openDevice(config_.iicDevice);
    if (fd_ < 0)
        return false;
    bus_ = Bus::Iic;
    unsigned long funcs = 0;
    if (::ioctl(fd_, I2C_FUNCS, &funcs) != 0) {
        complain("%s: %s", config_.iicDevice.c_str(), std::strerror(errno));
        return false;
    }
    if ((funcs & (I2C_FUNC_SMBUS_READ_BYTE_DATA | I2C_FUNC_SMBUS_WRITE_BYTE_DATA))
        != (I2C_FUNC_SMBUS_READ_BYTE_DATA | I2C_FUNC_SMBUS_WRITE_BYTE_DATA)) {
        complain("%s: the adapter cannot do SMBus byte-data transfers", config_.iicDevice.c_str());
        return false;
    }
    // Any other address is not the chip's (an interface switch hands over an SPI address
    // 0..3, and 0 is the bus's general call): it answers 0x0101 without touching the bus.
    address_ = address;
    addressable_ = address >= kFirstChipAddress && address <= kLastChipAddress;
    if (addressable_ && ::ioctl(fd_, I2C_SLAVE, static_cast<unsigned long>(address)) != 0) {
        if (errno == EBUSY)
            complain("%s: address 0x%02X is taken by a kernel driver", config_.iicDevice.c_str(), unsigned(address));
        else
            complain("%s: address 0x%02X: %s", config_.iicDevice.c_str(), unsigned(address), std::strerror(errno));
        return false;
    }
    return true;
}

bool LinuxBackend::openSpi()
{
    if (config_.spiDevice.empty()) {
        complain("%s: no Device in [SPI]", configPath_.c_str());
        return false;
    }
    fd_ = openDevice(config_.spiDevice);
    if (fd_ < 0)
        return false;
    bus_ = Bus::Spi;
    uint8_t mode = config_.spiMode;
    uint8_t bits = 8;
    uint32_t speed = config_.spiSpeedHz;
    const char *what = nullptr;
    if (::ioctl(fd_, SPI_IOC_WR_MODE, &mode) != 0)
        what = "mode";
    else if (::ioctl(fd_, SPI_IOC_WR_BITS_PER_WORD, &bits) != 0)
        what = "8 bits a word";
    else if (::ioctl(fd_, SPI_IOC_WR_MAX_SPEED_HZ, &speed) != 0)
        what = "speed";
    if (what) {
        complain("%s: cannot set the %s: %s", config_.spiDevice.c_str(), what, std::strerror(errno));
        return false;
    }
    return true;
}

bool LinuxBackend::openLines()
{
    for (const LineMapping &m : config_.lines) {
        auto chip = std::find_if(chips_.begin(), chips_.end(), [&](const Chip &c) { return c.path == m.chip; });
        if (chip == chips_.end()) {
            if (!isCharacterDevice(m.chip))
                return false;
            gpiod_chip *opened = gpiod_chip_open(m.chip.c_str());
            if (!opened) {
                complain("%s: %s", m.chip.c_str(), std::strerror(errno));
                return false;
            }
            chips_.push_back({m.chip, opened});
            chip = chips_.end() - 1;
        }
        if (m.offset >= gpiod_chip_num_lines(chip->chip)) {
            complain("line %d: %s has no line %u (it has %u)", m.boardLine, m.chip.c_str(), m.offset,
                 gpiod_chip_num_lines(chip->chip));
            return false;
        }
        lines_[size_t(m.boardLine)] = Line{chip->chip, chip->path, m.offset, nullptr};
    }
    return true;
}

void LinuxBackend::close()
{
    for (Line &line : lines_) {
        if (line.requested)
            gpiod_line_release(line.requested);
        line = Line{};
    }
    for (Chip &chip : chips_)
        gpiod_chip_close(chip.chip);
    chips_.clear();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    bus_ = Bus::None;
    addressable_ = false;
}

int32_t LinuxBackend::spiFrame(uint8_t first, uint8_t second, uint8_t &clockedIn)
{
    uint8_t tx[2] = {first, second};
    uint8_t rx[2] = {};
    spi_ioc_transfer transfer{};
    transfer.tx_buf = reinterpret_cast<uintptr_t>(tx);
    transfer.rx_buf = reinterpret_cast<uintptr_t>(rx);
    transfer.len = sizeof tx;
    transfer.speed_hz = config_.spiSpeedHz;
    transfer.bits_per_word = 8;
    if (::ioctl(fd_, SPI_IOC_MESSAGE(1), &transfer) < 0) {
        const int error = errno;
        because(config_.spiDevice, std::strerror(error));
        return systemError(error);
    }
    clockedIn = rx[1];
    return OSTREL_OK;
}

int32_t LinuxBackend::iicFailure(int error)
{
    if (error == ENXIO || error == EREMOTEIO)
        because(config_.iicDevice, "nothing answers at 0x" + hex2(address_));
    else
        because(config_.iicDevice, std::strerror(error));
    return systemError(error);
}

int32_t LinuxBackend::notAddressable()
{
    because(config_.iicDevice, "0x" + hex2(address_) + " is none of the chip's addresses 0x44 to 0x47");
    return OSTREL_NO_ACKNOWLEDGE;
}

int32_t LinuxBackend::readRegister(int32_t reg, uint8_t &value)
{
    value = 0;
    g_reason.clear();
    if (reg < 0 || reg > 0xFF)
        return OSTREL_BAD_REGISTER;
    if (bus_ == Bus::Iic) {
        if (!addressable_)
            return notAddressable();
        const int32_t r = i2c_smbus_read_byte_data(fd_, uint8_t(reg));
        if (r < 0)
            return iicFailure(-r);
        value = uint8_t(r);
        return OSTREL_OK;
    }
    if (bus_ == Bus::Spi) {
        // A register that shares a bit with the read flag cannot be told from a read.
        if (reg & config_.readFlag)
            return OSTREL_BAD_REGISTER;
        return spiFrame(uint8_t(reg | config_.readFlag), 0, value);
    }
    return OSTREL_NOT_OPEN;
}

int32_t LinuxBackend::writeRegister(int32_t reg, uint8_t value)
{
    g_reason.clear();
    if (reg < 0 || reg > 0xFF)
        return OSTREL_BAD_REGISTER;
    if (bus_ == Bus::Iic) {
        if (!addressable_)
            return notAddressable();
        const int32_t r = i2c_smbus_write_byte_data(fd_, uint8_t(reg), value);
        return r < 0 ? iicFailure(-r) : OSTREL_OK;
    }
    if (bus_ == Bus::Spi) {
        if (reg & config_.readFlag)
            return OSTREL_BAD_REGISTER;
        uint8_t ignored = 0;
        return spiFrame(uint8_t(reg), value, ignored);
    }
    return OSTREL_NOT_OPEN;
}

int32_t LinuxBackend::writeLine(int32_t line, uint8_t level)
{
    g_reason.clear();
    if (line < 0 || line >= OSTREL_LINE_COUNT)
        return OSTREL_BAD_REGISTER;
    Line &l = lines_[size_t(line)];
    auto failed = [&](int error) {
        because(l.path + " line " + std::to_string(l.offset), std::strerror(error));
        return systemError(error);
    };
    // The board's other lines (11 to 15 belong to the original board's bridge) have nowhere to go.
    if (!l.chip)
        return OSTREL_OK;
    const int value = level ? 1 : 0;
    if (!l.requested) {
        // Requested at its first level, so that a line the board keeps high (53, the
        // chip's reset) never dips while it is taken over.
        gpiod_line *g = gpiod_chip_get_line(l.chip, l.offset);
        if (!g || gpiod_line_request_output(g, kConsumer, value) != 0)
            return failed(errno);
        l.requested = g;
        return OSTREL_OK;
    }
    return gpiod_line_set_value(l.requested, value) == 0 ? OSTREL_OK : failed(errno);
}

std::string LinuxBackend::lastError() const
{
    return g_reason;
}

std::string LinuxBackend::describe() const
{
    std::string out = "config: " + (configPath_.empty() ? configPath() : configPath_) + "\n";
    if (!configured_) {
        if (!configError_.empty())
            out += "config error: " + configError_ + "\n";
        if (!example_.empty())
            out += "config example: " + example_ + "\n";
        return out;
    }
    if (!config_.iicDevice.empty())
        out += "iic device: " + config_.iicDevice + "\n";
    if (!config_.spiDevice.empty()) {
        char spi[160];
        std::snprintf(spi, sizeof spi, ", mode %u, %u Hz, read flag 0x%02X\n", unsigned(config_.spiMode),
                      unsigned(config_.spiSpeedHz), unsigned(config_.readFlag));
        out += "spi device: " + config_.spiDevice + spi;
    }
    if (config_.lines.empty())
        out += "lines: none mapped\n";
    for (const LineMapping &m : config_.lines)
        out += "line " + std::to_string(m.boardLine) + ": " + m.chip + " " + std::to_string(m.offset) + "\n";
    return out;
}

namespace {
// Made on first use: the shim asks for it while the library is being loaded.
LinuxBackend &theBackend()
{
    static LinuxBackend backend;
    return backend;
}
} // namespace

} // namespace ostrel::linuxboard

ostrel::Backend &ostrel::backend()
{
    return linuxboard::theBackend();
}

// Beyond the five entries: how this library reaches the board, for the tool's info.
// Copies the text with its terminating NUL when size allows and answers its length.
extern "C" __attribute__((visibility("default"))) int32_t ostrel_describe(char *buffer, int32_t size)
{
    const std::string text = ostrel::linuxboard::theBackend().describe();
    if (buffer && size > 0) {
        const size_t n = std::min(text.size(), size_t(size) - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return int32_t(text.size());
}
