// libOstrel.so: the simulated CDX5170 board behind the five entries the program
// loads, plus the ostrel_sim_* calls that in-process tests use to steer it.
//
// Error codes (the program only shows them, in hexadecimal):
//   0x0003  bad argument: a null buffer or a count other than 1
//   0x0004  bad channel: reads on anything but channel 0, writes on anything but 0 and 7
//   0x0005  bad register: a register outside 0x40..0x5E, a line outside 0..63
//   0x0101  no acknowledge: IIC opened at an address other than the chip's strapped one
//   0x0102  not open: before _init, after _close, or no board present
// Faults injected through OSTREL_SIM_FAIL or ostrel_sim_set_fault return their own code.

#include "ostrel_sim.h"

#include "chip.h"
#include "environment.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#define OSTREL_EXPORT extern "C" __attribute__((visibility("default")))

using ostrel::Chip;

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kBadArgument = 0x0003;
constexpr int32_t kBadChannel = 0x0004;
constexpr int32_t kBadRegister = 0x0005;
constexpr int32_t kNoAcknowledge = 0x0101;
constexpr int32_t kNotOpen = 0x0102;

constexpr int32_t kInterfaceIic = 1;
constexpr int32_t kInterfaceSpi = 3;
constexpr int32_t kChannelChip = 0;
constexpr int32_t kChannelLines = 7;

constexpr int kDefaultPort = 1;
constexpr int kDefaultVersion = 0x1000;
constexpr int kDefaultIicAddress = 0x44;
constexpr int kFaultKinds = 3;

struct Fault {
    int32_t code = 0;
    int after = 0;
    int successes = 0;
};

std::string formatted(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char *format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string resultText(int32_t code)
{
    return code == kOk ? std::string("0") : formatted("0x%04X", uint32_t(code));
}

std::string countText(int32_t count)
{
    return count == 1 ? std::string() : formatted(", count=%d", count);
}

int32_t littleEndian32(const void *record, int offset)
{
    const auto *bytes = static_cast<const uint8_t *>(record) + offset;
    return int32_t(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24);
}

// Everything ostrel_sim_reset puts back: the power-on board.
struct Board {
    Chip chip;
    bool present = true;
    int32_t port = kDefaultPort;
    int32_t version = kDefaultVersion;
    int iicAddress = kDefaultIicAddress;
    bool open = false;
    int32_t interface = 0;
    int32_t address = 0;
    std::array<Fault, kFaultKinds> faults{};
    bool logEnabled = true;
    std::string log;

    void setFault(int kind, int after, int32_t code)
    {
        if (kind >= 0 && kind < kFaultKinds)
            faults[kind] = Fault{code, after < 0 ? 0 : after, 0};
    }

    // Why a call would fail before any fault is considered, or kOk.
    int32_t refusal(int32_t channel, int32_t target, const uint8_t *buffer, int32_t count, bool isRead) const
    {
        if (!open || !present)
            return kNotOpen;
        if (!buffer || count != 1)
            return kBadArgument;
        if (channel == kChannelLines && !isRead)
            return Chip::isLine(target) ? kOk : kBadRegister;
        if (channel != kChannelChip)
            return kBadChannel;
        if (!Chip::isRegister(target))
            return kBadRegister;
        // The control lines are the board's own; only the chip's bus has an address to miss.
        if (interface == kInterfaceIic && address != iicAddress)
            return kNoAcknowledge;
        return kOk;
    }

    // An injected fault turns a call that would succeed into a failure, once the
    // allowed number of successes of its kind has been used up.
    int32_t injected(int kind)
    {
        Fault &fault = faults[kind];
        if (fault.code == kOk)
            return kOk;
        if (fault.successes < fault.after) {
            ++fault.successes;
            return kOk;
        }
        return fault.code;
    }
};

// What the environment said when the library was loaded; it outlives ostrel_sim_reset.
class Environment {
public:
    explicit Environment(Board &board);
    ~Environment()
    {
        if (trace_)
            std::fclose(trace_);
    }
    Environment(const Environment &) = delete;
    Environment &operator=(const Environment &) = delete;

    void trace(const std::string &line)
    {
        if (!trace_)
            return;
        std::fputs(line.c_str(), trace_);
        std::fputc('\n', trace_);
        std::fflush(trace_);
    }

    void saveState(const Chip &chip) const
    {
        if (!statePath_.empty())
            ostrel::saveState(statePath_, chip);
    }

private:
    static std::optional<long long> integerSetting(const char *name);

    std::FILE *trace_ = nullptr;
    std::string statePath_;
};

std::optional<long long> Environment::integerSetting(const char *name)
{
    const char *text = std::getenv(name);
    if (!text || !*text)
        return std::nullopt;
    const auto value = ostrel::parseInteger(text);
    if (!value || *value < 0 || *value > INT32_MAX) {
        ostrel::warn("%s: \"%s\" is not a number, ignoring it", name, text);
        return std::nullopt;
    }
    return value;
}

Environment::Environment(Board &board)
{
    if (const char *setting = std::getenv("OSTREL_SIM_BOARD"); setting && *setting) {
        if (std::strcmp(setting, "absent") == 0)
            board.present = false;
        else if (std::strcmp(setting, "present") != 0)
            ostrel::warn("OSTREL_SIM_BOARD: \"%s\" is neither absent nor present, ignoring it", setting);
    }
    if (const auto value = integerSetting("OSTREL_SIM_PORT"))
        board.port = int32_t(*value);
    if (const auto value = integerSetting("OSTREL_SIM_IIC_ADDRESS"))
        board.iicAddress = int(*value);
    if (const char *faults = std::getenv("OSTREL_SIM_FAIL")) {
        for (const ostrel::FaultSetting &fault : ostrel::parseFaults(faults))
            board.setFault(fault.kind, fault.after, fault.code);
    }
    if (const char *path = std::getenv("OSTREL_SIM_TRACE"); path && *path) {
        trace_ = std::fopen(path, "a");
        if (!trace_)
            ostrel::warn("OSTREL_SIM_TRACE: cannot open %s: %s", path, std::strerror(errno));
    }
    if (const char *path = std::getenv("OSTREL_SIM_STATE"); path && *path) {
        statePath_ = path;
        ostrel::loadState(statePath_, board.chip);
    }
}

// Both are constructed when the library is loaded, in this order, which is when the
// environment is read.
Board board;
Environment environment(board);

void record(const std::string &line)
{
    environment.trace(line);
    if (board.logEnabled) {
        board.log += line;
        board.log += '\n';
    }
}

} // namespace

