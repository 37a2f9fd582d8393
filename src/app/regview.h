#pragma once
#include "registers.h"

#include <QDialog>

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

    QLabel *cell(int row, int column) const { return bitLabels[row][column]; }
    // The value each row shows now.
    int shownValue(int row) const { return m_shown[row]; }

    static const QColor &oneColour();
    static const QColor &zeroColour();

private:
    void showRow(int row, int value);

    Ui::TRegViewForm *ui;
    std::array<std::array<QLabel *, 8>, evm::RegisterCount> bitLabels{};
    std::array<int, evm::RegisterCount> m_shown{};
};

extern TRegViewForm *RegViewForm;
