// SPDX-License-Identifier: GPL-3.0-or-later
// libOstrel.so's board: the simulated CDX5170 as the backend of the entry shim, which does
// the checks and the trace every board library shares, plus the ostrel_sim_* calls that
// in-process tests use to steer it.
//
// Its own error codes (the shim's are in ostrel_shim.cpp):
//   0x0005  bad register: a register outside 0x40..0x5E
//   0x0101  no acknowledge: IIC opened at an address other than the chip's strapped one
//   0x0102  not open: no board present, also when it is taken away while open
// Faults injected through OSTREL_SIM_FAIL or ostrel_sim_set_fault return their own code.

#include "ostrel_sim.h"

#include "chip.h"
#include "environment.h"
#include "ostrel_shim.h"
#include "state.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#ifdef _WIN32
#define OSTREL_EXPORT extern "C" __declspec(dllexport)
#else
#define OSTREL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using ostrel::Chip;

namespace {

constexpr int kDefaultPort = 1;
constexpr int kDefaultVersion = 0x1000;
constexpr int kDefaultIicAddress = 0x44;
constexpr int kFaultKinds = 3;
constexpr size_t kLogBytes = 1024 * 1024;

struct Fault {
    int32_t code = 0;
    int after = 0;
    int successes = 0;
};

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
    // The registers as the state file gave them to this session, to tell its own changes.
    ostrel::Registers loaded{};

    void setFault(int kind, int after, int32_t code)
    {
        if (kind >= 0 && kind < kFaultKinds)
            faults[kind] = Fault{code, after < 0 ? 0 : after, 0};
    }

    // Why a register access would fail before any fault is considered, or OSTREL_OK.
    int32_t refusal(int32_t reg) const
    {
        if (!Chip::isRegister(reg))
            return OSTREL_BAD_REGISTER;
        // The control lines are the board's own; only the chip's bus has an address to miss.
        if (interface == OSTREL_INTERFACE_IIC && address != iicAddress)
            return OSTREL_NO_ACKNOWLEDGE;
        return OSTREL_OK;
    }

    // An injected fault turns a call that would succeed into a failure, once the
    // allowed number of successes of its kind has been used up.
    int32_t injected(int kind)
    {
        Fault &fault = faults[kind];
        if (fault.code == OSTREL_OK)
            return OSTREL_OK;
        if (fault.successes < fault.after) {
            ++fault.successes;
            return OSTREL_OK;
        }
        return fault.code;
    }
};

class SimulatedBoard final : public ostrel::Backend {
public:
    // The environment is read once, when the library is loaded; ostrel_sim_reset does not read it again.
    SimulatedBoard();

    Board board;

    const char *name() const override { return "SIM"; }

    int32_t open(int32_t port, const OstrelConnectionSettings &settings) override
    {
        (void)port;
        // Only IIC and SPI reach the chip; any other interface code finds no board.
        const int32_t interface = settings.interfaceCode;
        const bool known = interface == OSTREL_INTERFACE_IIC || interface == OSTREL_INTERFACE_SPI;
        const int32_t result = board.present && known ? board.port : 0;
        // A session starts from the state file as last saved; an _init on an open board goes
        // on with its session, and one that finds no board ends it.
        if (!statePath_.empty()) {
            if (board.open && result == 0)
                saveState();
            else if (!board.open && result != 0 && stateFolderReady())
                loadState();
        }
        board.open = result != 0;
        board.interface = interface;
        board.address = settings.deviceAddress;
        return result;
    }

    void close() override
    {
        if (board.open && !statePath_.empty())
            saveState();
        board.open = false;
    }

    int32_t readRegister(int32_t reg, uint8_t &value) override
    {
        pause();
        // Others share the chip through the state file: a read shows what they saved meanwhile.
        if (!statePath_.empty())
            followState();
        int32_t code = board.refusal(reg);
        if (code == OSTREL_OK)
            code = board.injected(OSTREL_SIM_FAULT_READ);
        if (code == OSTREL_OK)
            value = board.chip.read(reg);
        return code;
    }

    int32_t writeRegister(int32_t reg, uint8_t value) override
    {
        pause();
        int32_t code = board.refusal(reg);
        if (code == OSTREL_OK)
            code = board.injected(OSTREL_SIM_FAULT_WRITE);
        if (code == OSTREL_OK)
            board.chip.write(reg, value);
        return code;
    }

