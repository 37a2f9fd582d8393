#include "link.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrel {

namespace {

constexpr size_t kMaxAnswer = 4096; // every answer of the BOARD commands is a few numbers

long long nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// Waits for events on fd until the deadline; false on a timeout or a failure of poll.
bool waitFor(int fd, short events, long long deadline, std::string &why)
{
    for (;;) {
        const long long left = deadline - nowMs();
        if (left <= 0) {
            why = "no answer in time";
            return false;
        }
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, int(left));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR) {
            why = std::strerror(errno);
            return false;
        }
    }
}

bool splitAddress(const std::string &address, std::string &host, std::string &port)
{
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon + 1 == address.size())
        return false;
    host = address.substr(0, colon);
    port = address.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return !host.empty();
}

} // namespace

void Link::fail(const std::string &why)
{
    why_ = why;
    drop();
}

void Link::drop()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    in_.clear();
}

bool Link::connectTo(const std::string &address, int connectMs)
{
    drop();
    std::string host, port;
    if (!splitAddress(address, host, port)) {
        why_ = "\"" + address + "\" is not HOST:PORT";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        why_ = std::string("cannot resolve the host: ") + ::gai_strerror(rc);
        return false;
    }
    const long long deadline = nowMs() + connectMs;
    why_ = "no address";
    for (addrinfo *a = found; a && fd_ < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            why_ = std::strerror(errno);
            continue;
        }
        const int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
        const bool pending = rc != 0 && errno == EINPROGRESS;
        bool ok = rc == 0 || pending;
        if (!ok)
            why_ = std::strerror(errno);
        if (pending) {
            int error = 0;
            socklen_t len = sizeof error;
            ok = waitFor(fd, POLLOUT, deadline, why_) && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0;
            if (ok && error != 0) {
                why_ = std::strerror(error);
                ok = false;
            }
        }
        if (!ok) {
            ::close(fd);
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one); // one short line per call
        fd_ = fd;
    }
    ::freeaddrinfo(found);
    if (fd_ < 0)
        why_ = "cannot connect: " + why_;
    return fd_ >= 0;
}

bool Link::sendAll(const std::string &bytes, long long deadline)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(fd_, POLLOUT, deadline, why_))
                return false;
        } else if (n < 0 && errno != EINTR) {
            why_ = std::strerror(errno);
            return false;
        }
    }
    return true;
}

std::optional<std::string> Link::ask(const std::string &line, int answerMs)
{
    if (fd_ < 0) {
        why_ = "not connected";
        return std::nullopt;
    }
    const long long deadline = nowMs() + answerMs;
    if (!sendAll(line + "\n", deadline)) {
        fail("sending: " + why_);
        return std::nullopt;
    }
    for (;;) {
        const size_t nl = in_.find('\n');
        if (nl != std::string::npos) {
            std::string answer = in_.substr(0, nl);
            in_.erase(0, nl + 1);
            if (!answer.empty() && answer.back() == '\r')
                answer.pop_back();
            return answer;
        }
        if (in_.size() > kMaxAnswer) {
            fail("an answer too long to be one");
            return std::nullopt;
        }
        char buffer[1024];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            in_.append(buffer, size_t(n));
        } else if (n == 0) {
            fail("the server closed the connection");
            return std::nullopt;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitFor(fd_, POLLIN, deadline, why_)) {
                fail(why_);
                return std::nullopt;
            }
        } else if (errno != EINTR) {
            fail(std::strerror(errno));
            return std::nullopt;
        }
    }
}

} // namespace ostrel
