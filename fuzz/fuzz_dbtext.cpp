// SPDX-License-Identifier: GPL-3.0-or-later
// The dB text of the attenuators: the parse of a typed value, the position it gives, and the
// text shown for a position.
#include "check.h"
#include "dbtext.h"

#include <cmath>
#include <cstring>

using namespace evm;

namespace {

struct Row {
    int minimum, maximum, zeroDb;
};
// The two kinds of attenuator row (DAC, ADC), and a range away from both.
constexpr Row kRows[] = {{0, 255, 255}, {0, 255, 215}, {-1000, 70000, 12345}};

void checkPosition(float d, const Row &row)
{
    const int p = dbToPosition(d, row.minimum, row.maximum, row.zeroDb);
    FUZZ_CHECK(p >= row.minimum && p <= row.maximum, QStringLiteral("%1 -> %2").arg(double(d)).arg(p));
    if (std::isnan(d))
        return;
    // Within the range, the position is the half-dB step at or below the value, toward zero for
    // a negative position. Compared in steps: twice a float is exact in double, so a value a hair
    // below a step is not rounded onto it.
    const double steps = p - row.zeroDb;
    const double lowSteps = row.minimum - row.zeroDb;
    const double highSteps = row.maximum - row.zeroDb;
    const double twice = std::fmin(std::fmax(2.0 * double(d), lowSteps), highSteps);
    const QString what = QStringLiteral("%1 -> %2").arg(double(d), 0, 'g', 9).arg(p);
    if (twice + row.zeroDb >= 0)
        FUZZ_CHECK(steps <= twice && twice < steps + 1, what);
    else
        FUZZ_CHECK(steps >= twice && twice > steps - 1, what);
    // Monotonic: half a step more never gives a lower position.
    FUZZ_CHECK(dbToPosition(d + 0.5f, row.minimum, row.maximum, row.zeroDb) >= p, QString::number(double(d)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const QString text = fuzzText(data, size);
    const ExactBytes exact(bytes);
    if (const std::optional<float> d = parseDb(exact.view())) {
        FUZZ_CHECK(std::isfinite(*d), text);
        for (const Row &row : kRows)
            checkPosition(*d, row);
        // Nothing may follow the number.
        FUZZ_CHECK(!parseDb(std::string(bytes) + "x"), text);
    }

    // The same bytes as a raw float (NaN and infinities included) and as a register value.
    if (size >= 4) {
        float raw;
        std::memcpy(&raw, data, sizeof raw);
        for (const Row &row : kRows)
            checkPosition(raw, row);
    }
    if (size >= 2) {
        const int value = data[0] | (data[1] & 0x7F) << 8;
        for (const Row &row : kRows) {
            // The text shown for a value reads back as its exact half-dB step, and typing it
            // back keeps the position.
            const QString shown = utf8(dbText(value, row.zeroDb));
            const std::optional<float> back = parseDb(shown.toStdString());
            FUZZ_CHECK(back && *back == float(value - row.zeroDb) * 0.5f, shown);
            FUZZ_CHECK(shown != QStringLiteral("-0.0"), shown);
            if (value >= row.minimum && value <= row.maximum)
                FUZZ_CHECK(dbToPosition(*back, row.minimum, row.maximum, row.zeroDb) == value, shown);
        }
    }
    return 0;
}
