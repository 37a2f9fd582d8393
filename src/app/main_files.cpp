// SPDX-License-Identifier: GPL-3.0-or-later
// Register scripts, the register snapshot and the history files.
#include "main.h"
#include "ui_main.h"

#include "script.h"
#include "scriptprogress.h"
#include "setupexport.h"
#include "textfiles.h"
#include "uiseam.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextDocument>

namespace {
const QString kScriptCaption = QStringLiteral("Script file error");
const QString kOpenFilter = QStringLiteral("CSV|*.csv|All Files|*.*");
const QString kSaveFilter = QStringLiteral("CSV|*.csv|All files|*.*");
// "bad.csv, line 7: 0x4A, 0x1FF": the file's name, the line's number and the line as it stands.
QString stopPlace(const QString &path, int line, const QString &text)
{
    constexpr int kShown = 200; // a line of megabytes is not a message
    const QString shown = text.size() > kShown ? text.left(kShown) + QChar(0x2026) : text;
    return QStringLiteral("%1, line %2: %3").arg(QFileInfo(path).fileName()).arg(line).arg(shown);
}
} // namespace

bool TForm1::RunScript(const QString &path, bool showProgress)
{
    if (!QFileInfo(path).isFile()) {
        UiSeam::current().messageBox(this, QStringLiteral("File not exist."), kScriptCaption, UiSeam::Icon::Error, UiSeam::Ok);
        return false;
    }
    historyEnabled = false;

    // The clean-up runs after every run that found its file, however it ended.
    struct CleanUp {
        TForm1 *form;
        ~CleanUp()
        {
            form->RefreshControls();
            scriptProgress->hide();
            form->historyEnabled = true;
        }
    } cleanUp{this};

    // A file that is there but cannot be read is said with its reason; the clean-up still runs,
    // and the result is true as for any run that found its file.
    std::string bytes;
    if (const auto error = evm::readWholeFile(QFile::encodeName(path).toStdString(), bytes)) {
        UiSeam::current().messageBox(this, QStringLiteral("Cannot read %1: %2").arg(path, QString::fromLocal8Bit(*error)),
                                     kScriptCaption, UiSeam::Icon::Error, UiSeam::Ok);
        return true;
    }
    const std::vector<std::string> lines = evm::splitScriptLines(bytes);
    bytes = std::string();

    scriptProgress->ProgressBar1->setMaximum(int(lines.size()));
    scriptProgress->ProgressBar1->setValue(0);
    if (showProgress) {
        scriptProgress->show();
        scriptProgress->repaintNow();
    }

    evm::ScriptSink sink;
    sink.write = [this](int32_t reg, int32_t value) { WriteRegister(static_cast<uint32_t>(reg), value); };
    sink.sleep = [](int32_t ms) { UiSeam::current().sleepMs(ms); };
    sink.progress = [](int index) { scriptProgress->ProgressBar1->setValue(index); };
    const evm::ScriptResult result = evm::runScriptLines(lines, sink);
    // The written text and caption stay; where the script stopped is said beneath them.
    if (result.stopped)
        UiSeam::current().messageBox(this, QString::fromStdString(result.message), kScriptCaption, UiSeam::Icon::Error,
                                     UiSeam::Ok, stopPlace(path, result.line, QString::fromLatin1(lines[result.line - 1])));
    return true;
}

void TForm1::Open1Click()
{
    const QString path = UiSeam::current().openFileName(this, QStringLiteral("Open script"), kOpenFilter, QStringLiteral("csv"));
    if (!path.isEmpty())
        RunScript(path, true);
}

namespace {
// Asks before replacing an existing file; true when the save may go ahead.
bool mayWrite(QWidget *owner, const QString &path)
{
    if (!QFileInfo::exists(path))
        return true;
    return UiSeam::current().messageBox(owner,
                                        QStringLiteral("The file you specified is already exists.\nAre you sure you want to save?"),
                                        QStringLiteral("File exits"), UiSeam::Icon::Question, UiSeam::Yes | UiSeam::No)
        == UiSeam::Yes;
}

// The log as it holds it. toPlainText() would turn a no-break space (0xA0, an 8-bit character
// like any other) into a blank; the raw text keeps it, with the block breaks as line breaks.
QString logText(const QPlainTextEdit *log)
{
    QString text = log->document()->toRawText();
    for (QChar &c : text)
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = u'\n';
    return text;
}

void save(QWidget *owner, const QString &path, const std::string &bytes)
{
    // A failed write keeps the old file and is said, never passed over in silence.
    if (const auto error = evm::saveWholeFile(QFile::encodeName(path).toStdString(), bytes))
        UiSeam::current().messageBox(owner, QStringLiteral("Cannot save %1: %2").arg(path, QString::fromLocal8Bit(*error)),
                                     QStringLiteral("Error"), UiSeam::Icon::Error, UiSeam::Ok);
}
} // namespace