    int32_t writeLine(int32_t line, uint8_t level) override
    {
        pause();
        const int32_t code = board.injected(OSTREL_SIM_FAULT_PIN);
        if (code == OSTREL_OK)
            board.chip.driveLine(line, level);
        return code;
    }

    int32_t version() override { return board.version; }

    // Also false once the board is taken away (ostrel_sim_set_present) or reset while open.
    bool connected() const override { return board.open && board.present; }

    void traced(const std::string &line) override
    {
        if (!board.logEnabled)
            return;
        board.log += line;
        board.log += '\n';
        // The log is for tests, which look at the last few thousand calls: past its bound the
        // older half goes, a whole line at a time, so a long run's memory stays flat.
        if (board.log.size() > kLogBytes) {
            const size_t cut = board.log.find('\n', board.log.size() - kLogBytes / 2);
            board.log.erase(0, cut + 1);
        }
    }

private:
    static std::optional<long long> integerSetting(const char *name);

    // A slow bus, for the tests of a server shared by several clients.
    void pause() const
    {
        if (delayUs_ > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs_));
    }

    void loadState()
    {
        ostrel::loadState(statePath_, board.chip);
        board.loaded = ostrel::storedRegisters(board.chip);
        stamp_ = ostrel::stateStamp(statePath_);
    }
    void saveState()
    {
        ostrel::saveState(statePath_, board.chip, board.loaded);
        stamp_ = ostrel::stateStamp(statePath_);
    }
    void followState()
    {
        const ostrel::StateStamp now = ostrel::stateStamp(statePath_);
        if (now == stamp_)
            return;
        ostrel::followState(statePath_, board.chip, board.loaded);
        stamp_ = now;
    }

    // The default file's folder is made on first use; a file the user named is where they said.
    bool stateFolderReady()
    {
        if (defaultState_ && !ostrel::makeStateFolder(statePath_))
            statePath_.clear();
        return !statePath_.empty();
    }

    std::string statePath_;
    ostrel::StateStamp stamp_;
    bool defaultState_ = false;
    long long delayUs_ = 0;
};

std::optional<long long> SimulatedBoard::integerSetting(const char *name)
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

SimulatedBoard::SimulatedBoard()
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
    if (const auto value = integerSetting("OSTREL_SIM_DELAY_US"))
        delayUs_ = std::min(*value, 1000000LL);
    // Unset: the user's own state file; set but empty: no state file, power-on values every run.
    if (const char *path = std::getenv("OSTREL_SIM_STATE"))
        statePath_ = path;
    else
        defaultState_ = !(statePath_ = ostrel::defaultStatePath()).empty();
}

// Constructed on first use: the shim asks for it while the library is being loaded.
SimulatedBoard &simulated()
{
    static SimulatedBoard instance;
    return instance;
}

Board &board()
{
    return simulated().board;
}

} // namespace

ostrel::Backend &ostrel::backend()
{
    return simulated();
}

OSTREL_EXPORT void ostrel_sim_reset(void)
{
    board() = Board();
}

OSTREL_EXPORT void ostrel_sim_set_present(int present)
{
    board().present = present != 0;
}

OSTREL_EXPORT void ostrel_sim_set_port(int port)
{
    board().port = port;
}

OSTREL_EXPORT void ostrel_sim_set_iic_address(int address)
{
    board().iicAddress = address;
}

OSTREL_EXPORT void ostrel_sim_set_version(int version)
{
    board().version = version;
}

OSTREL_EXPORT void ostrel_sim_set_fault(int kind, int after, int code)
{
    board().setFault(kind, after, code);
}

OSTREL_EXPORT int ostrel_sim_register(int reg)
{
    return Chip::isRegister(reg) ? board().chip.read(reg) : -1;
}

OSTREL_EXPORT void ostrel_sim_poke(int reg, int value)
{
    if (Chip::isRegister(reg))
        board().chip.poke(reg, uint8_t(value));
}

OSTREL_EXPORT int ostrel_sim_line(int pin)
{
    return Chip::isLine(pin) ? board().chip.line(pin) : -1;
}

// The text stays valid until the next call into the library.
OSTREL_EXPORT const char *ostrel_sim_log(void)
{
    return board().log.c_str();
}

OSTREL_EXPORT void ostrel_sim_clear_log(void)
{
    board().log.clear();
}

OSTREL_EXPORT void ostrel_sim_set_log_enabled(int enabled)
{
    board().logEnabled = enabled != 0;
}

OSTREL_EXPORT int ostrel_sim_is_open(void)
{
    return board().open ? 1 : 0;
}
