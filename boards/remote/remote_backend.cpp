// SPDX-License-Identifier: GPL-3.0-or-later
// libOstrelRemote.so: the board of another machine, through the instrument server there
// (evm5170ctl serve). The server is named by EVM_BOARD_REMOTE=host:port, read at every _init;
// each entry becomes one BOARD command and its answer, and the library's codes of the far
// side come back unchanged.
//
// One connection serves from one _init to the next: _close sends BOARD:CLOSE and does not wait
// (the server runs one connection's lines in order, so the next BOARD:OPEN? comes after it),
// and a new _init connects again only when the connection is lost or another server is named.
// A call that gets no answer in time answers OSTREL_TIMED_OUT and resets the connection, so
// the server drops what it still holds of it (a write given up on never runs); it counts as
// lost, and every call fails at once until the next _init: one user action waits one timeout.
#include "inttext.h"
#include "link.h"
#include "ostrel_shim.h"
#include "scpi/remote_protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using Clock = ostrel::Link::Clock;
using Outcome = ostrel::Link::Outcome;

constexpr const char *kDefaultServer = "127.0.0.1:5025";
constexpr int kDefaultConnectMs = 3000;
constexpr int kDefaultAnswerMs = 5000;

// The commands as this library sends them: the server's headers in their short form.
const std::string kOpen = evm::remote::shortForm(evm::remote::Open);
const std::string kClose = evm::remote::shortForm(evm::remote::Close);
const std::string kRead = evm::remote::shortForm(evm::remote::Read);
const std::string kWrite = evm::remote::shortForm(evm::remote::Write);
const std::string kVersion = evm::remote::shortForm(evm::remote::Version);
const std::string kClearStatus = evm::remote::shortForm(evm::remote::ClearStatus);
const std::string kNextError = evm::remote::shortForm(evm::remote::NextError);

// A whole answer of N integers separated by commas, each by the program's integer text, into
// out; false when it is not one.
template <size_t N>
bool parseAnswer(std::string_view text, int32_t (&out)[N])
{
    for (size_t i = 0; i < N; ++i) {
        const bool last = i + 1 == N;
        const size_t comma = last ? std::string_view::npos : text.find(',');
        if (!last && comma == std::string_view::npos)
            return false;
        const std::optional<int32_t> v = evm::parseInteger(text.substr(0, comma));
        if (!v)
            return false;
        out[i] = *v;
        if (!last)
            text.remove_prefix(comma + 1);
    }
    return true;
}

// Milliseconds from the environment, or fallback.
int milliseconds(const char *variable, int fallback)
{
    const char *text = std::getenv(variable);
    if (!text || !*text)
        return fallback;
    const std::optional<int32_t> value = evm::parseInteger(text);
    if (!value || *value < 1 || *value > 600000) {
        ostrel::warn("%s: \"%s\" is not a number of milliseconds 1..600000, using %d", variable, text, fallback);
        return fallback;
    }
    return *value;
}

std::string secondsText(int ms)
{
    char text[32];
    std::snprintf(text, sizeof text, ms % 1000 == 0 ? "%.0f s" : "%.1f s", ms / 1000.0);
    return text;
}

// The text of a SYSTem:ERRor? answer such as -221,"Settings conflict;the board is held ...":
// what follows the ';' when there is one, else the error's own text.
std::string errorReason(const std::string &answer)
{
    const size_t open = answer.find('"');
    const size_t close = answer.rfind('"');
    if (open == std::string::npos || close <= open)
        return answer;
    const std::string text = answer.substr(open + 1, close - open - 1);
    const size_t semicolon = text.find(';');
    return semicolon == std::string::npos ? text : text.substr(semicolon + 1);
}

class RemoteBackend : public ostrel::Backend {
public:
    const char *name() const override { return "REMOTE"; }

    int32_t open(int32_t port, const OstrelConnectionSettings &settings) override
    {
        reason_.clear();
        timedOut_ = false;
        readSettings();
        // The whole _init, connection included, waits one answer's time at most.
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(answerMs_);
        if (lost_ || wanted_ != server_ || !link_.usable()) {
            if (!connect(deadline))
                return 0;
        }
        lost_ = false;
        int32_t opened[1];
        // *CLS first, so that the queue holds this open's reason alone when it answers 0.
        if (ask(kClearStatus + ';' + kOpen + ' ' + std::to_string(settings.interfaceCode) + ',' + std::to_string(settings.deviceAddress)
                    + ',' + std::to_string(port),
                opened, deadline)
            != Outcome::Done)
            return 0;
        if (opened[0] == 0) {
            std::string error;
            if (askText(kNextError, error, deadline) == Outcome::Done)
                reason_ = server_ + ": " + (error.rfind("0,", 0) == 0 ? std::string("no board there") : errorReason(error));
        }
        return opened[0];
    }

    void close() override
    {
        if (!link_.isOpen() || lost_)
            return;
        // Not waited for: the next BOARD:OPEN? of this connection runs after it all the same.
        const Outcome sent = link_.send(kClose, Clock::now() + std::chrono::milliseconds(answerMs_));
        if (sent != Outcome::Done)
            lose(sent);
    }

