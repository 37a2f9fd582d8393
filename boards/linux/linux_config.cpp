// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux_config.h"

#include "ini.h"
#include "inttext.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::linuxboard {

namespace {

// Far beyond any real configuration; a bigger file is not one.
constexpr size_t kMaxFileSize = 64 * 1024;
constexpr unsigned kMaxOffset = 65535;

std::string trimmed(std::string_view text)
{
    return std::string(evm::trimmed(text));
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y)); });
}

// The program's integer text, as in the settings file; nothing negative.
std::optional<unsigned long long> number(std::string_view text)
{
    const std::optional<int32_t> value = evm::parseInteger(text);
    if (!value || *value < 0)
        return std::nullopt;
    return static_cast<unsigned long long>(*value);
}

class Parser {
public:
    Parser(const std::string &path, std::string &error) : path_(path), error_(error) {}

    std::optional<Config> run(const std::string &text);

private:
    enum class Section { None, Iic, Spi, Lines };

    bool fail(const std::string &what)
    {
        error_ = path_ + ":" + std::to_string(lineNo_) + ": " + what;
        return false;
    }
    bool line(const evm::ini::Line &line);
    bool entry(const std::string &key, const std::string &value);
    bool once(const std::string &key);
    bool numberIn(const std::string &key, const std::string &value, unsigned long long low, unsigned long long high,
                  unsigned long long &out);
    bool finish();

    const std::string &path_;
    std::string &error_;
    Config config_;
    int lineNo_ = 0;
    Section section_ = Section::None;
    std::vector<std::string> seen_; // "section/key", lower case
    std::string chip_;
    struct Pending {
        int lineNo;
        LineMapping mapping; // chip empty: on Chip=
    };
    std::vector<Pending> pending_;
};

std::optional<Config> Parser::run(const std::string &text)
{
    // The lines as the settings file's reader splits them: blank lines and ';' comments are
    // skipped there, and a ';' after a value starts a comment too.
    const bool read = evm::ini::forEachLine(text, [this](const evm::ini::Line &l) {
        lineNo_ = l.number;
        return line(l);
    });
    if (!read || !finish())
        return std::nullopt;
    return config_;
}

bool Parser::line(const evm::ini::Line &l)
{
    using Kind = evm::ini::Line::Kind;
    const std::string text = trimmed(l.text);
    if (text[0] == '#')
        return true;
    if (text.find('\0') != std::string::npos)
        return fail("not a text line");
    if (l.kind == Kind::Section) {
        if (!l.closed || text.back() != ']')
            return fail("a section line ends with ]");
        const std::string name = evm::ini::unescapedName(l.name);
        if (sameName(name, "IIC"))
            section_ = Section::Iic;
        else if (sameName(name, "SPI"))
            section_ = Section::Spi;
        else if (sameName(name, "Lines"))
            section_ = Section::Lines;
        else
            return fail("unknown section [" + name + "]; the sections are [IIC], [SPI] and [Lines]");
        return true;
    }
    if (l.kind != Kind::Entry)
        return fail("expected key=value, found \"" + text + "\"");
    if (section_ == Section::None)
        return fail("\"" + text + "\" comes before any section");
    const std::string key = evm::ini::unescapedName(l.name);
    const evm::ini::Value value = evm::ini::unescapedValue(l.value);
    if (value.isList)
        return fail(key + "=" + trimmed(l.value) + " is a list; give one value");
    if (value.text.empty())
        return fail(key + " has no value");
    return entry(key, value.text);
}

bool Parser::once(const std::string &key)
{
    std::string id = std::to_string(int(section_)) + "/" + key;
    std::transform(id.begin(), id.end(), id.begin(), [](char c) { return char(std::tolower(uint8_t(c))); });
    if (std::find(seen_.begin(), seen_.end(), id) != seen_.end())
        return fail(key + " is given twice");
    seen_.push_back(id);
    return true;
}

bool Parser::numberIn(const std::string &key, const std::string &value, unsigned long long low, unsigned long long high,
                      unsigned long long &out)
{
    const auto n = number(value);
    if (!n || *n < low || *n > high)
        return fail(key + "=" + value + " is not a number from " + std::to_string(low) + " to " + std::to_string(high));
    out = *n;
    return true;
}

