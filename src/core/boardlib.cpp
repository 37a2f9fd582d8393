// SPDX-License-Identifier: GPL-3.0-or-later
#include "boardlib.h"
#include "windows_error.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace evm {

namespace {

// What differs from one system to the next: the library's file name, loading it, finding its
// entries, and the folder of the running program. Nothing else here knows the system.
namespace platform {

#ifdef _WIN32

// A board library is only ever loaded by its full path from a folder the program chose: never
// from the working directory or the PATH, where anyone may have put an Ostrel.dll.
constexpr bool kSystemSearch = false;

std::string libraryFile(std::string_view baseName)
{
    return std::string(baseName) + ".dll";
}

void *open(const std::string &file, std::string &error)
{
    // The working directory leaves the search for the DLLs the board library itself needs,
    // and those are looked for beside it first.
    static const bool noWorkingDirectory = ::SetDllDirectoryA("") != 0;
    (void)noWorkingDirectory;
    // No box from the system for a DLL that cannot be loaded: the caller reports it.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    std::string path = file;
    std::replace(path.begin(), path.end(), '/', '\\');
    HMODULE handle = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = ::GetLastError();
    ::SetErrorMode(oldMode);
    if (!handle)
        error = "Cannot load library " + file + ": (" + windowsErrorText(code) + ")";
    return reinterpret_cast<void *>(handle);
}

void *entry(void *handle, const char *name)
{
    return reinterpret_cast<void *>(::GetProcAddress(static_cast<HMODULE>(handle), name));
}

void close(void *handle)
{
    ::FreeLibrary(static_cast<HMODULE>(handle));
}

std::string executableDir()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), DWORD(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

#else

// Bare file names go to the dynamic loader's own search, which never takes the working directory.
constexpr bool kSystemSearch = true;

std::string libraryFile(std::string_view baseName)
{
    return "lib" + std::string(baseName) + ".so";
}

void *open(const std::string &file, std::string &error)
{
    // RTLD_LOCAL: a board library's symbols stay its own.
    void *handle = ::dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!handle) {
        const char *reason = ::dlerror();
        error = "Cannot load library " + file + ": (" + (reason ? reason : "unknown error") + ")";
    }
    return handle;
}

void *entry(void *handle, const char *name)
{
    return ::dlsym(handle, name);
}

void close(void *handle)
{
    ::dlclose(handle);
}

// The folder of the running program, its links followed; empty when it cannot be told.
std::string executableDir()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

#endif

} // namespace platform

constexpr char kBaseName[] = "Ostrel";

bool isFile(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string joined(const std::string &dir, std::string_view name)
{
    if (dir.empty())
        return std::string(name);
    return dir.back() == '/' || dir.back() == kSeparator ? dir + std::string(name) : dir + kSeparator + std::string(name);
}

#ifndef _WIN32
// Installed, the board libraries lie in a folder of the program's own (lib/evm5170 under the
// prefix), found from the executable's folder, so an installed tree works wherever it is put.
#ifndef EVM_BOARD_DIR_FROM_BIN
#define EVM_BOARD_DIR_FROM_BIN "../lib/evm5170"
#endif
std::string installedBoardDir(const std::string &exeDir)
{
    std::string dir = std::filesystem::path(joined(exeDir, EVM_BOARD_DIR_FROM_BIN)).lexically_normal().string();
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}
#endif

// The folders the board library is looked for in: on Windows the executable's own alone, as
// its users put the vendor's DLL beside it.
std::vector<std::string> boardDirs(const std::string &exeDir)
{
#ifdef _WIN32
    return {exeDir};
#else
    return {exeDir, installedBoardDir(exeDir)};
#endif
}

std::string absolute(const std::string &path)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

// EVM_BOARD_LIBRARY: a file, or the short name of a board library that ships beside the program.
std::string libraryFromEnvironment()
{
    const char *set = std::getenv("EVM_BOARD_LIBRARY");
    const std::string env = set ? set : "";
    static const struct {
        const char *shortName;
        const char *baseName;
    } kShortNames[] = {{"sim", "Ostrel"}, {"linux", "OstrelLinux"}, {"remote", "OstrelRemote"}};
    const std::string exeDir = platform::executableDir();
    for (const auto &s : kShortNames) {
        if (env != s.shortName || exeDir.empty())
            continue;
        const std::string file = platform::libraryFile(s.baseName);
        // Beside the program in a build tree, in the program's own folder once installed.
        const std::vector<std::string> dirs = boardDirs(exeDir);
        for (const std::string &dir : dirs)
            if (exists(joined(dir, file)))
                return joined(dir, file);
        return joined(dirs.front(), file);
    }
    return env;
}

} // namespace

std::vector<std::string> BoardLibrary::searchOrder()
{
    const std::string env = libraryFromEnvironment();
    if (!env.empty())
        return {env};
    std::vector<std::string> order;
    if (const std::string exeDir = platform::executableDir(); !exeDir.empty())
        for (const std::string &dir : boardDirs(exeDir))
            order.push_back(joined(dir, kBaseName));
    if (platform::kSystemSearch)
        order.push_back(kBaseName); // the dynamic loader's own search: no working directory
    return order;
}

