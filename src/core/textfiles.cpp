#include "textfiles.h"
#include "inttext.h"
#include "registers.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

QString reasonOf(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The file a path names once its symbolic links are followed; it need not exist.
std::optional<QString> followLinks(const QString &path, QByteArray &target)
{
    target = QFile::encodeName(path);
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st;
        if (::lstat(target.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return std::nullopt;
        QByteArray link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(target.constData(), link.data(), size_t(link.size()));
        if (n < 0)
            return reasonOf(errno);
        link.truncate(n);
        if (!link.startsWith('/')) {
            const qsizetype slash = target.lastIndexOf('/');
            link.prepend(slash < 0 ? QByteArray() : target.left(slash + 1));
        }
        target = link;
    }
    return reasonOf(ELOOP);
}

std::optional<QString> writeAll(int fd, const QByteArray &bytes, bool positioned)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = positioned ? ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), done)
                                     : ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return reasonOf(n < 0 ? errno : ENOSPC);
        done += n;
    }
    return std::nullopt;
}

// A device, FIFO or socket takes the bytes as they are. O_NONBLOCK keeps the open from waiting
// for a FIFO's reader; the writes then wait as usual.
std::optional<QString> writeToSpecial(const QByteArray &target, const QByteArray &bytes)
{
    const int fd = ::open(target.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat st;
        if (error == ENXIO && ::stat(target.constData(), &st) == 0 && S_ISFIFO(st.st_mode))
            return QStringLiteral("nothing reads from the FIFO");
        return reasonOf(error);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::optional<QString> error = writeAll(fd, bytes, false);
    if (::close(fd) != 0 && !error)
        error = reasonOf(errno);
    return error;
}

// A regular file that cannot be replaced but may be written: written over in place. The room
// is taken first, so a full disk leaves the old contents whole; the old tail goes last.
std::optional<QString> writeOverInPlace(const QByteArray &target, const QByteArray &bytes)
{
    const int fd = ::open(target.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return reasonOf(errno);
    std::optional<QString> error;
    struct stat st;
    if (::fstat(fd, &st) != 0)
        error = reasonOf(errno);
    else if (!S_ISREG(st.st_mode))
        error = QStringLiteral("not a regular file");
    if (!error && !bytes.isEmpty()) {
        const int r = ::posix_fallocate(fd, 0, bytes.size());
        if (r != 0 && r != EOPNOTSUPP && r != EINVAL)
            error = reasonOf(r);
    }
    if (!error)
        error = writeAll(fd, bytes, true);
    if (!error && ::ftruncate(fd, bytes.size()) != 0)
        error = reasonOf(errno);
    if (!error)
        ::fsync(fd);
    if (::close(fd) != 0 && !error)
        error = reasonOf(errno);
    return error;
}

} // namespace

std::optional<QString> saveWholeFile(const QString &path, const QByteArray &bytes)
{
    QByteArray target;
    if (const auto error = followLinks(path, target))
        return error;
    struct stat st;
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return reasonOf(EISDIR);
    if (exists && !S_ISREG(st.st_mode))
        return writeToSpecial(target, bytes);
    const bool mayWriteInPlace = exists && ::access(target.constData(), W_OK) == 0;

    QSaveFile file(QFile::decodeName(target));
    // Unbuffered, so a short write shows here: a buffered QSaveFile flushes inside commit(), and a
    // flush that stops short on a full disk still commits, replacing the old file with a cut one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // No new file can be made beside it (a read-only folder).
        if (mayWriteInPlace)
            return writeOverInPlace(target, bytes);
        return file.errorString();
    }
    if (exists) {
        // The owner first: a change of owner clears the set-id bits that the mode then brings back.
        if (::fchown(file.handle(), st.st_uid, st.st_gid) != 0)
            (void)::fchown(file.handle(), uid_t(-1), st.st_gid);
        (void)::fchmod(file.handle(), st.st_mode & 07777);
    }
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
    if (!file.commit()) {
        // Every byte is written, so the rename failed: a sticky folder, a file in use.
        if (mayWriteInPlace)
            return writeOverInPlace(target, bytes);
        return file.errorString();
    }
    return std::nullopt;
}

std::optional<QString> readWholeFile(const QString &path, QByteArray &bytes)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::stat(name.constData(), &st) != 0)
        return reasonOf(errno);
    if (S_ISDIR(st.st_mode))
        return reasonOf(EISDIR);
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("not a regular file");
    // Checked again on the open file: it may have been swapped since.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return reasonOf(errno);
    std::optional<QString> error;
    if (::fstat(fd, &st) != 0)
        error = reasonOf(errno);
    else if (!S_ISREG(st.st_mode))
        error = QStringLiteral("not a regular file");
    else
        error = readWholeStream(fd, bytes);
    ::close(fd);
    return error;
}

std::optional<QString> readWholeStream(int fd, QByteArray &bytes)
{
    QByteArray out;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return reasonOf(errno);
        if (n == 0)
            break;
        out.append(chunk, n);
    }
    bytes = out;
    return std::nullopt;
}

} // namespace evm
