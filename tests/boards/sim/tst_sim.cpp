// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated board, loaded the way the program loads it: by path through QLibrary,
// every entry resolved by name. The environment settings are read when the library
// loads, so those cases run the library in a child process (this binary, re-run with
// --sim-child and a list of calls).

#include "ostrel_sim.h"

#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <type_traits>

namespace {

using InitFn = int32_t (*)(int32_t, void *);
using NoArgFn = int32_t (*)();
using DataFn = int32_t (*)(int32_t, int32_t, uint8_t *, int32_t);

constexpr const char *kChildFlag = "--sim-child";
constexpr int32_t kIic = 1;
constexpr int32_t kSpi = 3;

constexpr int32_t kBadArgument = 0x0003;
constexpr int32_t kBadChannel = 0x0004;
constexpr int32_t kBadRegister = 0x0005;
constexpr int32_t kNoAcknowledge = 0x0101;
constexpr int32_t kNotOpen = 0x0102;

int powerOnValue(int reg)
{
    if (reg == 0x40)
        return 0xC0;
    if (reg >= 0x47 && reg <= 0x4F)
        return 0xFF;
    if (reg >= 0x58)
        return 0xD7;
    return 0x00;
}

std::array<uint8_t, 64> settingsRecord(int32_t interface, int32_t address)
{
    std::array<uint8_t, 64> record{};
    const auto put = [&record](int offset, int32_t value) {
        for (int i = 0; i < 4; ++i)
            record[offset + i] = uint8_t(uint32_t(value) >> (8 * i));
    };
    put(0, interface);
    put(4, address);
    put(56, 3);
    return record;
}

// The five entries, resolved from one loaded copy of a board library.
struct Entries {
    InitFn init = nullptr;
    NoArgFn close = nullptr;
    DataFn readData = nullptr;
    DataFn writeData = nullptr;
    NoArgFn getVer = nullptr;

    explicit Entries(QLibrary &library)
        : init(reinterpret_cast<InitFn>(library.resolve("_init")))
        , close(reinterpret_cast<NoArgFn>(library.resolve("_close")))
        , readData(reinterpret_cast<DataFn>(library.resolve("_readData")))
        , writeData(reinterpret_cast<DataFn>(library.resolve("_writeData")))
        , getVer(reinterpret_cast<NoArgFn>(library.resolve("_getVer")))
    {
    }
    Entries() = default;

    int32_t open(int32_t interface, int32_t address = 0)
    {
        auto record = settingsRecord(interface, address);
        return init(0, record.data());
    }
    int32_t read(int reg, uint8_t *value = nullptr)
    {
        uint8_t buffer[10] = {};
        const int32_t code = readData(0, reg, buffer, 1);
        if (value)
            *value = buffer[0];
        return code;
    }
    int32_t write(int channel, int target, int value)
    {
        uint8_t buffer[10] = {uint8_t(value)};
        return writeData(channel, target, buffer, 1);
    }
};

// Runs one call per argument against the library and exits; the trace shows the results.
//   init:IF:ADDR  read:REG  write:REG:VALUE  pin:PIN:VALUE  ver  close
//   quit: leave at once without flushing any stdio buffer
int runChild(const QStringList &calls)
{
    QLibrary library(QStringLiteral(OSTREL_SIM_PATH));
    if (!library.load()) {
        std::fprintf(stderr, "child: %s\n", qPrintable(library.errorString()));
        return 2;
    }
    Entries board(library);
    for (const QString &call : calls) {
        const QStringList f = call.split(QLatin1Char(':'));
        const auto number = [&f](int i) { return f.value(i).toInt(nullptr, 0); };
        if (f[0] == QLatin1String("init"))
            board.open(number(1), number(2));
        else if (f[0] == QLatin1String("read"))
            board.read(number(1));
        else if (f[0] == QLatin1String("write"))
            board.write(0, number(1), number(2));
        else if (f[0] == QLatin1String("pin"))
            board.write(7, number(1), number(2));
        else if (f[0] == QLatin1String("ver"))
            board.getVer();
        else if (f[0] == QLatin1String("close"))
            board.close();
        else if (f[0] == QLatin1String("quit"))
            std::_Exit(0);
        else
            return 3;
    }
    return 0;
}

QByteArray snapshot(const std::map<int, int> &changes)
{
    QByteArray text;
    for (int reg = 0x40; reg <= 0x5E; ++reg) {
        const auto changed = changes.find(reg);
        const int value = changed == changes.end() ? powerOnValue(reg) : changed->second;
        text += QByteArray("0x") + QByteArray::number(reg, 16).toUpper() + ", 0x"
                + QByteArray::number(value, 16).toUpper().rightJustified(2, '0') + "\r\n";
    }
    return text;
}

} // namespace

