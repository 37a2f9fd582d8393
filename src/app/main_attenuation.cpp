// SPDX-License-Identifier: GPL-3.0-or-later
// The attenuators: track bar and dB edit of each row, and the two master mutes.
#include "main.h"

#include "dbtext.h"
#include "radiogroup.h"
#include "uiseam.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QSlider>
#include <QToolButton>

#include <span>
#include <stdexcept>

namespace {

// The slider row a track bar's or edit's Tag selects, refused unless it leads back to that control:
// a wrong Tag must never move another attenuator.
const SliderBinding &sliderRowOf(std::span<const SliderBinding> table, const QObject *control)
{
    const int tag = tagOf(control);
    if (tag < 0 || tag >= int(table.size())
        || (table[size_t(tag)].track != control && table[size_t(tag)].edit != control))
        throw std::logic_error(QStringLiteral("%1 has Tag %2, which is not its row in the binding tables")
                                   .arg(control->objectName()).arg(tag).toStdString());
    return table[size_t(tag)];
}

} // namespace

void TForm1::TrackChange(QSlider *sender)
{
    if (!sliderEventsEnabled)
        return;
    sliderEventsEnabled = false;
    // The guard flag comes back even when the write's error report is dismissed by an exception.
    struct Restore {
        bool &flag;
        ~Restore() { flag = true; }
    } restore{sliderEventsEnabled};
    const SliderBinding &row = sliderRowOf(sliderTable, sender);
    const int p = sender->value();
    row.edit->setText(QString::fromStdString(evm::dbText(p, row.zeroDb)));
    WriteRegister(row.reg, p);
}

void TForm1::TrackEditKeyUp(QLineEdit *sender, int key)
{
    if (!sliderEventsEnabled || key != 13)
        return;
    const SliderBinding &row = sliderRowOf(sliderTable, sender);
    const std::optional<float> d = evm::parseDb(sender->text().toStdString());
    if (!d)
        throw std::runtime_error(QStringLiteral("'%1' is not a valid floating point value").arg(sender->text()).toStdString());
    // A position equal to the current one changes nothing, and the typed text stays.
    row.track->setValue(evm::dbToPosition(*d, row.track->minimum(), row.track->maximum(), row.zeroDb));
}

void TForm1::sbMasterMuteClick(QToolButton *sender)
{
    ioSuppressed = true;
    historyEnabled = false;
    const bool dac = tagOf(sender) == 0;
    bool &all = dac ? dacMuteAll : adcMuteAll;
    all = !all;
    // The boxes only merge their bits into the shadow here: nothing reaches the board or the log.
    // They are the rows of the mute fields, and the final write sets or clears all their bits.
    const QLatin1String mutes(dac ? "MUTDA" : "MUTAD");
    int32_t muteRegister = 0;
    uint8_t muteBits = 0;
    for (size_t i = 0; i < checkTable.size(); ++i) {
        if (!QLatin1String(kCheckRows[i].field).startsWith(mutes))
            continue;
        muteRegister = checkTable[i].reg;
        muteBits |= uint8_t(1u << checkTable[i].bit);
        checkTable[i].box->setChecked(all);
    }
    ioSuppressed = false;
    historyEnabled = true;

    // A second click during the pause runs a complete nested mute before this one's final write.
    QApplication::processEvents();
    UiSeam::current().sleepMs(200);
    QApplication::processEvents();

    WriteRegister(muteRegister, (dac ? dacMuteAll : adcMuteAll) ? muteBits : 0x00);
}
