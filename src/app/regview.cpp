// SPDX-License-Identifier: GPL-3.0-or-later
#include "regview.h"
#include "ui_regview.h"

#include <QLabel>

TRegViewForm *RegViewForm = nullptr;

namespace {
QPalette cellPalette(const QPalette &base, const QColor &background)
{
    QPalette p = base;
    p.setColor(QPalette::Window, background);
    p.setColor(QPalette::WindowText, Qt::black);
    return p;
}
} // namespace

const QColor &TRegViewForm::oneColour()
{
    static const QColor c(175, 253, 134); // #AFFD86
    return c;
}

const QColor &TRegViewForm::zeroColour()
{
    static const QColor c(Qt::white);
    return c;
}

TRegViewForm::TRegViewForm(QWidget *parent)
    : QDialog(parent), ui(new Ui::TRegViewForm)
{
    ui->setupUi(this);
    setFixedSize(size());
    connect(ui->bClose, &QPushButton::clicked, this, &TRegViewForm::bCloseClick);

    QFont courier(QStringLiteral("Courier"));
    courier.setStyleHint(QFont::TypeWriter);
    courier.setPixelSize(11);
    const auto &names = evm::registerBitNames();
    m_cellPalettes = {cellPalette(palette(), zeroColour()), cellPalette(palette(), oneColour())};
    const QPalette &white = m_cellPalettes[0];
    for (int row = 0; row < evm::RegisterCount; ++row) {
        for (int col = 0; col < 8; ++col) {
            auto *label = new QLabel(QString::fromStdString(names[row][col]), ui->pRegView);
            label->setObjectName(QStringLiteral("bit_%1_%2").arg(row).arg(col));
            label->setAutoFillBackground(true); // opaque, its own colour
            label->setAlignment(Qt::AlignCenter);
            label->setFont(courier);
            label->setPalette(white);
            label->setGeometry(60 * col + 68, 15 * row + 23, 58, 13);
            label->setVisible(true);
            bitLabels[row][col] = label;
        }
    }
}

TRegViewForm::~TRegViewForm()
{
    delete ui;
}

void TRegViewForm::ShowRegisterRow(int row, int value)
{
    // Whichever object it is called through, the one register map window shows it.
    (RegViewForm ? RegViewForm : this)->showRow(row, value);
}

void TRegViewForm::showRow(int row, int value)
{
    if (row < 0 || row >= evm::RegisterCount)
        return;
    const int v = value & 0xFF;
    if (v == m_shown[row])
        return;
    m_shown[row] = v;
    m_pendingRows |= 1u << row;
    // A script or a refresh writes thousands of times between two paints; a new palette costs
    // microseconds a cell. While the map is open it is recoloured once at the next turn of the
    // event loop, ahead of the paint; while it is hidden, when it is shown.
    if (isVisible() && !m_colourQueued) {
        m_colourQueued = true;
        QMetaObject::invokeMethod(this, [this] { applyColours(); }, Qt::QueuedConnection);
    }
}

void TRegViewForm::applyColours() const
{
    m_colourQueued = false;
    for (int row = 0; m_pendingRows; ++row) {
        if (!(m_pendingRows & (1u << row)))
            continue;
        m_pendingRows &= ~(1u << row);
        const int changed = m_shown[row] ^ m_coloured[row];
        m_coloured[row] = m_shown[row];
        // Only the cells whose bit changed get a new palette, and no style sheet is parsed.
        for (int col = 0; col < 8; ++col) {
            const int bit = 7 - col;
            if (changed & (1 << bit))
                bitLabels[row][col]->setPalette(m_cellPalettes[(m_shown[row] >> bit) & 1]);
        }
    }
}

QLabel *TRegViewForm::cell(int row, int column) const
{
    applyColours();
    return bitLabels[row][column];
}

void TRegViewForm::showEvent(QShowEvent *event)
{
    applyColours();
    QDialog::showEvent(event);
}

void TRegViewForm::bCloseClick()
{
    hide();
}