class TstSim : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void powerOnValues_data();
    void powerOnValues();
    void controlRegisterWrite_data();
    void controlRegisterWrite();
    void writeRules_data();
    void writeRules();
    void zeroFlagsFollowDinLines_data();
    void zeroFlagsFollowDinLines();
    void overflowFlagsFollowAttenuators_data();
    void overflowFlagsFollowAttenuators();
    void hardwareResetLine();
    void linesRememberTheirLevels();
    void registersSurviveReopen();
    void iicAddressMatching_data();
    void iicAddressMatching();
    void faultAfterSuccesses_data();
    void faultAfterSuccesses();
    void faultedCallsChangeNothing();
    void closedBoardRefuses_data();
    void closedBoardRefuses();
    void badArgumentsFail_data();
    void badArgumentsFail();
    void versionAndPort();
    void callLogLines();
    void callLogSwitch();
    void noVerLibraryLacksOnlyGetVer();
    void environment_data();
    void environment();

private:
    QList<int> registers() const;
    // With every DIN line high no zero flag is set, so 0x45 reads as its stored 0.
    bool driveDinLinesHigh();

    QLibrary library_{QStringLiteral(OSTREL_SIM_PATH)};
    Entries board_;
    decltype(&ostrel_sim_reset) reset_ = nullptr;
    decltype(&ostrel_sim_set_present) setPresent_ = nullptr;
    decltype(&ostrel_sim_set_port) setPort_ = nullptr;
    decltype(&ostrel_sim_set_iic_address) setIicAddress_ = nullptr;
    decltype(&ostrel_sim_set_version) setVersion_ = nullptr;
    decltype(&ostrel_sim_set_fault) setFault_ = nullptr;
    decltype(&ostrel_sim_register) register_ = nullptr;
    decltype(&ostrel_sim_poke) poke_ = nullptr;
    decltype(&ostrel_sim_line) line_ = nullptr;
    decltype(&ostrel_sim_log) log_ = nullptr;
    decltype(&ostrel_sim_clear_log) clearLog_ = nullptr;
    decltype(&ostrel_sim_set_log_enabled) setLogEnabled_ = nullptr;
    decltype(&ostrel_sim_is_open) isOpen_ = nullptr;
};

void TstSim::initTestCase()
{
    QVERIFY2(library_.load(), qPrintable(library_.errorString()));
    board_ = Entries(library_);
    QVERIFY(board_.init && board_.close && board_.readData && board_.writeData && board_.getVer);
    const auto resolve = [this](auto &function, const char *name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(library_.resolve(name));
        return function != nullptr;
    };
    QVERIFY(resolve(reset_, "ostrel_sim_reset"));
    QVERIFY(resolve(setPresent_, "ostrel_sim_set_present"));
    QVERIFY(resolve(setPort_, "ostrel_sim_set_port"));
    QVERIFY(resolve(setIicAddress_, "ostrel_sim_set_iic_address"));
    QVERIFY(resolve(setVersion_, "ostrel_sim_set_version"));
    QVERIFY(resolve(setFault_, "ostrel_sim_set_fault"));
    QVERIFY(resolve(register_, "ostrel_sim_register"));
    QVERIFY(resolve(poke_, "ostrel_sim_poke"));
    QVERIFY(resolve(line_, "ostrel_sim_line"));
    QVERIFY(resolve(log_, "ostrel_sim_log"));
    QVERIFY(resolve(clearLog_, "ostrel_sim_clear_log"));
    QVERIFY(resolve(setLogEnabled_, "ostrel_sim_set_log_enabled"));
    QVERIFY(resolve(isOpen_, "ostrel_sim_is_open"));
}

void TstSim::init()
{
    reset_();
}

QList<int> TstSim::registers() const
{
    QList<int> values;
    for (int reg = 0x40; reg <= 0x5E; ++reg)
        values << register_(reg);
    return values;
}

bool TstSim::driveDinLinesHigh()
{
    bool ok = true;
    for (int din = 46; din <= 49; ++din)
        ok = board_.write(7, din, 1) == 0 && ok;
    return ok;
}

void TstSim::powerOnValues_data()
{
    QTest::addColumn<int>("reg");
    for (int reg = 0x40; reg <= 0x5E; ++reg)
        QTest::addRow("0x%02X", reg) << reg;
}

void TstSim::powerOnValues()
{
    QFETCH(int, reg);
    QCOMPARE(board_.open(kSpi), 1);
    QVERIFY(driveDinLinesHigh());
    // Scrambled, then reset by MRST: every register must come back, not just the ones a reset touches.
    QCOMPARE(board_.write(0, reg == 0x40 ? 0x41 : reg, 0x5A), 0);
    QCOMPARE(board_.write(0, 0x40, 0x7F), 0);
    uint8_t value = 0xEE;
    QCOMPARE(board_.read(reg, &value), 0);
    QCOMPARE(int(value), powerOnValue(reg));
}

