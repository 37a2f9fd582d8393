#include "linux_config.h"

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
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y)); });
}

// Decimal, or hexadecimal after 0x; nothing else, no sign.
std::optional<unsigned long long> number(const std::string &text)
{
    int base = 10;
    size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start = 2;
    }
    if (start >= text.size() || text.size() - start > 16)
        return std::nullopt;
    unsigned long long value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * base + unsigned(digit);
    }
    return value;
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
    bool line(const std::string &text);
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
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        ++lineNo_;
        if (!line(trimmed(std::string_view(text).substr(start, end - start))))
            return std::nullopt;
        start = end + 1;
    }
    if (!finish())
        return std::nullopt;
    return config_;
}

bool Parser::line(const std::string &text)
{
    if (text.empty() || text[0] == ';' || text[0] == '#')
        return true;
    if (text.find('\0') != std::string::npos)
        return fail("not a text line");
    if (text[0] == '[') {
        if (text.back() != ']')
            return fail("a section line ends with ]");
        const std::string name = trimmed(std::string_view(text).substr(1, text.size() - 2));
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
    const size_t equals = text.find('=');
    if (equals == std::string::npos)
        return fail("expected key=value, found \"" + text + "\"");
    if (section_ == Section::None)
        return fail("\"" + text + "\" comes before any section");
    const std::string key = trimmed(std::string_view(text).substr(0, equals));
    const std::string value = trimmed(std::string_view(text).substr(equals + 1));
    if (value.empty())
        return fail(key + " has no value");
    return entry(key, value);
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
