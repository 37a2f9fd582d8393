// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "registers.h"

#include <QDialog>
#include <QPalette>

#include <array>

class QLabel;
namespace Ui { class TRegViewForm; }

// The register map: 31 rows of 8 bit cells, light green for 1, white for 0.
// A passive display: writes and refreshes push values into it.
class TRegViewForm : public QDialog
{
    Q_OBJECT
public:
    explicit TRegViewForm(QWidget *parent = nullptr);
    ~TRegViewForm() override;

    // Recolours the eight cells of one row from bits 7..0 of value; always acts on
    // the application's single register map window.
    void ShowRegisterRow(int row, int value);
    void bCloseClick();

    // The cell with its colour brought up to date.
    QLabel *cell(int row, int column) const;
    // The value each row shows now.
    int shownValue(int row) const { return m_shown[row]; }

    static const QColor &oneColour();
    static const QColor &zeroColour();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showRow(int row, int value);
    // Recolours the cells of the rows changed since they were last coloured, each cell at most
    // once however many writes came between: the map is coloured before it is painted, not per write.
    void applyColours() const;

    Ui::TRegViewForm *ui;
    std::array<std::array<QLabel *, 8>, evm::RegisterCount> bitLabels{};
    std::array<int, evm::RegisterCount> m_shown{};
    mutable std::array<int, evm::RegisterCount> m_coloured{};
    mutable uint32_t m_pendingRows = 0;
    mutable bool m_colourQueued = false;
    std::array<QPalette, 2> m_cellPalettes; // bit 0, bit 1
};

extern TRegViewForm *RegViewForm;