    int32_t readRegister(int32_t reg, uint8_t &value) override
    {
        int32_t answer[2];
        const Outcome outcome = ask(kRead + " 0," + std::to_string(reg), answer, callDeadline());
        if (outcome != Outcome::Done)
            return outcome == Outcome::TimedOut ? OSTREL_TIMED_OUT : OSTREL_NOT_OPEN;
        value = uint8_t(answer[1]);
        return answer[0];
    }

    int32_t writeRegister(int32_t reg, uint8_t value) override { return write(OSTREL_CHANNEL_CHIP, reg, value); }

    int32_t writeLine(int32_t line, uint8_t level) override { return write(OSTREL_CHANNEL_LINES, line, level); }

    int32_t version() override
    {
        if (timedOut_)
            return 0; // the server did not answer: nothing more waits for it until the next _init
        // Also before _init (the tool's info, the About box): a connection of its own then.
        if (!link_.isOpen()) {
            readSettings();
            if (!connect(callDeadline()))
                return 0;
        }
        int32_t answer[1];
        return ask(kVersion, answer, callDeadline()) == Outcome::Done ? answer[0] : 0;
    }

    bool connected() const override { return !lost_; }

    std::string lastError() const override { return reason_; }

private:
    void readSettings()
    {
        const char *text = std::getenv("EVM_BOARD_REMOTE");
        wanted_ = text && *text ? std::string(text) : std::string(kDefaultServer);
        answerMs_ = milliseconds("EVM_BOARD_REMOTE_TIMEOUT_MS", kDefaultAnswerMs);
        connectMs_ = milliseconds("EVM_BOARD_REMOTE_CONNECT_MS", kDefaultConnectMs);
    }

    Clock::time_point callDeadline() const { return Clock::now() + std::chrono::milliseconds(answerMs_); }

    bool connect(Clock::time_point deadline)
    {
        server_ = wanted_;
        deadline = std::min(deadline, Clock::now() + std::chrono::milliseconds(connectMs_));
        const Outcome outcome = link_.connect(server_, deadline);
        if (outcome == Outcome::Done)
            return true;
        lost_ = true;
        timedOut_ = outcome == Outcome::TimedOut;
        reason_ = server_ + ": " + (timedOut_ ? "no connection within " + secondsText(connectMs_) : link_.why());
        ostrel::warn("remote board at %s", reason_.c_str());
        return false;
    }

    int32_t write(int32_t channel, int32_t target, uint8_t value)
    {
        int32_t answer[1];
        const Outcome outcome = ask(kWrite + ' ' + std::to_string(channel) + ',' + std::to_string(target) + ','
                                        + std::to_string(value),
                                    answer, callDeadline());
        if (outcome != Outcome::Done)
            return outcome == Outcome::TimedOut ? OSTREL_TIMED_OUT : OSTREL_NOT_OPEN;
        return answer[0];
    }

    Outcome askText(const std::string &command, std::string &text, Clock::time_point deadline)
    {
        if (!link_.isOpen()) {
            lost_ = true;
            return Outcome::Failed;
        }
        const Outcome outcome = link_.ask(command, text, deadline);
        if (outcome != Outcome::Done)
            lose(outcome);
        return outcome;
    }

    // One command and its answer. Anything but the expected numbers loses the connection, since
    // the answers that follow could no longer be told apart.
    template <size_t N>
    Outcome ask(const std::string &command, int32_t (&answer)[N], Clock::time_point deadline)
    {
        std::string text;
        if (const Outcome outcome = askText(command, text, deadline); outcome != Outcome::Done)
            return outcome;
        if (parseAnswer(text, answer))
            return Outcome::Done;
        // A server that refuses this client says why in its one line.
        const std::string what = text.rfind(evm::remote::RefusedPrefix, 0) == 0 ? text.substr(0, 200)
                                                                 : "unexpected answer \"" + text.substr(0, 80) + "\" to " + command;
        link_.close();
        lost_ = true;
        reason_ = server_ + ": " + what;
        ostrel::warn("remote board at %s", reason_.c_str());
        return Outcome::Failed;
    }

    void lose(Outcome outcome)
    {
        lost_ = true;
        if (outcome == Outcome::TimedOut) {
            // A reset, not a close: the server then drops the lines of ours it has not run.
            link_.abort();
            timedOut_ = true;
            reason_ = server_ + ": no answer within " + secondsText(answerMs_);
        } else {
            link_.close();
            reason_ = server_ + ": " + link_.why();
        }
        ostrel::warn("remote board at %s", reason_.c_str());
    }

    ostrel::Link link_;
    std::string wanted_; // the server EVM_BOARD_REMOTE names
    std::string server_; // the one the link goes to
    int answerMs_ = kDefaultAnswerMs;
    int connectMs_ = kDefaultConnectMs;
    bool lost_ = false;
    bool timedOut_ = false;
    std::string reason_;
};

} // namespace

ostrel::Backend &ostrel::backend()
{
    static RemoteBackend remote;
    return remote;
}