bool Parser::entry(const std::string &key, const std::string &value)
{
    unsigned long long n = 0;
    switch (section_) {
    case Section::Iic:
        if (!sameName(key, "Device"))
            return fail("unknown key " + key + " in [IIC]; it has Device");
        if (!once(key))
            return false;
        config_.iicDevice = value;
        return true;
    case Section::Spi:
        if (sameName(key, "Device")) {
            if (!once(key))
                return false;
            config_.spiDevice = value;
        } else if (sameName(key, "Mode")) {
            if (!once(key) || !numberIn(key, value, 0, 3, n))
                return false;
            config_.spiMode = uint8_t(n);
        } else if (sameName(key, "SpeedHz")) {
            if (!once(key) || !numberIn(key, value, 1, UINT32_MAX, n))
                return false;
            config_.spiSpeedHz = uint32_t(n);
        } else if (sameName(key, "ReadFlag")) {
            // A flag of 0 would make a read frame a write frame.
            if (!once(key) || !numberIn(key, value, 1, 0xFF, n))
                return false;
            config_.readFlag = uint8_t(n);
        } else {
            return fail("unknown key " + key + " in [SPI]; it has Device, Mode, SpeedHz and ReadFlag");
        }
        return true;
    case Section::Lines: {
        if (sameName(key, "Chip")) {
            if (!once(key))
                return false;
            chip_ = value;
            return true;
        }
        const auto line = number(key);
        if (!line || *line > 63)
            return fail("unknown key " + key + " in [Lines]; it has Chip and the board lines 0 to 63");
        if (!once(std::to_string(*line)))
            return false;
        Pending p{lineNo_, {int(*line), std::string(), 0}};
        std::string offset = value;
        if (const size_t colon = value.rfind(':'); colon != std::string::npos) {
            p.mapping.chip = trimmed(std::string_view(value).substr(0, colon));
            offset = trimmed(std::string_view(value).substr(colon + 1));
            if (p.mapping.chip.empty())
                return fail(key + "=" + value + " names no chip before the colon");
        }
        const auto at = number(offset);
        if (!at || *at > kMaxOffset)
            return fail("line " + key + ": offset \"" + offset + "\" is not a number from 0 to " + std::to_string(kMaxOffset));
        p.mapping.offset = unsigned(*at);
        pending_.push_back(p);
        return true;
    }
    case Section::None:
        break;
    }
    return false;
}

bool Parser::finish()
{
    for (Pending &p : pending_) {
        lineNo_ = p.lineNo;
        if (p.mapping.chip.empty()) {
            if (chip_.empty())
                return fail("line " + std::to_string(p.mapping.boardLine) + " gives only an offset, and [Lines] has no Chip");
            p.mapping.chip = chip_;
        }
        for (const LineMapping &other : config_.lines)
            if (other.chip == p.mapping.chip && other.offset == p.mapping.offset)
                return fail("lines " + std::to_string(other.boardLine) + " and " + std::to_string(p.mapping.boardLine)
                            + " both name " + p.mapping.chip + ":" + std::to_string(p.mapping.offset));
        config_.lines.push_back(p.mapping);
    }
    std::sort(config_.lines.begin(), config_.lines.end(),
              [](const LineMapping &a, const LineMapping &b) { return a.boardLine < b.boardLine; });
    return true;
}

std::string homeDirectory()
{
    if (const char *home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

} // namespace

std::string configPath()
{
    if (const char *path = std::getenv("EVM_LINUX_BOARD"); path && *path)
        return path;
    std::string dir;
    if (const char *config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        dir = config;
    else
        dir = homeDirectory() + "/.config";
    return dir + "/EVM5170-linux.ini";
}

std::optional<Config> parseConfig(const std::string &path, const std::string &text, std::string &error)
{
    return Parser(path, error).run(text);
}

std::optional<Config> readConfig(const std::string &path, std::string &error)
{
    // Not blocking on a FIFO someone named here, nor taking a terminal as the controlling one.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    std::string text;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok)
        error = path + ": not a regular file";
    while (ok) {
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = path + ": " + std::strerror(errno);
            ok = false;
        } else if (n == 0) {
            break;
        } else if (text.size() + size_t(n) > kMaxFileSize) {
            error = path + ": larger than " + std::to_string(kMaxFileSize / 1024) + " KiB, not a configuration file";
            ok = false;
        } else {
            text.append(chunk, size_t(n));
        }
    }
    ::close(fd);
    if (!ok)
        return std::nullopt;
    return parseConfig(path, text, error);
}

} // namespace ostrel::linuxboard
