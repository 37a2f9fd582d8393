#include "textfiles.h"
#include "inttext.h"
#include "registers.h"

#include <QFile>
#include <QSaveFile>

namespace evm {

QByteArray snapshotText(const std::array<uint8_t, 31> &values)
{
    QByteArray out;
    out.reserve(31 * 12);
    for (int i = 0; i < RegisterCount; ++i) {
        out += registerLine(FirstRegister + i, values[i]).toLatin1();
        out += "\r\n";
    }
    return out;
}

QByteArray historyText(const QString &log)
{
    if (log.isEmpty())
        return {};
    QString text = log;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    if (!text.endsWith(QLatin1String("\r\n")))
        text += QLatin1String("\r\n");
    for (const QChar c : text)
        if (c.unicode() > 0xFF)
            return text.toUtf8();
    return text.toLatin1();
}

std::optional<QString> saveWholeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    // Unbuffered, so a short write shows here: a buffered QSaveFile flushes inside commit(), and a
    // flush that stops short on a full disk still commits, replacing the old file with a cut one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    // A short write is retried for the rest; the retry that writes nothing says why (disk full...).
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return reason;
        }
        done += n;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

std::optional<QString> readWholeFile(const QString &path, QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    return std::nullopt;
}

} // namespace evm
