// SPDX-License-Identifier: GPL-3.0-or-later
#include "link.h"

#include <asio/connect.hpp>
#include <asio/read_until.hpp>
#include <asio/write.hpp>

#include <charconv>
#include <vector>

#ifdef _WIN32
#include <asio/detail/winsock_init.hpp>
#endif

namespace ostrel {

namespace {

using asio::ip::tcp;

constexpr size_t kMaxAnswer = 4096; // every answer of the BOARD commands is a few numbers or an error

bool splitAddress(const std::string &address, std::string &host, uint16_t &port)
{
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos)
        return false;
    const char *first = address.data() + colon + 1;
    const char *last = address.data() + address.size();
    const auto [end, error] = std::from_chars(first, last, port);
    if (first == last || error != std::errc() || end != last)
        return false;
    host = address.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return !host.empty();
}

} // namespace

bool Link::wait(int &pending, Clock::time_point deadline)
{
    io_.restart();
    while (pending > 0 && io_.run_one_until(deadline)) {
    }
    if (pending == 0)
        return true;
    // The operations still waiting end at once, so that nothing refers to this call's state later.
    asio::error_code ignored;
    socket_.cancel(ignored);
    io_.restart();
    while (pending > 0 && io_.run_one()) {
    }
    return false;
}

#ifdef _WIN32
// Winsock is started at the first connection, not while the DLL is loaded: WSAStartup may load
// other DLLs, which must not happen under the system's loader lock. Made before Asio's own
// objects (the lowest priority number runs first), this one keeps them from starting it then.
static __attribute__((init_priority(101))) asio::detail::winsock_init<>::manual noWinsockAtLoad;

static bool winsockStarted(std::string &why)
{
    static const int result = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0)
        why = "cannot start Winsock: error " + std::to_string(result);
    return result == 0;
}
#endif

Link::Outcome Link::connect(const std::string &address, Clock::time_point deadline)
{
    close();
#ifdef _WIN32
    if (!winsockStarted(why_))
        return Outcome::Failed;
#endif
    std::string host;
    uint16_t port = 0;
    if (!splitAddress(address, host, port)) {
        why_ = "\"" + address + "\" is not HOST:PORT";
        return Outcome::Failed;
    }
    std::vector<tcp::endpoint> endpoints;
    asio::error_code ec;
    const asio::ip::address numeric = asio::ip::make_address(host, ec);
    if (!ec) {
        endpoints.emplace_back(numeric, port);
    } else {
        // A name: the system's resolver, which has no deadline of its own.
        tcp::resolver resolver(io_);
        const tcp::resolver::results_type found = resolver.resolve(host, std::to_string(port), ec);
        if (ec) {
            why_ = "cannot resolve " + host + ": " + ec.message();
            return Outcome::Failed;
        }
        for (const auto &entry : found)
            endpoints.push_back(entry.endpoint());
    }
    asio::error_code result;
    int pending = 1;
    asio::async_connect(socket_, endpoints, [&](const asio::error_code &e, const tcp::endpoint &) {
        result = e;
        --pending;
    });
    if (!wait(pending, deadline)) {
        abort();
        why_ = "no connection in time";
        return Outcome::TimedOut;
    }
    if (result) {
        close();
        why_ = "cannot connect: " + result.message();
        return Outcome::Failed;
    }
    socket_.set_option(tcp::no_delay(true), ec); // one short line per call
    return Outcome::Done;
}

bool Link::usable()
{
    if (!socket_.is_open() || !in_.empty())
        return false; // an answer nobody asked for: out of step with the server
    asio::error_code ec, ignored;
    char c = 0;
    socket_.non_blocking(true, ignored);
    socket_.read_some(asio::buffer(&c, 1), ec);
    socket_.non_blocking(false, ignored);
    return ec == asio::error::would_block || ec == asio::error::try_again;
}

void Link::close()
{
    asio::error_code ignored;
    socket_.close(ignored);
    in_.clear();
}

void Link::abort()
{
    asio::error_code ignored;
    if (socket_.is_open())
        socket_.set_option(asio::socket_base::linger(true, 0), ignored);
    close();
}

Link::Outcome Link::send(const std::string &line, Clock::time_point deadline)
{
    if (!socket_.is_open()) {
        why_ = "not connected";
        return Outcome::Failed;
    }
    out_ = line + '\n';
    asio::error_code writeError;
    int pending = 1;
    asio::async_write(socket_, asio::buffer(out_), [&](const asio::error_code &e, size_t) {
        writeError = e;
        --pending;
    });
    if (!wait(pending, deadline)) {
        why_ = "could not send in time";
        return Outcome::TimedOut;
    }
    if (writeError) {
        why_ = "sending: " + writeError.message();
        return Outcome::Failed;
    }
    return Outcome::Done;
}

Link::Outcome Link::ask(const std::string &line, std::string &answer, Clock::time_point deadline)
{
    if (!socket_.is_open()) {
        why_ = "not connected";
        return Outcome::Failed;
    }
    out_ = line + '\n';
    asio::error_code writeError, readError;
    size_t length = 0;
    int pending = 2;
    asio::async_write(socket_, asio::buffer(out_), [&](const asio::error_code &e, size_t) {
        writeError = e;
        --pending;
        asio::error_code ignored;
        if (e)
            socket_.cancel(ignored); // no answer will come
    });
    asio::async_read_until(socket_, asio::dynamic_buffer(in_, kMaxAnswer), '\n',
                           [&](const asio::error_code &e, size_t n) {
                               readError = e;
                               length = n;
                               --pending;
                           });
    if (!wait(pending, deadline)) {
        why_ = "no answer in time";
        return Outcome::TimedOut;
    }
    if (writeError) {
        why_ = "sending: " + writeError.message();
        return Outcome::Failed;
    }
    if (readError) {
        why_ = readError == asio::error::eof         ? "the server closed the connection"
               : readError == asio::error::not_found ? "an answer too long to be one"
                                                     : readError.message();
        return Outcome::Failed;
    }
    answer = in_.substr(0, length - 1);
    in_.erase(0, length);
    if (!answer.empty() && answer.back() == '\r')
        answer.pop_back();
    return Outcome::Done;
}

} // namespace ostrel