OSTREL_EXPORT int32_t _init(int32_t port, void *settings)
{
    if (!settings) {
        record(formatted("_init(port=%d, settings=null) = 0", port));
        return 0;
    }
    const int32_t interface = littleEndian32(settings, 0);
    const int32_t address = littleEndian32(settings, 4);
    const int32_t word56 = littleEndian32(settings, 56);
    // Only IIC and SPI reach the chip; any other interface code finds no board.
    const bool known = interface == kInterfaceIic || interface == kInterfaceSpi;
    const int32_t result = board.present && known ? board.port : 0;
    board.open = result != 0;
    board.interface = interface;
    board.address = address;
    record(formatted("_init(port=%d, interface=%d, address=0x%02X, word56=%d) = %d", port, interface,
                           uint32_t(address), word56, result));
    return result;
}

OSTREL_EXPORT int32_t _close()
{
    if (board.open)
        environment.saveState(board.chip);
    board.open = false;
    record("_close() = 0");
    return 0;
}

OSTREL_EXPORT int32_t _readData(int32_t channel, int32_t reg, uint8_t *buffer, int32_t count)
{
    int32_t code = board.refusal(channel, reg, buffer, count, true);
    if (code == kOk)
        code = board.injected(OSTREL_SIM_FAULT_READ);
    const bool hasByte = buffer && count >= 1;
    if (hasByte)
        buffer[0] = code == kOk ? board.chip.read(reg) : 0;
    const std::string value = hasByte ? formatted("0x%02X", buffer[0]) : std::string("none");
    record(formatted("_readData(channel=%d, reg=0x%02X%s) = %s value=%s", channel, uint32_t(reg),
                           countText(count).c_str(), resultText(code).c_str(), value.c_str()));
    return code;
}

OSTREL_EXPORT int32_t _writeData(int32_t channel, int32_t regOrPin, uint8_t *buffer, int32_t count)
{
    const bool lines = channel == kChannelLines;
    int32_t code = board.refusal(channel, regOrPin, buffer, count, false);
    if (code == kOk)
        code = board.injected(lines ? OSTREL_SIM_FAULT_PIN : OSTREL_SIM_FAULT_WRITE);
    if (code == kOk) {
        if (lines)
            board.chip.driveLine(regOrPin, buffer[0]);
        else
            board.chip.write(regOrPin, buffer[0]);
    }
    const bool hasByte = buffer && count >= 1;
    const std::string value = !hasByte ? std::string("none")
                              : lines  ? formatted("%d", buffer[0])
                                       : formatted("0x%02X", buffer[0]);
    const std::string target = lines ? formatted("pin=%d", regOrPin) : formatted("reg=0x%02X", uint32_t(regOrPin));
    record(formatted("_writeData(channel=%d, %s, value=%s%s) = %s", channel, target.c_str(), value.c_str(),
                           countText(count).c_str(), resultText(code).c_str()));
    return code;
}

#ifndef OSTREL_SIM_NO_GETVER
OSTREL_EXPORT int32_t _getVer()
{
    record(formatted("_getVer() = 0x%04X", uint32_t(board.version)));
    return board.version;
}
#endif

OSTREL_EXPORT void ostrel_sim_reset(void)
{
    board = Board();
}

OSTREL_EXPORT void ostrel_sim_set_present(int present)
{
    board.present = present != 0;
}

OSTREL_EXPORT void ostrel_sim_set_port(int port)
{
    board.port = port;
}

OSTREL_EXPORT void ostrel_sim_set_iic_address(int address)
{
    board.iicAddress = address;
}

OSTREL_EXPORT void ostrel_sim_set_version(int version)
{
    board.version = version;
}

OSTREL_EXPORT void ostrel_sim_set_fault(int kind, int after, int code)
{
    board.setFault(kind, after, code);
}

OSTREL_EXPORT int ostrel_sim_register(int reg)
{
    return Chip::isRegister(reg) ? board.chip.read(reg) : -1;
}

OSTREL_EXPORT void ostrel_sim_poke(int reg, int value)
{
    if (Chip::isRegister(reg))
        board.chip.poke(reg, uint8_t(value));
}

OSTREL_EXPORT int ostrel_sim_line(int pin)
{
    return Chip::isLine(pin) ? board.chip.line(pin) : -1;
}

// The text stays valid until the next call into the library.
OSTREL_EXPORT const char *ostrel_sim_log(void)
{
    return board.log.c_str();
}

OSTREL_EXPORT void ostrel_sim_clear_log(void)
{
    board.log.clear();
}

OSTREL_EXPORT void ostrel_sim_set_log_enabled(int enabled)
{
    board.logEnabled = enabled != 0;
}

OSTREL_EXPORT int ostrel_sim_is_open(void)
{
    return board.open ? 1 : 0;
}
