// SPDX-License-Identifier: GPL-3.0-or-later
// The whole-file reader and writer of textfiles.h on POSIX systems.
#include "textfiles.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace evm {

namespace {

std::string reasonOf(int error)
{
    return std::strerror(error);
}

// The file a path names once its symbolic links are followed; it need not exist.
std::optional<std::string> followLinks(const std::string &path, std::string &target)
{
    target = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st;
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return std::nullopt;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0)
            return reasonOf(errno);
        link.resize(size_t(n));
        if (link.empty() || link.front() != '/') {
            const size_t slash = target.rfind('/');
            link.insert(0, slash == std::string::npos ? std::string() : target.substr(0, slash + 1));
        }
        target = link;
    }
    return reasonOf(ELOOP);
}

std::optional<std::string> writeAll(int fd, std::string_view bytes, bool positioned)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = positioned ? ::pwrite(fd, bytes.data() + done, bytes.size() - done, off_t(done))
                                     : ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return reasonOf(n < 0 ? errno : ENOSPC);
        done += size_t(n);
    }
    return std::nullopt;
}

// A device, FIFO or socket takes the bytes as they are. O_NONBLOCK keeps the open from waiting
// for a FIFO's reader; the writes then wait as usual.
std::optional<std::string> writeToSpecial(const std::string &target, std::string_view bytes)
{
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat st;
        if (error == ENXIO && ::stat(target.c_str(), &st) == 0 && S_ISFIFO(st.st_mode))
            return "nothing reads from the FIFO";
        return reasonOf(error);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::optional<std::string> error = writeAll(fd, bytes, false);
    if (::close(fd) != 0 && !error)
        error = reasonOf(errno);
    return error;
}

// A regular file that cannot be replaced but may be written: written over in place. The room
// is taken first, so a full disk leaves the old contents whole; the old tail goes last.
std::optional<std::string> writeOverInPlace(const std::string &target, std::string_view bytes)
{
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return reasonOf(errno);
    std::optional<std::string> error;
    struct stat st;
    if (::fstat(fd, &st) != 0)
        error = reasonOf(errno);
    else if (!S_ISREG(st.st_mode))
        error = "not a regular file";
    if (!error && !bytes.empty()) {
        const int r = ::posix_fallocate(fd, 0, off_t(bytes.size()));
        if (r != 0 && r != EOPNOTSUPP && r != EINVAL)
            error = reasonOf(r);
    }
    if (!error)
        error = writeAll(fd, bytes, true);
    if (!error && ::ftruncate(fd, off_t(bytes.size())) != 0)
        error = reasonOf(errno);
    if (!error)
        ::fsync(fd);
    if (::close(fd) != 0 && !error)
        error = reasonOf(errno);
    return error;
}

// A new file beside the target, for the whole text before it takes the target's place. Made
// with the mode a new file gets (0666 less the umask); "target.XXXXXX", as the program's
// temporary copies have always been named.
int createBeside(const std::string &target, std::string &name)
{
    static std::atomic<uint64_t> counter{0};
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint64_t seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^ (uint64_t(::getpid()) << 32)
                        ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
        name = target + '.';
        for (int k = 0; k < 6; ++k) {
            name += letters[seed % 62];
            seed /= 62;
        }
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

std::optional<std::string> saveWholeFile(const std::string &path, std::string_view bytes)
{
    std::string target;
    if (const auto error = followLinks(path, target))
        return error;
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return reasonOf(EISDIR);
    if (exists && !S_ISREG(st.st_mode))
        return writeToSpecial(target, bytes);
    const bool mayWriteInPlace = exists && ::access(target.c_str(), W_OK) == 0;
    if (exists && !mayWriteInPlace)
        return "Existing file " + target + " is not writable";

    std::string temporary;
    const int fd = createBeside(target, temporary);
    if (fd < 0) {
        // No new file can be made beside it (a read-only folder).
        if (mayWriteInPlace)
            return writeOverInPlace(target, bytes);
        return reasonOf(errno);
    }
    if (exists) {
        // The owner first: a change of owner clears the set-id bits that the mode then brings back.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0)
            (void)::fchown(fd, uid_t(-1), st.st_gid);
        (void)::fchmod(fd, st.st_mode & 07777);
    }
    // Every byte is on the disk before the new file takes the old one's place.
    std::optional<std::string> error = writeAll(fd, bytes, false);
    if (!error && ::fsync(fd) != 0)
        error = reasonOf(errno);
    if (::close(fd) != 0 && !error)
        error = reasonOf(errno);
    if (error) {
        ::unlink(temporary.c_str());
        return error;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.c_str());
        // Every byte is written, so the rename failed: a sticky folder, a file in use.
        if (mayWriteInPlace)
            return writeOverInPlace(target, bytes);
        return reasonOf(renameError);
    }
    return std::nullopt;
}

std::optional<std::string> readWholeFile(const std::string &path, std::string &bytes)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return reasonOf(errno);
    if (S_ISDIR(st.st_mode))
        return reasonOf(EISDIR);
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    // Checked again on the open file: it may have been swapped since.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return reasonOf(errno);
    std::optional<std::string> error;
    if (::fstat(fd, &st) != 0)
        error = reasonOf(errno);
    else if (!S_ISREG(st.st_mode))
        error = "not a regular file";
    else
        error = readWholeStream(fd, bytes);
    ::close(fd);
    return error;
}

std::optional<std::string> readWholeStream(int fd, std::string &bytes)
{
    std::string out;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return reasonOf(errno);
        if (n == 0)
            break;
        out.append(chunk, size_t(n));
    }
    bytes = std::move(out);
    return std::nullopt;
}

} // namespace evm
