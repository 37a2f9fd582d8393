// SPDX-License-Identifier: GPL-3.0-or-later
// One TCP connection to the instrument server, spoken in lines, on standalone Asio so that
// the library builds for Windows too. Each call blocks until it is done or its deadline has
// passed; a server that stops answering never holds the caller beyond that.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <chrono>
#include <string>

namespace ostrel {

class Link {
public:
    using Clock = std::chrono::steady_clock;
    enum class Outcome { Done, TimedOut, Failed };

    Link() = default;
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;
    ~Link() { close(); }

    // "host:port" or "[v6 address]:port"; replaces any connection there was.
    Outcome connect(const std::string &address, Clock::time_point deadline);
    bool isOpen() const { return socket_.is_open(); }
    // Open, nothing unread on it, and not closed by the server since.
    bool usable();
    // A normal close: what was sent still reaches the server.
    void close();
    // A reset: the server drops whatever it still holds of this connection, run or not.
    void abort();

    Outcome send(const std::string &line, Clock::time_point deadline);
    // Sends one line and waits for the one-line answer (without its "\n").
    Outcome ask(const std::string &line, std::string &answer, Clock::time_point deadline);

    // Why the last call did not give Done.
    const std::string &why() const { return why_; }

private:
    // Runs the handlers of what was started until pending is 0; false when the deadline came first.
    bool wait(int &pending, Clock::time_point deadline);

    asio::io_context io_{1};
    asio::ip::tcp::socket socket_{io_};
    std::string in_; // received, not yet taken
    std::string out_;
    std::string why_;
};

} // namespace ostrel
