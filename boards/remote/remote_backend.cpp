// libOstrelRemote.so: the board of another machine, through the instrument server there
// (evm5170ctl serve). The server is named by EVM_BOARD_REMOTE=host:port, read at every _init;
// each entry becomes one BOARD command and its answer, and the library's codes of the far
// side come back unchanged. A connection lost makes every access answer "not open" until
// the next _init connects again.
#include "link.h"
#include "ostrel_shim.h"

#include <cstdlib>
#include <string>

namespace {

constexpr const char *kDefaultServer = "127.0.0.1:5025";
constexpr int kConnectMs = 3000;
constexpr int kAnswerMs = 5000;

// A whole answer of decimal integers separated by commas, into out; false when it is not one.
template <size_t N>
bool parseAnswer(const std::string &text, long long (&out)[N])
{
    const char *p = text.c_str();
    for (size_t i = 0; i < N; ++i) {
        char *end = nullptr;
        if (*p == '\0' || *p == ' ')
            return false;
        out[i] = std::strtoll(p, &end, 10);
        if (end == p)
            return false;
        p = end;
        if (i + 1 < N) {
            if (*p != ',')
                return false;
            ++p;
        }
    }
    return *p == '\0';
}

class RemoteBackend : public ostrel::Backend {
public:
    const char *name() const override { return "REMOTE"; }

    int32_t open(int32_t port, const OstrelConnectionSettings &settings) override
    {
        lost_ = false;
        server_ = serverAddress();
        if (!link_.connectTo(server_, kConnectMs)) {
            warn(link_.why());
            return 0;
        }
        long long answer[1];
        if (!ask("BOARD:OPEN? " + std::to_string(settings.interfaceCode) + ',' + std::to_string(settings.deviceAddress)
                     + ',' + std::to_string(port),
                 answer))
            return 0;
        return int32_t(answer[0]);
    }

    void close() override
    {
        // Waits for the server to have closed its board, so that whatever comes next there
        // comes after it.
        if (link_.isOpen()) {
            long long done[1];
            ask("BOARD:CLOSE;*OPC?", done);
        }
        link_.drop();
    }

    int32_t readRegister(int32_t reg, uint8_t &value) override
    {
        long long answer[2];
        if (!ask("BOARD:READ? 0," + std::to_string(reg), answer))
            return OSTREL_NOT_OPEN;
        value = uint8_t(answer[1]);
        return int32_t(answer[0]);
    }

    int32_t writeRegister(int32_t reg, uint8_t value) override { return write(OSTREL_CHANNEL_CHIP, reg, value); }

    int32_t writeLine(int32_t line, uint8_t level) override { return write(OSTREL_CHANNEL_LINES, line, level); }

    int32_t version() override
    {
        // Also before _init (the tool's info, the About box): a connection of its own then.
        if (!link_.isOpen() && !link_.connectTo(serverAddress(), kConnectMs)) {
            warn(link_.why());
            return 0;
        }
        long long answer[1];
        return ask("BOARD:VER?", answer) ? int32_t(answer[0]) : 0;
    }

    bool connected() const override { return !lost_; }

private:
    static std::string serverAddress()
    {
        const char *text = std::getenv("EVM_BOARD_REMOTE");
        return text && *text ? std::string(text) : std::string(kDefaultServer);
    }

    int32_t write(int32_t channel, int32_t target, uint8_t value)
    {
        long long answer[1];
        if (!ask("BOARD:WRITE? " + std::to_string(channel) + ',' + std::to_string(target) + ','
                     + std::to_string(value),
                 answer))
            return OSTREL_NOT_OPEN;
        return int32_t(answer[0]);
    }

    // One command and its answer; anything else than the expected numbers loses the connection,
    // since the answers that follow could no longer be told apart.
    template <size_t N>
    bool ask(const std::string &command, long long (&answer)[N])
    {
        if (!link_.isOpen()) {
            lost_ = true;
            return false;
        }
        const std::optional<std::string> text = link_.ask(command, kAnswerMs);
        if (text && parseAnswer(*text, answer))
            return true;
        if (text) {
            link_.drop();
            warn("unexpected answer \"" + text->substr(0, 80) + "\" to " + command);
        } else {
            warn(link_.why());
        }
        lost_ = true;
        return false;
    }

    void warn(const std::string &why) const
    {
        ostrel::warn("remote board at %s: %s", server_.empty() ? serverAddress().c_str() : server_.c_str(), why.c_str());
    }

    ostrel::Link link_;
    std::string server_;
    bool lost_ = false;
};

} // namespace

ostrel::Backend &ostrel::backend()
{
    static RemoteBackend remote;
    return remote;
}
