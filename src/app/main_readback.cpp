// SPDX-License-Identifier: GPL-3.0-or-later
// Looking at the chip again: Read all, the automatic read at an interval, and the connection's
// state as the accesses leave it. The window is not the only one that writes the chip (the
// tool, a VISA client through the server): these show what the chip holds now, without a
// write, a board line or a reset.
#include "main.h"
#include "ui_main.h"

#include "pictures.h"
#include "regview.h"

#include <QAbstractSlider>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QSignalBlocker>
#include <QTime>
#include <QTimer>

namespace {
constexpr int kLampOff = 0;
constexpr int kLampOverflow = 1;
constexpr int kLampZero = 2;
constexpr int kErrorPlate = 2;
} // namespace

int TForm1::autoReadIntervalMs() const
{
    return m_autoReadMs;
}

bool TForm1::readAll()
{
    std::array<uint8_t, evm::RegisterCount> read{};
    int count = 0;
    // What the chip did not answer is not known: the shadow keeps what it had from the first
    // failed read on, and a board that is gone is not asked 31 times.
    while (count < evm::RegisterCount && readRegister(evm::FirstRegister + count, read[size_t(count)]))
        ++count;
    for (int d = 0; d < count; ++d)
        shadow.storeReadBack(d, read[size_t(d)]);
    shadow.finishReadBack();
    // The controls are set without their handlers, so nothing is written back; the map
    // recolours only the rows that changed.
    showShadow();
    for (int row = 0; row < evm::RegisterCount; ++row)
        RegViewForm->ShowRegisterRow(row, shadow.bytes[size_t(row)]);
    if (count < evm::RegisterCount)
        return false;
    showFlags(read[evm::ZeroFlagRegister - evm::FirstRegister], read[evm::OverflowFlagRegister - evm::FirstRegister]);
    return true;
}

bool TForm1::readFlags()
{
    uint8_t zero = 0;
    uint8_t overflow = 0;
    if (!readRegister(evm::ZeroFlagRegister, zero) || !readRegister(evm::OverflowFlagRegister, overflow))
        return false;
    showFlags(zero, overflow);
    return true;
}

void TForm1::showFlags(uint8_t zero, uint8_t overflow)
{
    // A lamp that already shows its picture is left alone: an idle read every interval must not
    // repaint fourteen lamps.
    auto show = [](QLabel *lamp, int picture) {
        const QPixmap pm = pictures::lamp(picture);
        if (lamp->pixmap().cacheKey() == pm.cacheKey())
            return;
        lamp->setPixmap(pm);
        lamp->repaint();
    };
    for (int i = 0; i < 8; ++i)
        show(zeroIndicators[size_t(i)], (zero >> i) & 1 ? kLampZero : kLampOff);
    // Bits 7 and 6 of 0x56 are not flags.
    for (int i = 0; i < 6; ++i)
        show(overflowIndicators[size_t(i)], (overflow >> i) & 1 ? kLampOverflow : kLampOff);
}

void TForm1::ReadAllClick()
{
    if (boardPort() == 0)
        return;
    readAll();
}

void TForm1::AutoReadToggled(bool all)
{
    // All registers are read with the flags among them: asking for them asks for the read.
    if (all && ui->actAutoReadAll->isChecked() && !ui->actAutoRead->isChecked())
        ui->actAutoRead->setChecked(true);
    if (!all && !ui->actAutoRead->isChecked() && ui->actAutoReadAll->isChecked())
        ui->actAutoReadAll->setChecked(false);
    if (ui->actAutoRead->isChecked()) {
        if (!m_autoRead->isActive())
            m_autoRead->start(m_autoReadMs);
    } else {
        m_autoRead->stop();
    }
}

void TForm1::stopAutoRead()
{
    m_autoRead->stop();
    const QSignalBlocker quietAll(ui->actAutoReadAll);
    const QSignalBlocker quietFlags(ui->actAutoRead);
    ui->actAutoReadAll->setChecked(false);
    ui->actAutoRead->setChecked(false);
}

void TForm1::autoReadTick()
{
    // Never in the middle of something: a handler (a bulk operation, a script, a master mute's
    // pause, a box one of them shows), a modal window, an open list, a button held down (a
    // track bar dragged), or without a board.
    if (m_closed || m_handlerDepth > 0 || boardPort() == 0 || ioSuppressed)
        return;
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget() || QApplication::mouseButtons() != Qt::NoButton)
        return;
    for (const SliderBinding &row : sliderTable)
        if (row.track->isSliderDown())
            return;
    guard([this] {
        const bool all = ui->actAutoReadAll->isChecked();
        if (all ? readAll() : readFlags())
            return;
        // One failure is enough to tell: the read waits until the user asks for it again.
        stopAutoRead();
        m_commFault += QStringLiteral("; automatic read stopped");
        showConnectionState();
    });
}

void TForm1::noteAccess(const char *kind, int32_t code)
{
    if (code == 0) {
        if (!m_commFault.isEmpty()) {
            m_commFault.clear();
            showConnectionState();
        }
        return;
    }
    m_commFault = QStringLiteral("%1 at %2")
                      .arg(QString::fromStdString(evm::communicationErrorText(kind, code)),
                           QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    if (const std::string why = boardSession.library().lastError(); !why.empty())
        m_commFault += QStringLiteral(" (%1)").arg(QString::fromStdString(why));
    showConnectionState();
}

void TForm1::showConnectionState()
{
    if (m_commFault.isEmpty()) {
        setStatusText(QStringLiteral("Ready"));
        ui->imgConnection->setToolTip(QString());
        ShowConnectionPicture(true);
        return;
    }
    setStatusText(m_commFault);
    ui->imgConnection->setToolTip(m_commFault);
    ui->imgConnection->setPixmap(pictures::connectionPlate(kErrorPlate));
    ui->imgConnection->repaint();
}

QString TForm1::withLibraryReason(QString text)
{
    if (const std::string why = boardSession.library().lastError(); !why.empty())
        text += QLatin1Char('\n') + QString::fromStdString(why);
    return text;
}
