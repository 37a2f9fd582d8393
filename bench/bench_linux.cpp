// SPDX-License-Identifier: GPL-3.0-or-later
// evm5170-bench-linux: one register read through libOstrelLinux.so, loaded by the program's
// loader, against the bare libi2c call on the same emulated /dev/i2c-1, in the same run.
// Prints "library-ns bare-ns" for evm5170-bench; the emulated device's round trip is the
// floor both share, so the ratio is what the library adds.
#include "emulation.h"

#include "boardsession.h"
#include "boardlib.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

extern "C" {
#include <i2c/smbus.h>
}
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRounds = 21;
constexpr int kReadsPerRound = 200;
constexpr int kRegister = 0x46;

double nsPerRead(const std::function<bool()> &read)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kReadsPerRound; ++i)
        if (!read())
            qFatal("a read failed");
    return double(t.nsecsElapsed()) / kReadsPerRound;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    runUnderDeviceEmulation(argv);
    QCoreApplication app(argc, argv);
    EmulatedBoard board;
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("board.ini"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly) || f.write("[IIC]\nDevice=/dev/i2c-1\n") < 0)
        qFatal("cannot write %s", qPrintable(config));
    f.close();
    qputenv("EVM_LINUX_BOARD", QFile::encodeName(config));

    evm::BoardLibrary lib;
    if (lib.loadFile(OSTREL_LINUX_PATH) != evm::BoardLibrary::LoadStatus::Loaded)
        qFatal("cannot load %s: %s", OSTREL_LINUX_PATH, lib.errorString().c_str());
    evm::ConnectionSettings settings = evm::connectionSettingsFor(0, 0x44);
    if (lib.init(0, &settings) == 0)
        qFatal("no board");
    const int fd = ::open("/dev/i2c-1", O_RDWR | O_CLOEXEC);
    if (fd < 0 || ::ioctl(fd, I2C_SLAVE, 0x44UL) != 0)
        qFatal("cannot open the emulated /dev/i2c-1");

    const auto throughLibrary = [&] {
        uint8_t buffer[evm::TransferBufferSize] = {};
        return lib.readData(evm::ChipChannel, kRegister, buffer, 1) == 0;
    };
    const auto bare = [&] { return i2c_smbus_read_byte_data(fd, kRegister) >= 0; };

    nsPerRead(throughLibrary);
    nsPerRead(bare);
    std::vector<double> library, baseline;
    for (int round = 0; round < kRounds; ++round) {
        // Alternating which goes first, so that neither always follows the other.
        if (round % 2) {
            library.push_back(nsPerRead(throughLibrary));
            baseline.push_back(nsPerRead(bare));
        } else {
            baseline.push_back(nsPerRead(bare));
            library.push_back(nsPerRead(throughLibrary));
        }
        board.clearTransfers();
    }
    ::close(fd);
    lib.close();
    std::printf("%.1f %.1f\n", median(library), median(baseline));
    return 0;
}
