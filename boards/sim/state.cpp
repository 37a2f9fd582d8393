// SPDX-License-Identifier: GPL-3.0-or-later
#include "state.h"

#include "environment.h"
#include "ostrel_shim.h"

#ifdef _WIN32
#include "textfiles.h"
#include "windows_error.h"

#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#ifndef _WIN32
#include <pwd.h>
#endif
#include <string_view>
#include <thread>

namespace ostrel {

namespace {

// Another run holds the lock for the time of one read or write; one that holds it far longer
// is stuck, and is not waited for.
constexpr auto kLockPatience = std::chrono::seconds(10);
constexpr auto kLockPoll = std::chrono::milliseconds(2);

#ifdef _WIN32

// The writer follows a link itself on Windows.
std::string resolvedPath(std::string path)
{
    return path;
}

// LockFileEx on "<file>.lock", released when the handle is closed. As on other systems, a lock
// held far longer than one read or write is not waited for.
class FileLock {
public:
    explicit FileLock(const std::string &file)
    {
        const std::string path = file + ".lock";
        handle_ = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE)
            return;
        const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
        for (;;) {
            OVERLAPPED whole{};
            if (::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole))
                return;
            const DWORD error = ::GetLastError();
            if (error != ERROR_LOCK_VIOLATION || std::chrono::steady_clock::now() > deadline) {
                warn("OSTREL_SIM_STATE: cannot lock %s: %s; going on without it", path.c_str(),
                     error == ERROR_LOCK_VIOLATION ? "held too long by another process"
                                                   : evm::windowsErrorText(error).c_str());
                ::CloseHandle(handle_);
                handle_ = INVALID_HANDLE_VALUE;
                return;
            }
            std::this_thread::sleep_for(kLockPoll);
        }
    }
    ~FileLock()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle_);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

enum class ReadResult { Ok, Missing, Failed };

// Only a file on a disk is read: a device holds no snapshot.
ReadResult readText(const std::string &path, std::string &text, std::string &reason)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return ReadResult::Missing;
    }
    if (const auto error = evm::readWholeFile(path, text)) {
        if (*error == "not a regular file")
            return ReadResult::Missing;
        reason = *error;
        return ReadResult::Failed;
    }
    return ReadResult::Ok;
}

#else

std::string folderOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The file a path finally names, through any chain of symbolic links, whether or not it exists.
std::string resolvedPath(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length < 0 || length == ssize_t(sizeof target))
            break;
        const std::string link(target, size_t(length));
        path = link.front() == '/' ? link : folderOf(path) + '/' + link;
    }
    return path;
}

// flock on "<file>.lock", released when the object goes. Without a lock file (a folder that
// cannot be written) nothing is serialised; the save then reports why it fails.
class FileLock {
public:
    explicit FileLock(const std::string &file)
    {
        const std::string path = file + ".lock";
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd_ < 0)
            return;
        const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR)
                continue;
            if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() > deadline) {
                warn("OSTREL_SIM_STATE: cannot lock %s: %s; going on without it", path.c_str(),
                     errno == EWOULDBLOCK ? "held too long by another process" : std::strerror(errno));
                ::close(fd_);
                fd_ = -1;
                return;
            }
            std::this_thread::sleep_for(kLockPoll);
        }
    }
    ~FileLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    int fd_ = -1;
};

enum class ReadResult { Ok, Missing, Failed };

// Only a regular file is read: a FIFO or a device holds no snapshot, and opening one must not block.
ReadResult readDescriptor(const std::string &path, std::string &text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return ReadResult::Failed;
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        return ReadResult::Missing;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return got == 0 ? ReadResult::Ok : ReadResult::Failed;
        }
        text.append(buffer, size_t(got));
    }
}

ReadResult readText(const std::string &path, std::string &text, std::string &reason)
{
    const ReadResult result = readDescriptor(path, text);
    if (result == ReadResult::Failed)
        reason = std::strerror(errno);
    return result;
}

#endif

