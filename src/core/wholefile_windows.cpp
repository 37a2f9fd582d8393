// SPDX-License-Identifier: GPL-3.0-or-later
// The whole-file reader and writer of textfiles.h on Windows. Paths are in the system's ANSI
// code page, as the C runtime gives them (command line, environment).
#include "textfiles.h"
#include "windows_error.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace evm {

namespace {

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~Handle() { reset(); }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return m_h; }
    HANDLE release()
    {
        const HANDLE h = m_h;
        m_h = INVALID_HANDLE_VALUE;
        return h;
    }
    bool valid() const { return m_h != INVALID_HANDLE_VALUE; }
    // The last error of the close, or 0.
    DWORD reset()
    {
        DWORD error = 0;
        if (valid() && !::CloseHandle(m_h))
            error = ::GetLastError();
        m_h = INVALID_HANDLE_VALUE;
        return error;
    }

private:
    HANDLE m_h;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string lastReason()
{
    return windowsErrorText(::GetLastError());
}

// What a path names: nothing, a folder, a file on a disk, or something else (a device such as
// NUL or COM1, a pipe). Opened for its attributes only, which never waits for anything.
enum class Kind { Missing, Folder, DiskFile, Other, Unknown };
Kind kindOf(const std::string &path, DWORD &attributes)
{
    attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return Kind::Missing;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return Kind::Folder;
    }
    Handle h(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.valid())
        return attributes == INVALID_FILE_ATTRIBUTES ? Kind::Unknown : Kind::DiskFile;
    return ::GetFileType(h.get()) == FILE_TYPE_DISK ? Kind::DiskFile : Kind::Other;
}

// A symbolic link or junction is followed, and stays: the file it names is what is replaced.
std::string finalPath(const std::string &path, DWORD attributes)
{
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return path;
    Handle h(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.valid())
        return path;
    std::string target(MAX_PATH, '\0');
    DWORD n = ::GetFinalPathNameByHandleA(h.get(), target.data(), DWORD(target.size()), FILE_NAME_NORMALIZED);
    if (n >= target.size()) {
        target.resize(n + 1);
        n = ::GetFinalPathNameByHandleA(h.get(), target.data(), DWORD(target.size()), FILE_NAME_NORMALIZED);
    }
    if (n == 0 || n >= target.size())
        return path;
    target.resize(n);
    return target;
}

std::optional<std::string> writeAll(HANDLE h, std::string_view bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1u << 24));
        DWORD wrote = 0;
        if (!::WriteFile(h, bytes.data() + done, chunk, &wrote, nullptr))
            return lastReason();
        if (wrote == 0)
            return windowsErrorText(ERROR_DISK_FULL);
        done += wrote;
    }
    return std::nullopt;
}

// A device or pipe takes the bytes as they are.
std::optional<std::string> writeToSpecial(const std::string &target, std::string_view bytes)
{
    Handle h(::CreateFileA(target.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h.valid())
        return lastReason();
    std::optional<std::string> error = writeAll(h.get(), bytes);
    if (const DWORD closeError = h.reset(); closeError && !error)
        error = windowsErrorText(closeError);
    return error;
}

// A file that cannot be replaced but may be written (a folder that takes no new file, a file
// another program holds open without letting it be replaced): written over in place. The room
// is taken first, so a full disk leaves the old contents whole; the old tail goes last.
std::optional<std::string> writeOverInPlace(const std::string &target, std::string_view bytes)
{
    Handle h(::CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid())
        return lastReason();
    if (::GetFileType(h.get()) != FILE_TYPE_DISK)
        return std::string("not a regular file");
    LARGE_INTEGER size{};
    ::GetFileSizeEx(h.get(), &size);
    LARGE_INTEGER wanted{};
    wanted.QuadPart = LONGLONG(bytes.size());
    if (wanted.QuadPart > size.QuadPart
        && (!::SetFilePointerEx(h.get(), wanted, nullptr, FILE_BEGIN) || !::SetEndOfFile(h.get())))
        return lastReason();
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(h.get(), start, nullptr, FILE_BEGIN))
        return lastReason();
    if (auto error = writeAll(h.get(), bytes))
        return error;
    if (!::SetEndOfFile(h.get()) || !::FlushFileBuffers(h.get()))
        return lastReason();
    if (const DWORD closeError = h.reset())
        return windowsErrorText(closeError);
    return std::nullopt;
}