void TstSim::controlRegisterWrite_data()
{
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("readBack");
    QTest::addColumn<bool>("resets");
    QTest::newRow("sampling field, triggers at 1") << 0xC2 << 0xC2 << false;
    QTest::newRow("trigger bits read back as 1") << 0xFF << 0xFF << false;
    QTest::newRow("SRST with the same field") << 0x83 << 0xC3 << false;
    QTest::newRow("SRST with a new field") << 0x81 << 0xC1 << false;
    QTest::newRow("MRST") << 0x7F << 0xC0 << true;
    QTest::newRow("MRST and SRST") << 0x03 << 0xC0 << true;
}

void TstSim::controlRegisterWrite()
{
    QFETCH(int, written);
    QFETCH(int, readBack);
    QFETCH(bool, resets);
    QCOMPARE(board_.open(kSpi), 1);
    QVERIFY(driveDinLinesHigh());
    QCOMPARE(board_.write(0, 0x40, 0xC3), 0);
    QCOMPARE(board_.write(0, 0x47, 0x12), 0);
    QCOMPARE(board_.write(0, 0x5E, 0x34), 0);
    QList<int> expected = registers();
    if (resets) {
        expected.clear();
        for (int reg = 0x40; reg <= 0x5E; ++reg)
            expected << powerOnValue(reg);
    }
    expected[0] = readBack;

    QCOMPARE(board_.write(0, 0x40, written), 0);
    uint8_t value = 0;
    QCOMPARE(board_.read(0x40, &value), 0);
    QCOMPARE(int(value), readBack);
    QCOMPARE(registers(), expected);
}

void TstSim::writeRules_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("readBack");
    QTest::newRow("plain register keeps all bits") << 0x41 << 0xA5 << 0xA5;
    QTest::newRow("last register") << 0x5E << 0x00 << 0x00;
    QTest::newRow("zero flags are read-only") << 0x45 << 0xFF << 0x00;
    QTest::newRow("0x56 keeps bits 7 and 6 only") << 0x56 << 0xFF << 0xC0;
    QTest::newRow("0x56 bit 6") << 0x56 << 0x40 << 0x40;
}

void TstSim::writeRules()
{
    QFETCH(int, reg);
    QFETCH(int, written);
    QFETCH(int, readBack);
    QCOMPARE(board_.open(kSpi), 1);
    QVERIFY(driveDinLinesHigh());
    QCOMPARE(board_.write(0, reg, written), 0);
    uint8_t value = 0xEE;
    QCOMPARE(board_.read(reg, &value), 0);
    QCOMPARE(int(value), readBack);
    QCOMPARE(register_(reg), readBack);
}

void TstSim::zeroFlagsFollowDinLines_data()
{
    // Levels of DIN1..DIN4 (lines 49, 48, 47, 46); -1 leaves a line undriven.
    QTest::addColumn<QList<int>>("levels");
    QTest::addColumn<int>("flags");
    QTest::newRow("undriven lines are low") << QList<int>{-1, -1, -1, -1} << 0xFF;
    QTest::newRow("all high") << QList<int>{1, 1, 1, 1} << 0x00;
    QTest::newRow("DIN1 low: DAC1, DAC2") << QList<int>{0, 1, 1, 1} << 0x03;
    QTest::newRow("DIN2 low: DAC3, DAC4") << QList<int>{1, 0, 1, 1} << 0x0C;
    QTest::newRow("DIN3 low: DAC5, DAC6") << QList<int>{1, 1, 0, 1} << 0x30;
    QTest::newRow("DIN4 low: DAC7, DAC8") << QList<int>{1, 1, 1, 0} << 0xC0;
    QTest::newRow("DIN1 and DIN4 low") << QList<int>{0, 1, 1, 0} << 0xC3;
}

void TstSim::zeroFlagsFollowDinLines()
{
    QFETCH(QList<int>, levels);
    QFETCH(int, flags);
    QCOMPARE(board_.open(kSpi), 1);
    // Start from the opposite level so each row also shows the flags following a change.
    for (int i = 0; i < 4; ++i) {
        if (levels[i] >= 0) {
            QCOMPARE(board_.write(7, 49 - i, !levels[i]), 0);
            QCOMPARE(board_.write(7, 49 - i, levels[i]), 0);
        }
    }
    uint8_t value = 0xEE;
    QCOMPARE(board_.read(0x45, &value), 0);
    QCOMPARE(int(value), flags);
}

void TstSim::overflowFlagsFollowAttenuators_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("attenuation");
    QTest::addColumn<int>("stored56");
    QTest::addColumn<int>("flags");
    QTest::newRow("ADC1 at 0 dB") << 0x59 << 0xD7 << 0x00 << 0x00;
    QTest::newRow("ADC1 one step above") << 0x59 << 0xD8 << 0x00 << 0x01;
    QTest::newRow("ADC4 fully up") << 0x5C << 0xFF << 0x00 << 0x08;
    QTest::newRow("ADC6 above") << 0x5E << 0xE0 << 0x00 << 0x20;
    QTest::newRow("ADC3 above, stored bits kept") << 0x5B << 0xE0 << 0x80 << 0x84;
    QTest::newRow("ADC2 turned down") << 0x5A << 0x00 << 0x00 << 0x00;
    QTest::newRow("master attenuator is no ADC") << 0x58 << 0xFF << 0x00 << 0x00;
}