bool blank(std::string_view line)
{
    return line.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// A snapshot is read whole before anything is restored, so a bad line cannot leave the chip
// half loaded. Registers it does not name keep their power-on values.
std::optional<Registers> parseSnapshot(std::string_view text, int &badLine)
{
    Chip chip;
    badLine = 0;
    while (!text.empty()) {
        ++badLine;
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (blank(line))
            continue;
        const auto comma = line.find(',');
        if (comma == std::string_view::npos)
            return std::nullopt;
        const auto reg = parseInteger(line.substr(0, comma));
        const auto value = parseInteger(line.substr(comma + 1));
        if (!reg || !Chip::isRegister(int(*reg)) || !value || *value < 0 || *value > 0xFF)
            return std::nullopt;
        chip.restore(int(*reg), uint8_t(*value));
    }
    return storedRegisters(chip);
}

// The registers the file holds, or nothing when it has none to give; report says why on stderr.
std::optional<Registers> readState(const std::string &file, const std::string &shownPath, bool report)
{
    std::string text;
    std::string reason;
    switch (readText(file, text, reason)) {
    case ReadResult::Ok:
        break;
    case ReadResult::Missing:
        return std::nullopt;
    case ReadResult::Failed:
        if (report)
            warn("OSTREL_SIM_STATE: cannot read %s: %s; starting from power-on values", shownPath.c_str(),
                 reason.c_str());
        return std::nullopt;
    }
    int badLine = 0;
    const auto values = parseSnapshot(text, badLine);
    if (!values && report)
        warn("OSTREL_SIM_STATE: %s line %d is not a register line such as \"0x47, 0xFF\"; "
             "ignoring the file and starting from power-on values", shownPath.c_str(), badLine);
    return values;
}

std::string snapshotText(const Registers &values)
{
    std::string text;
    for (int reg = Chip::kFirstRegister; reg <= Chip::kLastRegister; ++reg) {
        char line[16];
        std::snprintf(line, sizeof line, "0x%02X, 0x%02X\r\n", reg, values[size_t(reg - Chip::kFirstRegister)]);
        text += line;
    }
    return text;
}

#ifdef _WIN32

// The program's one writer: replaced whole, its permissions kept, a device written in place.
std::optional<std::string> writeSnapshot(const std::string &file, const std::string &data)
{
    return evm::saveWholeFile(file, data);
}

#else

// 0, or the errno of the failure.
int writeAll(int fd, const std::string &data)
{
    for (size_t done = 0; done < data.size();) {
        const ssize_t wrote = ::write(fd, data.data() + done, data.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return wrote < 0 ? errno : EIO;
        done += size_t(wrote);
    }
    return 0;
}

// A device, a FIFO, or a writable file in a folder that cannot take a new one: written in place.
int writeInPlace(const std::string &file, const std::string &data, bool truncate)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | (truncate ? O_TRUNC : 0));
    if (fd < 0)
        return errno;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int error = writeAll(fd, data);
    if (!error && truncate && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    return error;
}

// Written beside the file and renamed over it, so no reader ever sees it cut short.
int replaceFile(const std::string &file, const std::string &data)
{
    struct stat status {};
    const bool exists = ::stat(file.c_str(), &status) == 0;
    if (exists && !S_ISREG(status.st_mode))
        return writeInPlace(file, data, false);

    const auto slash = file.rfind('/');
    const std::string folder = folderOf(file);
    const std::string prefix = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = prefix + "." + base + "." + std::to_string(::getpid()) + "." + std::to_string(attempt) + ".tmp";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int error = errno;
        if (exists && (error == EACCES || error == EPERM || error == EROFS) && ::access(file.c_str(), W_OK) == 0)
            return writeInPlace(file, data, true);
        return error;
    }
    if (exists) {
        // Owner and group only where the process may set them; the mode after, as chown may clear it.
        if (::fchown(fd, status.st_uid, status.st_gid) != 0) {
        }
        ::fchmod(fd, status.st_mode & 07777);
    }
    int error = writeAll(fd, data);
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temporary.c_str(), file.c_str()) != 0) {
        error = errno;
        // Another user's file in a sticky folder such as /tmp cannot be renamed over, but may be writable.
        if (exists && (error == EACCES || error == EPERM) && ::access(file.c_str(), W_OK) == 0) {
            ::unlink(temporary.c_str());
            return writeInPlace(file, data, true);
        }
    }
    if (error) {
        ::unlink(temporary.c_str());
        return error;
    }
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

std::optional<std::string> writeSnapshot(const std::string &file, const std::string &data)
{
    if (const int error = replaceFile(file, data))
        return std::string(std::strerror(error));
    return std::nullopt;
}

#endif

} // namespace

Registers storedRegisters(const Chip &chip)
{
    Registers values{};
    for (int reg = Chip::kFirstRegister; reg <= Chip::kLastRegister; ++reg)
        values[size_t(reg - Chip::kFirstRegister)] = chip.stored(reg);
    return values;
}

void loadState(const std::string &path, Chip &chip)
{
    const std::string file = resolvedPath(path);
    std::optional<Registers> values;
    {
        FileLock lock(file);
        values = readState(file, path, true);
    }
    chip.resetRegisters();
    if (values) {
        for (int reg = Chip::kFirstRegister; reg <= Chip::kLastRegister; ++reg)
            chip.poke(reg, (*values)[size_t(reg - Chip::kFirstRegister)]);
    }
}

