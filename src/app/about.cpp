// SPDX-License-Identifier: GPL-3.0-or-later
#include "about.h"
#include "ui_about.h"

#include "boardsession.h"
#include "designfonts.h"

#include <QApplication>
#include <QMainWindow>
#include <QPushButton>

TAboutDialog *AboutDialog = nullptr;

namespace {

// Every showing: the labels size to their texts now (the version and port were set just
// before), which also leaves the box's fonts unloaded until it is first wanted; then the
// box is centred over the main window.
class ShowAdjuster : public QObject
{
public:
    ShowAdjuster(TAboutDialog *box) : QObject(box), m_box(box) { box->installEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_box && event->type() == QEvent::Show) {
            // In whichever font stood in for the design's.
            for (QLabel *label : m_box->findChildren<QLabel *>())
                label->adjustSize();
            if (QWidget *owner = mainWindow())
                m_box->move(owner->frameGeometry().center() - m_box->rect().center());
        }
        return false;
    }

private:
    QWidget *mainWindow() const
    {
        if (QWidget *parent = m_box->parentWidget())
            return parent->window()->isVisible() ? parent->window() : nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMainWindow *>(w) && w->isVisible())
                return w;
        }
        return nullptr;
    }

    TAboutDialog *m_box;
};

} // namespace

QString libraryVersionText(int32_t v)
{
    return QString::fromStdString(evm::libraryVersionText(v)); // one split, shared with the command-line tool
}

TAboutDialog::TAboutDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::TAboutDialog)
{
    ui->setupUi(this);
    lDLLver = ui->lDLLver;
    lPort = ui->lPort;

    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::WindowStaysOnTopHint);
    setFont(designfonts::base());
    ui->Label1->setFont(designfonts::arialBlack(19));
    ui->Label3->setFont(designfonts::arialBlack(19));
    ui->Label2->setFont(designfonts::arialBlack(16));
    setFixedSize(313, 214);
    setAttribute(Qt::WA_QuitOnClose, false);

    new ShowAdjuster(this);
    connect(ui->OKBtn, &QPushButton::clicked, this, &TAboutDialog::OKBtnClick);
}

TAboutDialog::~TAboutDialog()
{
    delete ui;
}

void TAboutDialog::OKBtnClick()
{
    done(QDialog::Accepted);
}