// A new file beside the target, "target.XXXXXX" as the program's temporary copies are named.
Handle createBeside(const std::string &target, std::string &name)
{
    static std::atomic<uint64_t> counter{0};
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint64_t seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count())
                        ^ (uint64_t(::GetCurrentProcessId()) << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
        name = target + '.';
        for (int k = 0; k < 6; ++k) {
            name += letters[seed % 62];
            seed /= 62;
        }
        Handle h(::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (h.valid() || ::GetLastError() != ERROR_FILE_EXISTS)
            return Handle(h.release());
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return Handle();
}

} // namespace

std::optional<std::string> saveWholeFile(const std::string &path, std::string_view bytes)
{
    DWORD attributes = 0;
    Kind kind = kindOf(path, attributes);
    const std::string target = finalPath(path, attributes);
    if (target != path)
        kind = kindOf(target, attributes);
    if (kind == Kind::Folder)
        return std::string(std::strerror(EISDIR));
    if (kind == Kind::Other)
        return writeToSpecial(target, bytes);
    const bool exists = kind != Kind::Missing;
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY))
        return "Existing file " + target + " is not writable";

    std::string temporary;
    Handle h = createBeside(target, temporary);
    if (!h.valid()) {
        const std::string reason = lastReason();
        return exists ? writeOverInPlace(target, bytes) : std::optional<std::string>(reason);
    }
    // Every byte is on the disk before the new file takes the old one's place.
    std::optional<std::string> error = writeAll(h.get(), bytes);
    if (!error && !::FlushFileBuffers(h.get()))
        error = lastReason();
    if (const DWORD closeError = h.reset(); closeError && !error)
        error = windowsErrorText(closeError);
    if (error) {
        ::DeleteFileA(temporary.c_str());
        return error;
    }
    // ReplaceFile keeps what the old file had: its permissions (ACL), attributes and creation time.
    const bool replaced = exists
                              ? ::ReplaceFileA(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                               nullptr, nullptr)
                              : ::MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    if (!replaced) {
        const std::string reason = lastReason();
        ::DeleteFileA(temporary.c_str());
        // Every byte is written, so the replacement failed: a file in use, a folder's permissions.
        return exists ? writeOverInPlace(target, bytes) : std::optional<std::string>(reason);
    }
    return std::nullopt;
}

std::optional<std::string> readWholeFile(const std::string &path, std::string &bytes)
{
    DWORD attributes = 0;
    switch (kindOf(path, attributes)) {
    case Kind::Missing:
        return windowsErrorText(ERROR_FILE_NOT_FOUND);
    case Kind::Folder:
        return std::string(std::strerror(EISDIR));
    case Kind::Other:
        return std::string("not a regular file");
    case Kind::DiskFile:
    case Kind::Unknown:
        break;
    }
    Handle h(::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid())
        return lastReason();
    // Checked again on the open file: it may have been swapped since.
    if (::GetFileType(h.get()) != FILE_TYPE_DISK)
        return std::string("not a regular file");
    std::string out;
    char chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(h.get(), chunk, sizeof chunk, &got, nullptr))
            return lastReason();
        if (got == 0)
            break;
        out.append(chunk, got);
    }
    bytes = std::move(out);
    return std::nullopt;
}

std::optional<std::string> readWholeStream(int fd, std::string &bytes)
{
    // The bytes as they come: no CR LF turned into LF, no end at a Ctrl+Z.
    ::_setmode(fd, _O_BINARY);
    std::string out;
    char chunk[65536];
    for (;;) {
        const int n = ::_read(fd, chunk, sizeof chunk);
        if (n < 0)
            return std::string(std::strerror(errno));
        if (n == 0)
            break;
        out.append(chunk, size_t(n));
    }
    bytes = std::move(out);
    return std::nullopt;
}

} // namespace evm