BoardLibrary::LoadStatus BoardLibrary::load()
{
    const std::string env = libraryFromEnvironment();
    if (!env.empty()) {
        // A name that is not a file must not fall through to a search.
        if (!isFile(env)) {
            m_error = env + ": no such file";
            return LoadStatus::CannotLoad;
        }
        return loadFile(absolute(env));
    }
    const std::string exeDir = platform::executableDir();
    if (!exeDir.empty()) {
        for (const std::string &dir : boardDirs(exeDir))
            if (const std::string file = joined(dir, platform::libraryFile(kBaseName)); isFile(file))
                return loadFile(file);
    }
    if (!platform::kSystemSearch) {
        unload();
        m_fileName = joined(exeDir, platform::libraryFile(kBaseName));
        m_error = m_fileName + ": no such file";
        return LoadStatus::CannotLoad;
    }
    // Bare file names: the loader searches its own paths, never the working directory. The
    // base name itself is tried last, and its failure is the one told, as it always was.
    if (const LoadStatus status = loadFile(platform::libraryFile(kBaseName)); status != LoadStatus::CannotLoad)
        return status;
    return loadFile(kBaseName);
}

BoardLibrary::LoadStatus BoardLibrary::loadFile(const std::string &path)
{
    unload();
    m_fileName = path;
    m_handle = platform::open(path, m_error);
    if (!m_handle)
        return LoadStatus::CannotLoad;
    return resolveEntries();
}

BoardLibrary::LoadStatus BoardLibrary::resolveEntries()
{
    auto init = reinterpret_cast<InitFn>(platform::entry(m_handle, "_init"));
    auto close = reinterpret_cast<CloseFn>(platform::entry(m_handle, "_close"));
    auto read = reinterpret_cast<DataFn>(platform::entry(m_handle, "_readData"));
    auto write = reinterpret_cast<DataFn>(platform::entry(m_handle, "_writeData"));
    auto getVer = reinterpret_cast<VersionFn>(platform::entry(m_handle, "_getVer"));
    if (!init || !close || !read || !write || !getVer) {
        m_error = m_fileName + " lacks a board-access entry";
        platform::close(m_handle);
        m_handle = nullptr;
        return LoadStatus::InvalidLibrary;
    }
    m_init = init;
    m_close = close;
    m_read = read;
    m_write = write;
    m_getVer = getVer;
    m_describe = reinterpret_cast<OstrelDescribeFn>(platform::entry(m_handle, OSTREL_DESCRIBE_ENTRY));
    m_lastError = reinterpret_cast<OstrelLastErrorFn>(platform::entry(m_handle, OSTREL_LAST_ERROR_ENTRY));
    return LoadStatus::Loaded;
}

void BoardLibrary::unload()
{
    if (!m_init)
        return;
    m_init = nullptr;
    m_close = nullptr;
    m_read = nullptr;
    m_write = nullptr;
    m_getVer = nullptr;
    m_describe = nullptr;
    m_lastError = nullptr;
    platform::close(m_handle);
    m_handle = nullptr;
}

namespace {
std::string resultText(int32_t r)
{
    return r == 0 ? std::string("0") : "0x" + hexText(uint32_t(r), 4);
}
} // namespace

int32_t BoardLibrary::init(int32_t port, ConnectionSettings *settings)
{
    const int32_t r = m_init ? m_init(port, settings) : 0;
    if (trace)
        trace("_init(port=" + std::to_string(port) + ", interface=" + std::to_string(settings->interfaceCode)
              + ", address=0x" + hexText(uint32_t(settings->deviceAddress), 2) + ", word56="
              + std::to_string(settings->word56) + ") = " + std::to_string(r));
    return r;
}

int32_t BoardLibrary::close()
{
    const int32_t r = m_close ? m_close() : NotOpen;
    if (trace)
        trace("_close() = " + std::to_string(r));
    return r;
}

int32_t BoardLibrary::readData(int32_t channel, int32_t reg, uint8_t *buffer, int32_t count)
{
    const int32_t r = m_read ? m_read(channel, reg, buffer, count) : NotOpen;
    if (trace)
        trace("_readData(channel=" + std::to_string(channel) + ", reg=0x" + hexText(uint32_t(reg), 2) + ") = "
              + resultText(r) + " value=0x" + hexText(buffer[0], 2));
    return r;
}

int32_t BoardLibrary::writeData(int32_t channel, int32_t reg, uint8_t *buffer, int32_t count)
{
    const int32_t r = m_write ? m_write(channel, reg, buffer, count) : NotOpen;
    if (trace) {
        if (channel == PinChannel)
            trace("_writeData(channel=7, pin=" + std::to_string(reg) + ", value=" + std::to_string(buffer[0]) + ") = "
                  + resultText(r));
        else
            trace("_writeData(channel=" + std::to_string(channel) + ", reg=0x" + hexText(uint32_t(reg), 2) + ", value=0x"
                  + hexText(buffer[0], 2) + ") = " + resultText(r));
    }
    return r;
}

int32_t BoardLibrary::getVer()
{
    const int32_t r = m_getVer ? m_getVer() : 0;
    if (trace)
        trace("_getVer() = 0x" + hexText(uint32_t(r), 4));
    return r;
}

std::string BoardLibrary::describe()
{
    const int32_t length = m_describe ? m_describe(nullptr, 0) : -1;
    if (length <= 0 || length >= 65536)
        return {};
    std::string text(size_t(length) + 1, '\0');
    m_describe(text.data(), int32_t(text.size()));
    text.resize(::strnlen(text.data(), text.size()));
    return text;
}

std::string BoardLibrary::lastError()
{
    const int32_t length = m_lastError ? m_lastError(nullptr, 0) : -1;
    if (length <= 0)
        return {};
    // A reason is a line for a message box: a longer one is cut, not refused.
    std::string text(size_t(std::min(length, int32_t(1023))) + 1, '\0');
    m_lastError(text.data(), int32_t(text.size()));
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

} // namespace evm