void TstSim::overflowFlagsFollowAttenuators()
{
    QFETCH(int, reg);
    QFETCH(int, attenuation);
    QFETCH(int, stored56);
    QFETCH(int, flags);
    QCOMPARE(board_.open(kSpi), 1);
    QCOMPARE(board_.write(0, 0x56, stored56), 0);
    QCOMPARE(board_.write(0, reg, attenuation), 0);
    uint8_t value = 0xEE;
    QCOMPARE(board_.read(0x56, &value), 0);
    QCOMPARE(int(value), flags);
    // Back at 0 dB the flag clears again.
    QCOMPARE(board_.write(0, reg, 0xD7), 0);
    QCOMPARE(board_.read(0x56, &value), 0);
    QCOMPARE(int(value), stored56);
}

void TstSim::hardwareResetLine()
{
    QCOMPARE(board_.open(kSpi), 1);
    QCOMPARE(board_.write(7, 49, 1), 0);
    QCOMPARE(board_.write(0, 0x47, 0x12), 0);
    QCOMPARE(board_.write(7, 53, 0), 0);
    QCOMPARE(register_(0x47), 0x12); // low without having been high: no pulse

    QCOMPARE(board_.write(7, 53, 1), 0);
    QCOMPARE(register_(0x47), 0x12);
    QCOMPARE(board_.write(7, 53, 0), 0);
    QCOMPARE(register_(0x47), 0xFF);
    QCOMPARE(line_(49), 1); // the lines are the board's, not the chip's

    QCOMPARE(board_.write(0, 0x47, 0x34), 0);
    QCOMPARE(board_.write(7, 53, 0), 0);
    QCOMPARE(register_(0x47), 0x34); // still low: no new edge
    QCOMPARE(board_.write(7, 53, 1), 0);
    QCOMPARE(register_(0x47), 0x34);
}

void TstSim::linesRememberTheirLevels()
{
    QCOMPARE(board_.open(kSpi), 1);
    QCOMPARE(line_(46), -1);
    QCOMPARE(board_.write(7, 46, 1), 0);
    QCOMPARE(board_.write(7, 50, 0), 0);
    QCOMPARE(board_.write(7, 63, 1), 0);
    QCOMPARE(board_.write(7, 0, 1), 0);
    QCOMPARE(board_.write(0, 0x40, 0x00), 0); // MRST leaves the lines alone
    QCOMPARE(line_(46), 1);
    QCOMPARE(line_(50), 0);
    QCOMPARE(line_(63), 1);
    QCOMPARE(line_(0), 1);
    QCOMPARE(line_(47), -1);
    QCOMPARE(line_(64), -1);
    QCOMPARE(line_(-1), -1);
    reset_();
    QCOMPARE(line_(46), -1);
}

void TstSim::registersSurviveReopen()
{
    QCOMPARE(board_.open(kSpi), 1);
    QCOMPARE(board_.write(0, 0x48, 0x21), 0);
    QCOMPARE(board_.close(), 0);
    QCOMPARE(isOpen_(), 0);
    QCOMPARE(board_.open(kIic, 0x44), 1);
    QCOMPARE(isOpen_(), 1);
    uint8_t value = 0;
    QCOMPARE(board_.read(0x48, &value), 0);
    QCOMPARE(int(value), 0x21);
}

void TstSim::iicAddressMatching_data()
{
    QTest::addColumn<int>("strapped");
    QTest::addColumn<int>("interface");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("chipCode");
    QTest::newRow("IIC at the default strap") << 0x44 << kIic << 0x44 << 0;
    QTest::newRow("IIC at the wrong address") << 0x44 << kIic << 0x45 << kNoAcknowledge;
    QTest::newRow("IIC at another strap") << 0x47 << kIic << 0x47 << 0;
    QTest::newRow("IIC missing another strap") << 0x47 << kIic << 0x44 << kNoAcknowledge;
    QTest::newRow("SPI needs no address") << 0x46 << kSpi << 0 << 0;
}

void TstSim::iicAddressMatching()
{
    QFETCH(int, strapped);
    QFETCH(int, interface);
    QFETCH(int, address);
    QFETCH(int, chipCode);
    if (strapped != 0x44)
        setIicAddress_(strapped);
    // The board is there either way; only the chip stays silent at the wrong address.
    QCOMPARE(board_.open(interface, address), 1);
    uint8_t value = 0xEE;
    QCOMPARE(board_.read(0x47, &value), chipCode);
    QCOMPARE(int(value), chipCode ? 0x00 : 0xFF);
    QCOMPARE(board_.write(0, 0x47, 0x10), chipCode);
    QCOMPARE(register_(0x47), chipCode ? 0xFF : 0x10);
    QCOMPARE(board_.write(7, 53, 1), 0);
    QCOMPARE(line_(53), 1);
}