void saveState(const std::string &path, const Chip &chip, const Registers &loaded)
{
    const std::string file = resolvedPath(path);
    FileLock lock(file);
    Registers saved = readState(file, path, false).value_or(loaded);
    const Registers now = storedRegisters(chip);
    for (size_t i = 0; i < saved.size(); ++i) {
        if (now[i] != loaded[i])
            saved[i] = now[i];
    }
    if (const auto error = writeSnapshot(file, snapshotText(saved)))
        warn("OSTREL_SIM_STATE: cannot write %s: %s", path.c_str(), error->c_str());
}

#ifdef _WIN32

StateStamp stateStamp(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return {};
    const auto wide = [](DWORD high, DWORD low) { return (static_cast<unsigned long long>(high) << 32) | low; };
    // The last write in 100 ns steps; Windows has no inode to tell a replaced file by, and the
    // writer's replacement always changes the write time.
    const unsigned long long written = wide(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    return {0, 0, wide(data.nFileSizeHigh, data.nFileSizeLow), static_cast<long long>(written / 10000000ULL),
            static_cast<long long>(written % 10000000ULL) * 100};
}

#else

StateStamp stateStamp(const std::string &path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    return {static_cast<unsigned long long>(status.st_dev), static_cast<unsigned long long>(status.st_ino),
            static_cast<unsigned long long>(status.st_size), static_cast<long long>(status.st_mtim.tv_sec),
            static_cast<long long>(status.st_mtim.tv_nsec)};
}

#endif

void followState(const std::string &path, Chip &chip, Registers &loaded)
{
    const std::string file = resolvedPath(path);
    std::optional<Registers> values;
    {
        FileLock lock(file);
        values = readState(file, path, false);
    }
    if (!values)
        return;
    for (size_t i = 0; i < values->size(); ++i) {
        if ((*values)[i] == loaded[i])
            continue;
        chip.poke(Chip::kFirstRegister + int(i), (*values)[i]);
        loaded[i] = (*values)[i];
    }
}

#ifdef _WIN32

// On Windows the user's local application data, as other programs keep their state there.
std::string defaultStatePath()
{
    const char *local = std::getenv("LOCALAPPDATA");
    if (!local || !local[0])
        return std::string();
    return std::string(local) + "\\evm5170\\sim-state.csv";
}

bool makeStateFolder(const std::string &path)
{
    const auto slash = path.find_last_of("\\/");
    if (slash == std::string::npos)
        return true;
    const std::string folder = path.substr(0, slash);
    // Each missing folder from the top down; a drive ("C:") or one another run made is as good.
    for (size_t end = 1; end <= folder.size(); ++end) {
        if (end != folder.size() && folder[end] != '\\' && folder[end] != '/')
            continue;
        const std::string part = folder.substr(0, end);
        if (part.size() <= 2 || part.back() == ':')
            continue;
        if (!::CreateDirectoryA(part.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            warn("OSTREL_SIM_STATE: cannot make the folder %s: %s; the registers are not kept", part.c_str(),
                 evm::windowsErrorText(::GetLastError()).c_str());
            return false;
        }
    }
    const DWORD attributes = ::GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        warn("OSTREL_SIM_STATE: %s is not a folder; the registers are not kept", folder.c_str());
        return false;
    }
    return true;
}

#else

std::string defaultStatePath()
{
    std::string base;
    if (const char *state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
        base = state;
    } else {
        const char *home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            const passwd *pw = ::getpwuid(::getuid());
            home = pw && pw->pw_dir && pw->pw_dir[0] == '/' ? pw->pw_dir : nullptr;
        }
        if (!home)
            return std::string();
        base = std::string(home) + "/.local/state";
    }
    return base + "/evm5170/sim-state.csv";
}

bool makeStateFolder(const std::string &path)
{
    const std::string folder = folderOf(path);
    // Each missing folder from the top down; one that another run made meanwhile is as good.
    for (size_t end = 1; end <= folder.size(); ++end) {
        if (end != folder.size() && folder[end] != '/')
            continue;
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            warn("OSTREL_SIM_STATE: cannot make the folder %s: %s; the registers are not kept", part.c_str(),
                 std::strerror(errno));
            return false;
        }
    }
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        warn("OSTREL_SIM_STATE: %s is not a folder; the registers are not kept", folder.c_str());
        return false;
    }
    return true;
}

#endif

} // namespace ostrel
