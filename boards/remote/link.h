// One TCP connection to the instrument server, spoken in lines. Plain POSIX sockets: the
// library is loaded into the program's process and brings nothing of its own along. Every
// wait is bounded, so a server that stops answering never hangs the caller for good.
#pragma once

#include <optional>
#include <string>

namespace ostrel {

class Link {
public:
    Link() = default;
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;
    ~Link() { drop(); }

    // "host:port" or "[v6 address]:port". False, with the reason in why(), when the server
    // cannot be reached within connectMs.
    bool connectTo(const std::string &address, int connectMs);
    void drop();
    bool isOpen() const { return fd_ >= 0; }

    // Sends one line and waits up to answerMs for the one-line answer (without its "\n").
    // nullopt on any failure, with the link dropped and the reason in why().
    std::optional<std::string> ask(const std::string &line, int answerMs);

    const std::string &why() const { return why_; }

private:
    bool sendAll(const std::string &bytes, long long deadline);
    void fail(const std::string &why);

    int fd_ = -1;
    std::string in_; // received, not yet taken
    std::string why_;
};

} // namespace ostrel