void TstSim::faultAfterSuccesses_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("code");
    QTest::newRow("read, at once") << int(OSTREL_SIM_FAULT_READ) << 0 << 0x0105;
    QTest::newRow("read after 3") << int(OSTREL_SIM_FAULT_READ) << 3 << 0x0105;
    QTest::newRow("write after 2") << int(OSTREL_SIM_FAULT_WRITE) << 2 << 0x0201;
    QTest::newRow("pin after 1") << int(OSTREL_SIM_FAULT_PIN) << 1 << 0x0301;
}

void TstSim::faultAfterSuccesses()
{
    QFETCH(int, kind);
    QFETCH(int, after);
    QFETCH(int, code);
    QCOMPARE(board_.open(kSpi), 1);
    setFault_(kind, after, code);
    const auto call = [this](int k) {
        switch (k) {
        case OSTREL_SIM_FAULT_READ:
            return board_.read(0x47);
        case OSTREL_SIM_FAULT_WRITE:
            return board_.write(0, 0x41, 0x01);
        default:
            return board_.write(7, 49, 1);
        }
    };
    // Calls of the other kinds neither fail nor use up the allowed successes.
    for (int i = 0; i < after + 2; ++i) {
        for (int k = OSTREL_SIM_FAULT_READ; k <= OSTREL_SIM_FAULT_PIN; ++k)
            QCOMPARE(call(k), k == kind && i >= after ? code : 0);
    }
    // A call that fails for its own reason keeps its own code.
    uint8_t buffer[10] = {};
    QCOMPARE(board_.readData(1, 0x40, buffer, 1), kBadChannel);
    setFault_(kind, 0, 0);
    QCOMPARE(call(kind), 0);
}

void TstSim::faultedCallsChangeNothing()
{
    QCOMPARE(board_.open(kSpi), 1);
    setFault_(OSTREL_SIM_FAULT_READ, 0, 0x0105);
    setFault_(OSTREL_SIM_FAULT_WRITE, 0, 0x0201);
    setFault_(OSTREL_SIM_FAULT_PIN, 0, 0x0301);
    uint8_t buffer[10] = {0xAA};
    QCOMPARE(board_.readData(0, 0x47, buffer, 1), 0x0105);
    QCOMPARE(int(buffer[0]), 0);
    QCOMPARE(board_.write(0, 0x47, 0x12), 0x0201);
    QCOMPARE(board_.write(0, 0x40, 0x00), 0x0201);
    QCOMPARE(board_.write(7, 49, 1), 0x0301);
    QCOMPARE(register_(0x47), 0xFF);
    QCOMPARE(line_(49), -1);
    reset_(); // clears the faults
    QCOMPARE(board_.open(kSpi), 1);
    QCOMPARE(board_.read(0x47), 0);
}

void TstSim::closedBoardRefuses_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("initResult");
    QTest::newRow("before _init") << "unopened" << -1;
    QTest::newRow("after _close") << "closed" << 1;
    QTest::newRow("no board") << "absent" << 0;
    QTest::newRow("board gone while open") << "removed" << 1;
    QTest::newRow("unknown interface") << "interface 2" << 0;
}

void TstSim::closedBoardRefuses()
{
    QFETCH(QString, state);
    QFETCH(int, initResult);
    if (state == QLatin1String("absent"))
        setPresent_(0);
    if (initResult >= 0) {
        QCOMPARE(board_.open(state == QLatin1String("interface 2") ? 2 : kSpi), initResult);
    }
    if (state == QLatin1String("closed"))
        QCOMPARE(board_.close(), 0);
    if (state == QLatin1String("removed"))
        setPresent_(0);
    QCOMPARE(isOpen_(), state == QLatin1String("removed") ? 1 : 0);
    QCOMPARE(board_.read(0x40), kNotOpen);
    QCOMPARE(board_.write(0, 0x47, 0x12), kNotOpen);
    QCOMPARE(board_.write(7, 53, 1), kNotOpen);
    QCOMPARE(register_(0x47), 0xFF);
    QCOMPARE(line_(53), -1);
}

