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
    const QPalette white = cellPalette(palette(), zeroColour());
    for (int row = 0; row < evm::RegisterCount; ++row) {
        for (int col = 0; col < 8; ++col) {
            auto *label = new QLabel(names[row][col], ui->pRegView);
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
    const int changed = v ^ m_shown[row];
    if (!changed)
        return;
    m_shown[row] = v;
    // Only the cells whose bit changed get a new palette: a write touches at most eight labels
    // and no style sheet is parsed.
    for (int col = 0; col < 8; ++col) {
        const int bit = 7 - col;
        if (!(changed & (1 << bit)))
            continue;
        QLabel *label = bitLabels[row][col];
        label->setPalette(cellPalette(label->palette(), (v >> bit) & 1 ? oneColour() : zeroColour()));
    }
}

void TRegViewForm::bCloseClick()
{
    hide();
}
