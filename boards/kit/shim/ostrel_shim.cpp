// SPDX-License-Identifier: GPL-3.0-or-later
// The five entries of every board library: what each must check before its backend sees a
// call, and the one trace format, so every board library is traced the same way.
//
// Checks, in this order:
//   OSTREL_NOT_OPEN       before a successful _init, after _close, or once the board is lost
//   OSTREL_BAD_ARGUMENT   a null buffer or a count other than 1
//   OSTREL_BAD_REGISTER   a write on the lines channel to a line outside 0..63
//   OSTREL_BAD_CHANNEL    a read on anything but the chip, a write on anything but chip and lines

#include "ostrel_shim.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// On Windows the entries leave the DLL by its module-definition file, which names exactly
// those the library has (evm_add_board_library), so none is marked here.
#ifdef _WIN32
#define OSTREL_ENTRY extern "C"
#else
#define OSTREL_ENTRY extern "C" __attribute__((visibility("default")))
#endif

namespace ostrel {

void warn(const char *format, ...)
{
    std::fputs("libOstrel: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

} // namespace ostrel

namespace {

std::string formatted(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char *format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string resultText(int32_t code)
{
    return code == OSTREL_OK ? std::string("0") : formatted("0x%04X", uint32_t(code));
}

std::string countText(int32_t count)
{
    return count == 1 ? std::string() : formatted(", count=%d", count);
}

// The file named by OSTREL_<NAME>_TRACE when the library is loaded, appended to a line at a
// time, flushed at once so a crash loses nothing. Bytes as they are: the same lines on every
// system. On Windows it is opened at the first line, not while loading: a DLL's static objects
// are made under the system's loader lock, where nothing should touch a file.
class TraceFile {
public:
    TraceFile()
    {
        variable_ = std::string("OSTREL_") + ostrel::backend().name() + "_TRACE";
        const char *path = std::getenv(variable_.c_str());
        if (!path || !*path)
            return;
#ifdef _WIN32
        path_ = path;
#else
        // Opened without blocking: a FIFO that nobody reads must not hang the program loading us.
        const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            file_ = ::fdopen(fd, "a");
            if (!file_)
                ::close(fd);
        }
        if (!file_)
            ostrel::warn("%s: cannot open %s: %s", variable_.c_str(), path, std::strerror(errno));
#endif
    }
    ~TraceFile()
    {
#ifdef _WIN32
        if (handle_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle_);
#else
        if (file_)
            std::fclose(file_);
#endif
    }
    TraceFile(const TraceFile &) = delete;
    TraceFile &operator=(const TraceFile &) = delete;

    void write(const std::string &line)
    {
#ifdef _WIN32
        if (path_.empty())
            return;
        if (handle_ == INVALID_HANDLE_VALUE) {
            // Shared, so that others may read the trace while the board runs.
            handle_ = ::CreateFileA(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle_ == INVALID_HANDLE_VALUE) {
                ostrel::warn("%s: cannot open %s: error %lu", variable_.c_str(), path_.c_str(), ::GetLastError());
                path_.clear();
                return;
            }
        }
        const std::string bytes = line + '\n';
        DWORD written = 0;
        ::WriteFile(handle_, bytes.data(), DWORD(bytes.size()), &written, nullptr);
#else
        if (!file_)
            return;
        std::fputs(line.c_str(), file_);
        std::fputc('\n', file_);
        std::fflush(file_);
#endif
    }

private:
    std::string variable_;
#ifdef _WIN32
    std::string path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    std::FILE *file_ = nullptr;
#endif
};

TraceFile traceFile;
// Set by a successful _init, cleared by a failed one and by _close.
bool boardOpen = false;

void record(ostrel::Backend &backend, const std::string &line)
{
    traceFile.write(line);
    backend.traced(line);
}

// Why a data call fails before the backend sees it, or OSTREL_OK.
int32_t refusal(const ostrel::Backend &backend, int32_t channel, int32_t target, const uint8_t *buffer,
                int32_t count, bool isRead)
{
    if (!boardOpen || !backend.connected())
        return OSTREL_NOT_OPEN;
    if (!buffer || count != 1)
        return OSTREL_BAD_ARGUMENT;
    if (channel == OSTREL_CHANNEL_LINES && !isRead)
        return target >= 0 && target < OSTREL_LINE_COUNT ? OSTREL_OK : OSTREL_BAD_REGISTER;
    if (channel != OSTREL_CHANNEL_CHIP)
        return OSTREL_BAD_CHANNEL;
    return OSTREL_OK;
}

} // namespace

OSTREL_ENTRY int32_t OSTREL_CALL _init(int32_t port, OstrelConnectionSettings *settings)
{
    ostrel::Backend &backend = ostrel::backend();
    if (!settings) {
        record(backend, formatted("_init(port=%d, settings=null) = 0", port));
        return 0;
    }
    // The caller's record need not be aligned for its 32-bit fields.
    OstrelConnectionSettings copy;
    std::memcpy(&copy, settings, sizeof copy);
    const int32_t result = backend.open(port, copy);
    boardOpen = result != 0;
    record(backend, formatted("_init(port=%d, interface=%d, address=0x%02X, word56=%d) = %d", port,
                              copy.interfaceCode, uint32_t(copy.deviceAddress), copy.word56, result));
    return result;
}

OSTREL_ENTRY int32_t OSTREL_CALL _close(void)
{
    ostrel::Backend &backend = ostrel::backend();
    backend.close();
    boardOpen = false;
    record(backend, "_close() = 0");
    return OSTREL_OK;
}

OSTREL_ENTRY int32_t OSTREL_CALL _readData(int32_t channel, int32_t reg, uint8_t *buffer, int32_t count)
{
    ostrel::Backend &backend = ostrel::backend();
    int32_t code = refusal(backend, channel, reg, buffer, count, true);
    uint8_t value = 0;
    if (code == OSTREL_OK)
        code = backend.readRegister(reg, value);
    const bool hasByte = buffer && count >= 1;
    if (hasByte)
        buffer[0] = code == OSTREL_OK ? value : 0;
    const std::string valueText = hasByte ? formatted("0x%02X", buffer[0]) : std::string("none");
    record(backend, formatted("_readData(channel=%d, reg=0x%02X%s) = %s value=%s", channel, uint32_t(reg),
                              countText(count).c_str(), resultText(code).c_str(), valueText.c_str()));
    return code;
}

OSTREL_ENTRY int32_t OSTREL_CALL _writeData(int32_t channel, int32_t regOrLine, uint8_t *buffer, int32_t count)
{
    ostrel::Backend &backend = ostrel::backend();
    const bool lines = channel == OSTREL_CHANNEL_LINES;
    int32_t code = refusal(backend, channel, regOrLine, buffer, count, false);
    if (code == OSTREL_OK)
        code = lines ? backend.writeLine(regOrLine, buffer[0]) : backend.writeRegister(regOrLine, buffer[0]);
    const bool hasByte = buffer && count >= 1;
    const std::string valueText = !hasByte ? std::string("none")
                                  : lines  ? formatted("%d", buffer[0])
                                           : formatted("0x%02X", buffer[0]);
    const std::string target = lines ? formatted("pin=%d", regOrLine) : formatted("reg=0x%02X", uint32_t(regOrLine));
    record(backend, formatted("_writeData(channel=%d, %s, value=%s%s) = %s", channel, target.c_str(),
                              valueText.c_str(), countText(count).c_str(), resultText(code).c_str()));
    return code;
}

// Kept out of the export list of a library built with NO_GETVER.
OSTREL_ENTRY int32_t OSTREL_CALL _getVer(void)
{
    ostrel::Backend &backend = ostrel::backend();
    const int32_t version = backend.version();
    record(backend, formatted("_getVer() = 0x%04X", uint32_t(version)));
    return version;
}

// Beyond the five entries, in every kit library: the backend's reason for its last failure.
// Copies the text with its terminating NUL as far as size allows and answers its length.
OSTREL_ENTRY int32_t OSTREL_CALL ostrel_last_error(char *buffer, int32_t size)
{
    const std::string text = ostrel::backend().lastError();
    if (buffer && size > 0) {
        const size_t n = std::min(text.size(), size_t(size) - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return int32_t(text.size());
}