void TstSim::badArgumentsFail_data()
{
    QTest::addColumn<bool>("isRead");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("target");
    QTest::addColumn<bool>("nullBuffer");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("code");
    QTest::newRow("read, null buffer") << true << 0 << 0x40 << true << 1 << kBadArgument;
    QTest::newRow("read, count 0") << true << 0 << 0x40 << false << 0 << kBadArgument;
    QTest::newRow("read, count 2") << true << 0 << 0x40 << false << 2 << kBadArgument;
    QTest::newRow("read, count -1") << true << 0 << 0x40 << false << -1 << kBadArgument;
    QTest::newRow("read, line channel") << true << 7 << 53 << false << 1 << kBadChannel;
    QTest::newRow("read, channel -1") << true << -1 << 0x40 << false << 1 << kBadChannel;
    QTest::newRow("read, register 0x3F") << true << 0 << 0x3F << false << 1 << kBadRegister;
    QTest::newRow("read, register 0x5F") << true << 0 << 0x5F << false << 1 << kBadRegister;
    QTest::newRow("read, register -1") << true << 0 << -1 << false << 1 << kBadRegister;
    QTest::newRow("read, register INT_MAX") << true << 0 << INT_MAX << false << 1 << kBadRegister;
    QTest::newRow("write, null buffer") << false << 0 << 0x46 << true << 1 << kBadArgument;
    QTest::newRow("pin, null buffer") << false << 7 << 53 << true << 1 << kBadArgument;
    QTest::newRow("write, count 0") << false << 0 << 0x40 << false << 0 << kBadArgument;
    QTest::newRow("pin, count 2") << false << 7 << 53 << false << 2 << kBadArgument;
    QTest::newRow("write, channel 1") << false << 1 << 0x40 << false << 1 << kBadChannel;
    QTest::newRow("write, channel INT_MIN") << false << INT_MIN << 0x40 << false << 1 << kBadChannel;
    QTest::newRow("write, register 0x5F") << false << 0 << 0x5F << false << 1 << kBadRegister;
    QTest::newRow("pin 64") << false << 7 << 64 << false << 1 << kBadRegister;
    QTest::newRow("pin -1") << false << 7 << -1 << false << 1 << kBadRegister;
}

void TstSim::badArgumentsFail()
{
    QFETCH(bool, isRead);
    QFETCH(int, channel);
    QFETCH(int, target);
    QFETCH(bool, nullBuffer);
    QFETCH(int, count);
    QFETCH(int, code);
    QCOMPARE(board_.open(kSpi), 1);
    QCOMPARE(board_.write(0, 0x47, 0x12), 0);
    // A 0x00 that got through would reset the chip through 0x40 or drive line 53.
    uint8_t buffer[10] = {};
    const QList<int> before = registers();
    const auto entry = isRead ? board_.readData : board_.writeData;
    QCOMPARE(entry(channel, target, nullBuffer ? nullptr : buffer, count), code);
    QCOMPARE(registers(), before);
    QCOMPARE(line_(53), -1);
}

void TstSim::versionAndPort()
{
    QCOMPARE(board_.getVer(), 0x1000);
    QCOMPARE(board_.open(kSpi), 1);
    setVersion_(0x1234);
    QCOMPARE(board_.getVer(), 0x1234);
    setPort_(3);
    QCOMPARE(board_.open(kSpi), 3);
    setPort_(0); // a board on port 0 is no board to the program
    QCOMPARE(board_.open(kSpi), 0);
    QCOMPARE(isOpen_(), 0);
}