void TForm1::SaveRegisterDumpClick()
{
    const QString path = UiSeam::current().saveFileName(this, QStringLiteral("Save register snapshot"), kSaveFilter, QStringLiteral("csv"));
    if (path.isEmpty() || !mayWrite(this, path))
        return;
    std::array<uint8_t, 31> values{};
    for (int i = 0; i < evm::RegisterCount; ++i)
        values[i] = ReadRegister(evm::FirstRegister + i);
    save(this, path, evm::snapshotText(values));
}

void TForm1::bSaveHistryClick()
{
    const QString path = UiSeam::current().saveFileName(this, QStringLiteral("Save register setting history"), kSaveFilter, QStringLiteral("csv"));
    if (path.isEmpty() || !mayWrite(this, path))
        return;
    save(this, path, evm::historyText(logText(ui->Memo1).toStdString()));
}

void TForm1::bClearHistryClick()
{
    ui->Memo1->clear();
}

namespace {
// "ExportC", "ExportI2cset", ...: the menu action of a format.
QString exportActionName(const evm::SetupFormatInfo &format)
{
    QString name = QString::fromLatin1(format.name);
    name[0] = name[0].toUpper();
    return QStringLiteral("Export") + name;
}
} // namespace

void TForm1::buildExportMenu()
{
    // File > Export, after the snapshot: one item a format, and whether only the registers that
    // differ from their power-on values go out.
    auto *menu = new QMenu(QStringLiteral("&Export"), ui->File1);
    menu->setObjectName(QStringLiteral("Export1"));
    for (const evm::SetupFormatInfo &format : evm::setupFormats()) {
        QString caption = QString::fromLatin1(format.description);
        caption[0] = caption[0].toUpper();
        QAction *action = menu->addAction(caption + QStringLiteral("..."));
        action->setObjectName(exportActionName(format));
        const evm::SetupFormat which = format.format;
        connect(action, &QAction::triggered, this, [this, which] { guard([this, which] { ExportClick(which); }); });
    }
    menu->addSeparator();
    QAction *changed = menu->addAction(QStringLiteral("Only registers changed from power-on"));
    changed->setObjectName(QStringLiteral("ExportChanged"));
    changed->setCheckable(true);
    const QList<QAction *> items = ui->File1->actions();
    const qsizetype after = items.indexOf(ui->SaveRegisterDump) + 1;
    ui->File1->insertMenu(after < items.size() ? items[after] : nullptr, menu);
}

void TForm1::ExportClick(evm::SetupFormat format)
{
    const evm::SetupFormatInfo *info = nullptr;
    for (const evm::SetupFormatInfo &f : evm::setupFormats())
        if (f.format == format)
            info = &f;
    const QString suffix = QString::fromLatin1(info->suffix);
    const QString filter = QStringLiteral("%1|*.%2|All files|*.*").arg(suffix.toUpper(), suffix);
    const QString path = UiSeam::current().saveFileName(this, QStringLiteral("Export setup"), filter, suffix);
    if (path.isEmpty() || !mayWrite(this, path))
        return;
    // The shadow, as the controls show it: a box above may have let anything happen meanwhile,
    // so it is taken only now.
    evm::SetupExport setup;
    std::copy_n(shadow.bytes.begin(), evm::RegisterCount, setup.values.begin());
    const QAction *changed = findChild<QAction *>(QStringLiteral("ExportChanged"));
    setup.changedOnly = changed && changed->isChecked();
    // The IIC address the address box shows, also while the board is reached over SPI.
    setup.iicAddress = evm::FirstIicAddress | (chosenAddress & 3);
    setup.origin = "the window's register shadow";
    setup.program = "EVM Controller";
    save(this, path, evm::setupText(format, setup));
}
