// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingsfile.h"

#include "boardsession.h"
#include "ini.h"
#include "inttext.h"
#include "textfiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include <sys/stat.h>

namespace evm {

namespace {

// Missing reads as empty; anything but a regular file that can be read is a failure.
bool readSettingsText(const std::string &path, std::string &text)
{
    text.clear();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT;
    return !readWholeFile(path, text);
}

#ifndef _WIN32
// A folder and a name in it, as the settings path has always been joined: one slash between.
std::string inFolder(std::string dir, std::string_view name)
{
    if (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (dir.empty())
        return std::string(name);
    if (dir.back() != '/')
        dir += '/';
    return dir + std::string(name);
}
#endif

} // namespace

std::string settingsFilePath()
{
#ifdef _WIN32
    // The user's roaming application data, where Windows programs keep their settings; never
    // the working folder.
    std::string dir;
    if (const char *appData = std::getenv("APPDATA"); appData && *appData)
        dir = appData;
    else if (const char *profile = std::getenv("USERPROFILE"); profile && *profile)
        dir = std::string(profile) + "\\AppData\\Roaming";
    else
        return {};
    if (dir.back() != '\\' && dir.back() != '/')
        dir += '\\';
    return dir + "EVM5170.ini";
#else
    const char *config = std::getenv("XDG_CONFIG_HOME");
    std::string dir = config ? config : "";
    if (dir.empty()) {
        // The home folder as a clean path ("//", "." and ".." resolved, no slash at the end).
        const char *home = std::getenv("HOME");
        std::string clean = std::filesystem::path(home && *home ? home : "/").lexically_normal().string();
        while (clean.size() > 1 && clean.back() == '/')
            clean.pop_back();
        dir = inFolder(clean, ".config");
    }
    return inFolder(dir, "EVM5170.ini");
#endif
}

SettingsFile::SettingsFile(std::string path) : m_path(std::move(path))
{
    m_readable = readSettingsText(m_path, m_text);
}

std::unique_ptr<SettingsFile> openSettingsFile()
{
    return std::make_unique<SettingsFile>(settingsFilePath());
}

std::optional<std::string> SettingsFile::write(std::string_view key, std::string_view value)
{
    // A file that cannot be read as text (a device, a FIFO) takes what this object last held.
    std::string base;
    if (!readSettingsText(m_path, base)) {
        struct stat st;
        if (::stat(m_path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
            std::string ignored;
            return readWholeFile(m_path, ignored).value_or("cannot be read");
        }
        base = m_text;
    }
    ini::Document settings(base);
    settings.set(key, value);
    const std::string text = settings.serialized();
    // What was written must read back as the value set, as the file will be read next time.
    if (ini::Document(text).text(key) != value)
        return "the settings could not be written";
    if (const auto error = saveWholeFile(m_path, text))
        return error;
    m_text = text;
    m_readable = true;
    return std::nullopt;
}

InterfaceChoice readInterfaceChoice(const SettingsFile *file)
{
    InterfaceChoice c;
    if (!file || !file->readable()) {
        c.ok = false;
        return c;
    }
    // A malformed line anywhere is a failure before anything is taken from the file.
    const ini::Document settings(file->text());
    if (!settings.wellFormed()) {
        c.ok = false;
        return c;
    }
    const auto type = parseInteger(settings.text(kSettingsTypeKey).value_or(std::to_string(c.itemIndex)));
    if (!type) {
        c.ok = false;
        return c;
    }
    c.itemIndex = *type != 0 ? SpiItem : IicItem;
    const auto addr = parseInteger(settings.text(kSettingsAddrKey).value_or(std::to_string(DefaultChosenAddress)));
    if (!addr) {
        c.ok = false;
        return c;
    }
    c.chosenAddress = *addr;
    if (c.itemIndex == IicItem) {
        if (!isIicAddress(c.chosenAddress))
            c.chosenAddress = FirstIicAddress;
        c.addressItem = c.chosenAddress - FirstIicAddress;
    } else {
        if (c.chosenAddress < 0 || c.chosenAddress > 3)
            c.chosenAddress = 0;
        c.addressItem = c.chosenAddress;
    }
    return c;
}

int readAutoReadInterval(const SettingsFile *file)
{
    if (!file || !file->readable())
        return DefaultAutoReadMs;
    const ini::Document settings(file->text());
    const auto text = settings.wellFormed() ? settings.text(kSettingsAutoReadKey) : std::nullopt;
    const auto ms = text ? parseInteger(*text) : std::nullopt;
    if (!ms)
        return DefaultAutoReadMs;
    return std::clamp(*ms, int32_t(MinAutoReadMs), int32_t(MaxAutoReadMs));
}

InterfaceOutcome interfaceFromOptions(const InterfaceOptions &options)
{
    InterfaceOutcome o;
    if (options.address) {
        o.settings = connectionSettingsFor(IicItem, *options.address);
        return o;
    }
    if (options.item == SpiItem) {
        o.settings = connectionSettingsFor(SpiItem, 0);
        return o;
    }
    const auto file = openSettingsFile();
    const InterfaceChoice choice = readInterfaceChoice(file.get());
    o.fileFailed = !choice.ok;
    if (options.item == IicItem && choice.itemIndex != IicItem)
        o.settings = connectionSettingsFor(IicItem, addressAfterSwitchTo(IicItem));
    else
        o.settings = connectionSettingsFor(choice.itemIndex, choice.chosenAddress);
    return o;
}

bool writeSetting(std::unique_ptr<SettingsFile> &settings, std::string_view key, std::string_view value)
{
    return settings && !settings->write(key, value);
}

} // namespace evm