void TstSim::callLogLines()
{
    QCOMPARE(board_.open(kSpi), 1);
    QCOMPARE(board_.write(7, 53, 1), 0);
    QCOMPARE(board_.write(0, 0x46, 0x0A), 0);
    QCOMPARE(board_.read(0x40), 0);
    QCOMPARE(board_.getVer(), 0x1000);
    setFault_(OSTREL_SIM_FAULT_READ, 0, 0x0105);
    QCOMPARE(board_.read(0x47), 0x0105);
    setFault_(OSTREL_SIM_FAULT_READ, 0, 0);
    setFault_(OSTREL_SIM_FAULT_WRITE, 0, 0x7FFFF);
    QCOMPARE(board_.write(0, 0x41, 0xFF), 0x7FFFF);
    uint8_t buffer[10] = {0x0C};
    QCOMPARE(board_.readData(0, 0x47, buffer, 2), kBadArgument);
    QCOMPARE(board_.readData(3, 0x40, buffer, 1), kBadChannel);
    QCOMPARE(board_.readData(0, 0x40, nullptr, 1), kBadArgument);
    buffer[0] = 0x0C;
    QCOMPARE(board_.writeData(0, 0x41, buffer, 0), kBadArgument);
    QCOMPARE(board_.writeData(7, 48, nullptr, 1), kBadArgument);
    QCOMPARE(board_.write(7, 70, 1), kBadRegister);
    QCOMPARE(board_.init(1, nullptr), 0);
    QCOMPARE(board_.open(kIic, 0x45), 1);
    QCOMPARE(board_.read(0x5E), kNoAcknowledge);
    QCOMPARE(board_.close(), 0);

    const QStringList expected = {
        "_init(port=0, interface=3, address=0x00, word56=3) = 1",
        "_writeData(channel=7, pin=53, value=1) = 0",
        "_writeData(channel=0, reg=0x46, value=0x0A) = 0",
        "_readData(channel=0, reg=0x40) = 0 value=0xC0",
        "_getVer() = 0x1000",
        "_readData(channel=0, reg=0x47) = 0x0105 value=0x00",
        "_writeData(channel=0, reg=0x41, value=0xFF) = 0x7FFFF",
        "_readData(channel=0, reg=0x47, count=2) = 0x0003 value=0x00",
        "_readData(channel=3, reg=0x40) = 0x0004 value=0x00",
        "_readData(channel=0, reg=0x40) = 0x0003 value=none",
        "_writeData(channel=0, reg=0x41, value=none, count=0) = 0x0003",
        "_writeData(channel=7, pin=48, value=none) = 0x0003",
        "_writeData(channel=7, pin=70, value=1) = 0x0005",
        "_init(port=1, settings=null) = 0",
        "_init(port=0, interface=1, address=0x45, word56=3) = 1",
        "_readData(channel=0, reg=0x5E) = 0x0101 value=0x00",
        "_close() = 0",
    };
    QCOMPARE(QString::fromLatin1(log_()), expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void TstSim::callLogSwitch()
{
    QCOMPARE(board_.getVer(), 0x1000);
    QCOMPARE(QString::fromLatin1(log_()), QStringLiteral("_getVer() = 0x1000\n"));
    clearLog_();
    QCOMPARE(QString::fromLatin1(log_()), QString());
    setLogEnabled_(0);
    QCOMPARE(board_.open(kSpi), 1);
    QCOMPARE(QString::fromLatin1(log_()), QString());
    setLogEnabled_(1);
    QCOMPARE(board_.close(), 0);
    QCOMPARE(QString::fromLatin1(log_()), QStringLiteral("_close() = 0\n"));
}

void TstSim::noVerLibraryLacksOnlyGetVer()
{
    QLibrary noVer(QStringLiteral(OSTREL_NOVER_PATH));
    QVERIFY2(noVer.load(), qPrintable(noVer.errorString()));
    for (const char *name : {"_init", "_close", "_readData", "_writeData", "ostrel_sim_reset", "ostrel_sim_log"})
        QVERIFY2(noVer.resolve(name), name);
    QVERIFY(!noVer.resolve("_getVer"));
    // Its own board: opening it leaves the one the other tests use closed.
    Entries entries(noVer);
    QCOMPARE(entries.open(kSpi), 1);
    QCOMPARE(entries.read(0x40), 0);
    QCOMPARE(isOpen_(), 0);
    QCOMPARE(entries.close(), 0);
    noVer.unload();
}

void TstSim::environment_data()
{
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<QByteArray>("stateBefore"); // null: no state file
    QTest::addColumn<QByteArray>("traceBefore");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QStringList>("trace");
    QTest::addColumn<QByteArray>("stateAfter"); // null: the file is left as it was
    QTest::addColumn<QString>("stderrText");     // empty: nothing on stderr

    const QStringList withState = {"OSTREL_SIM_STATE=%STATE%"};
    QTest::newRow("state restored and saved")
        << withState << QByteArray("0x47, 0x12\r\n0x40, 0x3F\r\n0x45, 0xFF\r\n\r\n0x56, 0xFF\r\n") << QByteArray()
        << QStringList{"init:3:0", "read:0x47", "read:0x40", "read:0x56", "write:0x46:0x0A", "close"}
        << QStringList{"_init(port=0, interface=3, address=0x00, word56=3) = 1",
                       "_readData(channel=0, reg=0x47) = 0 value=0x12",
                       "_readData(channel=0, reg=0x40) = 0 value=0xFF",
                       "_readData(channel=0, reg=0x56) = 0 value=0xC0",
                       "_writeData(channel=0, reg=0x46, value=0x0A) = 0", "_close() = 0"}
        << snapshot({{0x40, 0xFF}, {0x46, 0x0A}, {0x47, 0x12}, {0x56, 0xC0}}) << QString();
    QTest::newRow("missing state file starts at power-on")
        << withState << QByteArray() << QByteArray()
        << QStringList{"init:3:0", "read:0x48", "write:0x48:0x00", "close"}
        << QStringList{"_init(port=0, interface=3, address=0x00, word56=3) = 1",
                       "_readData(channel=0, reg=0x48) = 0 value=0xFF",
                       "_writeData(channel=0, reg=0x48, value=0x00) = 0", "_close() = 0"}
        << snapshot({{0x48, 0x00}}) << QString();
    QTest::newRow("malformed state file is ignored")
        << withState << QByteArray("0x47, 0x12\r\nhello\r\n") << QByteArray()
        << QStringList{"init:3:0", "read:0x47", "quit"}
        << QStringList{"_init(port=0, interface=3, address=0x00, word56=3) = 1",
                       "_readData(channel=0, reg=0x47) = 0 value=0xFF"}
        << QByteArray() << QString("line 2");
    QTest::newRow("state register out of range")
        << withState << QByteArray("0x5F, 0x12\r\n") << QByteArray() << QStringList{"init:3:0", "read:0x40", "quit"}
        << QStringList{"_init(port=0, interface=3, address=0x00, word56=3) = 1",
                       "_readData(channel=0, reg=0x40) = 0 value=0xC0"}
        << QByteArray() << QString("line 1");
    QTest::newRow("board absent")
        << QStringList{"OSTREL_SIM_BOARD=absent", "OSTREL_SIM_STATE=%STATE%"} << QByteArray() << QByteArray()
        << QStringList{"init:1:0x44", "read:0x40", "close"}
        << QStringList{"_init(port=0, interface=1, address=0x44, word56=3) = 0",
                       "_readData(channel=0, reg=0x40) = 0x0102 value=0x00", "_close() = 0"}
        << QByteArray() << QString();
    QTest::newRow("faults after successes")
        << QStringList{"OSTREL_SIM_FAIL=read@1=0x0105, pin=0x0301"} << QByteArray() << QByteArray()
        << QStringList{"init:3:0", "read:0x40", "read:0x40", "pin:53:1", "write:0x41:1"}
        << QStringList{"_init(port=0, interface=3, address=0x00, word56=3) = 1",
                       "_readData(channel=0, reg=0x40) = 0 value=0xC0",
                       "_readData(channel=0, reg=0x40) = 0x0105 value=0x00",
                       "_writeData(channel=7, pin=53, value=1) = 0x0301",
                       "_writeData(channel=0, reg=0x41, value=0x01) = 0"}
        << QByteArray() << QString();
    QTest::newRow("unreadable fault entry is skipped")
        << QStringList{"OSTREL_SIM_FAIL=read@x=1,write=0x0201"} << QByteArray() << QByteArray()
        << QStringList{"init:3:0", "read:0x40", "write:0x41:1"}
        << QStringList{"_init(port=0, interface=3, address=0x00, word56=3) = 1",
                       "_readData(channel=0, reg=0x40) = 0 value=0xC0",
                       "_writeData(channel=0, reg=0x41, value=0x01) = 0x0201"}
        << QByteArray() << QString("read@x=1");
    QTest::newRow("strapped address and port")
        << QStringList{"OSTREL_SIM_IIC_ADDRESS=0x46", "OSTREL_SIM_PORT=2"} << QByteArray() << QByteArray()
        << QStringList{"init:1:0x46", "read:0x40", "init:1:0x44", "read:0x40"}
        << QStringList{"_init(port=0, interface=1, address=0x46, word56=3) = 2",
                       "_readData(channel=0, reg=0x40) = 0 value=0xC0",
                       "_init(port=0, interface=1, address=0x44, word56=3) = 2",
                       "_readData(channel=0, reg=0x40) = 0x0101 value=0x00"}
        << QByteArray() << QString();
    QTest::newRow("trace appends and is flushed at once")
        << QStringList() << QByteArray() << QByteArray("earlier run\n") << QStringList{"ver", "quit"}
        << QStringList{"earlier run", "_getVer() = 0x1000"} << QByteArray() << QString();
}

void TstSim::environment()
{
    QFETCH(QStringList, env);
    QFETCH(QByteArray, stateBefore);
    QFETCH(QByteArray, traceBefore);
    QFETCH(QStringList, calls);
    QFETCH(QStringList, trace);
    QFETCH(QByteArray, stateAfter);
    QFETCH(QString, stderrText);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString tracePath = dir.filePath(QStringLiteral("trace.log"));
    const QString statePath = dir.filePath(QStringLiteral("state.csv"));
    const auto writeFile = [](const QString &path, const QByteArray &data) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
    };
    if (!stateBefore.isNull())
        QVERIFY(writeFile(statePath, stateBefore));
    if (!traceBefore.isNull())
        QVERIFY(writeFile(tracePath, traceBefore));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys()) {
        if (name.startsWith(QLatin1String("OSTREL_SIM_")))
            environment.remove(name);
    }
    environment.insert(QStringLiteral("OSTREL_SIM_TRACE"), tracePath);
    for (const QString &setting : env) {
        const qsizetype equals = setting.indexOf(QLatin1Char('='));
        environment.insert(setting.left(equals), setting.mid(equals + 1).replace(QLatin1String("%STATE%"), statePath));
    }
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), QStringList{QString::fromLatin1(kChildFlag)} + calls);
    QVERIFY(child.waitForFinished(10000));
    const QString errors = QString::fromLocal8Bit(child.readAllStandardError());
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    if (stderrText.isEmpty())
        QCOMPARE(errors, QString());
    else
        QVERIFY2(errors.contains(stderrText), qPrintable(errors));

    QFile traceFile(tracePath);
    QVERIFY(traceFile.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLatin1(traceFile.readAll()), trace.join(QLatin1Char('\n')) + QLatin1Char('\n'));

    QFile stateFile(statePath);
    const QByteArray expectedState = stateAfter.isNull() ? stateBefore : stateAfter;
    QCOMPARE(stateFile.exists(), !expectedState.isNull());
    if (!expectedState.isNull()) {
        QVERIFY(stateFile.open(QIODevice::ReadOnly));
        QCOMPARE(stateFile.readAll(), expectedState);
    }
    QVERIFY(!QFile::exists(statePath + QLatin1String(".tmp")));
}

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], kChildFlag) == 0) {
        QStringList calls;
        for (int i = 2; i < argc; ++i)
            calls << QString::fromLocal8Bit(argv[i]);
        return runChild(calls);
    }
    QCoreApplication app(argc, argv);
    TstSim test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sim.moc"
