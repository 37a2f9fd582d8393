// SPDX-License-Identifier: GPL-3.0-or-later
#include "scpi_server.h"

#include "boardsession.h"
#include "inttext.h"
#include "scpi/remote_protocol.h"
#include "scpi/session.h"
#include "sharedboard.h"

#include <asio.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <deque>
#include <list>
#include <memory>
#include <string_view>

// One thread and no blocking call: every socket is non-blocking, read and written by this code
// when the reactor says it is ready. Clients take turns a command at a time (one command of one
// client, then one of the next client that has work), each turn a handler of its own, so that
// socket events, new clients and the stop signals are seen between any two commands.

namespace ctl {

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr size_t kMaxLine = 64 * 1024;      // longer lines are refused whole
constexpr size_t kChunk = 16 * 1024;        // read from a socket at a time
constexpr size_t kReadAhead = 256 * 1024;   // lines a client has queued before TCP pushes back
constexpr size_t kBacklog = 1024 * 1024;    // unsent answers before a client's lines wait
constexpr size_t kMaxRefused = 64;          // refused connections draining at once; more are cut
constexpr auto kRefusedDrain = std::chrono::seconds(1);
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
// A reset that arrives while a client's lines wait for their turn is looked for before each of
// its commands, unless the socket was read to its end this recently.
constexpr auto kFresh = std::chrono::milliseconds(1);

// An integer socket option, got or set through Asio on any platform.
template <int Level, int Name>
class IntOption
{
public:
    IntOption(int value = 0) : m_value(value) {}
    int value() const { return m_value; }
    template <class P> int level(const P &) const { return Level; }
    template <class P> int name(const P &) const { return Name; }
    template <class P> int *data(const P &) { return &m_value; }
    template <class P> const int *data(const P &) const { return &m_value; }
    template <class P> size_t size(const P &) const { return sizeof m_value; }
    template <class P> void resize(const P &, size_t) {}

private:
    int m_value;
};

// The error the connection has met and no read or write has reported yet (a reset); reading
// it clears it.
using PendingError = IntOption<SOL_SOCKET, SO_ERROR>;

void enableKeepalive(tcp::socket &socket)
{
    asio::error_code ec;
    socket.set_option(asio::socket_base::keep_alive(true), ec);
#if defined(__linux__)
    // A peer that is gone without a word is found within a minute and a half, not two hours.
    socket.set_option(IntOption<IPPROTO_TCP, TCP_KEEPIDLE>(60), ec);
    socket.set_option(IntOption<IPPROTO_TCP, TCP_KEEPINTVL>(10), ec);
    socket.set_option(IntOption<IPPROTO_TCP, TCP_KEEPCNT>(3), ec);
#endif
}

std::string addressText(const asio::ip::address &address, uint16_t port)
{
    const std::string host = address.is_v6() ? '[' + address.to_string() + ']' : address.to_string();
    return host + ':' + std::to_string(port);
}

// An IPv4 client of a dual-stack socket shows as ::ffff:a.b.c.d.
asio::ip::address plain(const asio::ip::address &a)
{
    if (a.is_v6() && a.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6());
    return a;
}

bool isLoopback(const asio::ip::address &a)
{
    return plain(a).is_loopback();
}

// Another protocol's request on our port: a browser page or a script can make one, and its
// body would otherwise run as commands.
bool looksLikeHttp(std::string_view line)
{
    static constexpr std::string_view kStarts[] = {"GET ", "POST ", "PUT ", "HEAD ", "OPTIONS ", "DELETE ",
                                                   "PATCH ", "CONNECT ", "TRACE ", "HOST:"};
    for (const std::string_view start : kStarts) {
        if (line.size() < start.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < start.size() && same; ++i) {
            const char c = line[i];
            same = (c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c) == start[i];
        }
        if (same)
            return true;
    }
    return false;
}

class Server;

// One connected client: its lines waiting for their turn, its answers waiting to be sent, and
// its own instrument session over the shared board.
class Client : public std::enable_shared_from_this<Client>
{
public:
    Client(Server &server, tcp::socket socket);

    void start();
    // Runs one command of this client's; only when hasWork().
    void runOne();
    bool hasWork() const { return !m_dead && !backlogged() && (!m_session.lineDone() || !m_lines.empty()); }
    // Closed at once: nothing more of it runs, nothing more is sent.
    void drop();
    bool silentSince(Clock::time_point t) const { return !m_dead && m_lastActive < t; }

    bool queued = false; // in the server's round

private:
    struct Line {
        std::string text;
        bool tooLong = false;
    };

    bool backlogged() const { return m_out.size() - m_outSent > kBacklog; }
    bool readPaused() const { return m_queuedBytes + m_tail.size() >= kReadAhead || backlogged(); }
    bool alive();
    void readNow();
    void waitForInput();
    void take(const char *data, size_t size);
    void endLine();
    void send();
    void finishIfDone();
    void afterProgress();

    Server &m_server;
    tcp::socket m_socket;
    evm::SharedBoard::Client m_board;
    evm::scpi::Session m_session;
    std::unique_ptr<char[]> m_chunk;
    std::string m_tail; // the line being received
    std::deque<Line> m_lines;
    size_t m_queuedBytes = 0;
    bool m_discarding = false; // the rest of a refused line, up to its end
    std::string m_out;
    size_t m_outSent = 0;
    bool m_waitingToRead = false;
    bool m_waitingToWrite = false;
    bool m_ended = false;      // the client closed its side normally: what it sent still runs
    bool m_cannotSend = false; // after that, its answers have nowhere to go
    bool m_dead = false;
    Clock::time_point m_fresh;      // the connection was known not reset then
    Clock::time_point m_lastActive; // a byte received or a command run
};

// A refused connection after its one line: what the client sent meanwhile is read and
// dropped for a moment, so that the close is not a reset that could lose the line.
class Refused : public std::enable_shared_from_this<Refused>
{
public:
    Refused(tcp::socket socket, std::list<std::shared_ptr<Refused>> &list)
        : m_socket(std::move(socket)), m_timer(m_socket.get_executor()), m_list(list) {}

    void start()
    {
        m_timer.expires_after(kRefusedDrain);
        m_timer.async_wait([self = shared_from_this()](const asio::error_code &ec) {
            if (!ec)
                self->finish();
        });
        drain();
    }

    void finish()
    {
        asio::error_code ec;
        m_timer.cancel();
        m_socket.close(ec);
        const std::shared_ptr<Refused> keep = shared_from_this();
        m_list.remove(keep);
    }

private:
    void drain()
    {
        m_socket.async_wait(tcp::socket::wait_read, [self = shared_from_this()](const asio::error_code &ec) {
            if (ec)
                return; // closed
            char sink[4096];
            asio::error_code readError;
            while (!readError)
                self->m_socket.read_some(asio::buffer(sink), readError);
            if (readError == asio::error::would_block || readError == asio::error::try_again)
                self->drain();
            else
                self->finish(); // the client's end, or its reset
        });
    }

    tcp::socket m_socket;
    asio::steady_timer m_timer;
    std::list<std::shared_ptr<Refused>> &m_list;
};

class Server
{
public:
    Server(evm::BoardSession &session, const ServeOptions &options)
        : m_board(session), m_options(options)
    {
        m_sessionOptions.readOnly = options.readOnly;
        m_sessionOptions.programVersion = EVM_PROGRAM_VERSION;
    }

    bool listen(std::string *error);
    std::string listeningText() const
    {
        asio::error_code ec;
        const tcp::endpoint at = m_acceptor.local_endpoint(ec);
        return addressText(at.address(), at.port());
    }
    void run();

    evm::SharedBoard &board() { return m_board; }
    const evm::scpi::Options &sessionOptions() const { return m_sessionOptions; }
    asio::io_context &io() { return m_io; }
    bool stopping() const { return m_stopping; }

    // A client that has work joins the end of the round.
    void enqueue(const std::shared_ptr<Client> &client);
    // After an event of a client's: its turn now if nobody else waits, else in order.
    void kick();
    void remove(Client *client);

private:
    void accept();
    void admit(tcp::socket socket);
    void refuse(tcp::socket socket, const std::string &reason);
    void turn();
    void postTurn();
    void watchIdle();
    void stop();

    // The board outlives every client, which holds on to it.
    evm::SharedBoard m_board;
    ServeOptions m_options;
    evm::scpi::Options m_sessionOptions;
    asio::io_context m_io{1};
    tcp::acceptor m_acceptor{m_io};
    asio::signal_set m_signals{m_io};
    asio::steady_timer m_acceptRetry{m_io};
    asio::steady_timer m_idleTimer{m_io};
    std::list<std::shared_ptr<Client>> m_clients;
    std::list<std::shared_ptr<Refused>> m_refused;
    std::deque<std::shared_ptr<Client>> m_round;
    bool m_turnPosted = false;
    bool m_inTurn = false;
    bool m_stopping = false;
};

Client::Client(Server &server, tcp::socket socket)
    : m_server(server), m_socket(std::move(socket)), m_board(server.board()), m_session(m_board, server.sessionOptions()),
      m_chunk(new char[kChunk]), m_fresh(Clock::now()), m_lastActive(m_fresh)
{
}

void Client::start()
{
    readNow();
    m_server.kick();
}

bool Client::alive()
{
    const Clock::time_point now = Clock::now();
    if (now - m_fresh < kFresh)
        return true;
    // Data queued before a reset is still handed out by the system, reset or not: only the
    // socket's pending error tells that the client gave up on it.
    PendingError pending;
    asio::error_code ec;
    m_socket.get_option(pending, ec);
    if (ec || pending.value() != 0)
        return false;
    m_fresh = now;
    return true;
}

void Client::readNow()
{
    // Read to the end of what has arrived: the system then signals the next arrival, and a
    // reset or an end behind the data is seen now.
    while (!m_dead && !m_ended && !m_waitingToRead) {
        if (readPaused())
            break; // resumed once lines have run or answers have gone
        asio::error_code ec;
        const size_t n = m_socket.read_some(asio::buffer(m_chunk.get(), kChunk), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            m_fresh = Clock::now();
            waitForInput();
        } else if (ec == asio::error::eof) {
            m_ended = true;
        } else if (ec) {
            drop(); // a reset: what it sent and has not run yet never runs
        } else {
            m_lastActive = Clock::now();
            take(m_chunk.get(), n);
        }
    }
    if (hasWork())
        m_server.enqueue(shared_from_this());
    finishIfDone();
}

void Client::waitForInput()
{
    m_waitingToRead = true;
    m_socket.async_wait(tcp::socket::wait_read, [self = shared_from_this()](const asio::error_code &ec) {
        self->m_waitingToRead = false;
        if (ec || self->m_dead)
            return;
        self->readNow();
        self->m_server.kick();
    });
}

void Client::take(const char *data, size_t size)
{
    std::string_view in(data, size);
    while (!in.empty() && !m_dead) {
        const size_t nl = in.find('\n');
        const std::string_view piece = in.substr(0, nl);
        in = nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1);
        if (!m_discarding) {
            m_tail.append(piece);
            if (m_tail.size() > kMaxLine) {
                m_lines.push_back({std::string(), true});
                m_queuedBytes += 1;
                m_tail.clear();
                m_discarding = true;
            }
        }
        if (nl != std::string_view::npos) {
            if (m_discarding)
                m_discarding = false;
            else
                endLine();
        }
    }
}

void Client::endLine()
{
    std::string line = std::move(m_tail);
    m_tail.clear();
    if (looksLikeHttp(line)) {
        drop(); // before anything of it, or after it, runs
        return;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    m_queuedBytes += line.size() + 1;
    m_lines.push_back({std::move(line), false});
}

void Client::runOne()
{
    // A client that ended normally has sent all it will: its resets after that are answers
    // to our answers, and every whole line it sent still runs.
    if (!m_ended && !alive()) {
        drop();
        return;
    }
    m_lastActive = Clock::now();
    if (m_session.lineDone()) {
        Line line = std::move(m_lines.front());
        m_lines.pop_front();
        m_queuedBytes -= line.text.size() + 1;
        if (line.tooLong) {
            m_session.refuseLine("line longer than " + std::to_string(kMaxLine) + " bytes");
            afterProgress();
            return;
        }
        m_session.startLine(line.text);
    }
    m_session.runNext();
    if (m_session.lineDone()) {
        if (const std::optional<std::string> answer = m_session.takeAnswer(); answer && !m_cannotSend) {
            m_out += *answer;
            m_out += '\n';
            send(); // now, not one turn later
        }
    }
    afterProgress();
}

void Client::afterProgress()
{
    if (m_dead)
        return;
    if (!m_waitingToRead)
        readNow(); // input that waited for room
    else
        finishIfDone();
}

void Client::send()
{
    // What has gone goes from the buffer too, so that a client that reads slowly but steadily
    // never makes it grow beyond the backlog.
    if (m_outSent > m_out.size() / 2) {
        m_out.erase(0, m_outSent);
        m_outSent = 0;
    }
    while (!m_dead && !m_waitingToWrite && m_outSent < m_out.size()) {
        asio::error_code ec;
        const size_t n = m_socket.write_some(asio::buffer(m_out.data() + m_outSent, m_out.size() - m_outSent), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            m_waitingToWrite = true;
            m_socket.async_wait(tcp::socket::wait_write, [self = shared_from_this()](const asio::error_code &ec) {
                self->m_waitingToWrite = false;
                if (ec || self->m_dead)
                    return;
                const bool wasBacklogged = self->backlogged();
                self->send();
                if (wasBacklogged)
                    self->afterProgress();
                if (self->hasWork())
                    self->m_server.enqueue(self);
                self->finishIfDone();
                self->m_server.kick();
            });
            return;
        }
        if (ec) {
            if (!m_ended) {
                drop();
                return;
            }
            m_cannotSend = true; // gone for good; its lines still run
            m_out.clear();
            m_outSent = 0;
            return;
        }
        m_outSent += n;
    }
    if (m_outSent == m_out.size()) {
        m_out.clear();
        m_outSent = 0;
    }
}

void Client::finishIfDone()
{
    if (m_dead || !m_ended || !m_session.lineDone() || !m_lines.empty() || m_waitingToWrite)
        return;
    asio::error_code ec;
    m_socket.shutdown(tcp::socket::shutdown_both, ec);
    drop();
}

void Client::drop()
{
    if (m_dead)
        return;
    m_dead = true;
    asio::error_code ec;
    m_socket.close(ec);
    m_board.close();
    m_lines.clear();
    m_out.clear();
    m_server.remove(this);
}

bool Server::listen(std::string *error)
{
    const tcp::endpoint at(m_options.address, m_options.port);
    asio::error_code ec;
    m_acceptor.open(at.protocol(), ec);
#ifdef _WIN32
    // On Windows SO_REUSEADDR would let another program take over the port while the server
    // has it; the port is the server's alone, and a restart finds it free as on other systems.
    if (!ec)
        m_acceptor.set_option(asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true), ec);
#else
    if (!ec)
        m_acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
    if (!ec)
        m_acceptor.bind(at, ec);
    if (!ec)
        m_acceptor.listen(m_options.maxClients + 8, ec);
    if (ec) {
        *error = "cannot listen on " + addressText(m_options.address, m_options.port) + ": " + ec.message();
        return false;
    }
    m_signals.add(SIGINT, ec);
    m_signals.add(SIGTERM, ec);
#ifdef SIGBREAK
    // Ctrl+Break in a Windows console.
    if (!ec)
        m_signals.add(SIGBREAK, ec);
#endif
    if (ec) {
        *error = "cannot set up the signal handling: " + ec.message();
        return false;
    }
    return true;
}

void Server::run()
{
    // The command that is running when a signal comes ends first: handlers never overlap.
    m_signals.async_wait([this](const asio::error_code &ec, int) {
        if (!ec)
            stop();
    });
    accept();
    watchIdle();
    m_io.run();
}

void Server::stop()
{
    m_stopping = true;
    asio::error_code ec;
    m_acceptor.close(ec);
    m_signals.cancel(ec);
    m_acceptRetry.cancel();
    m_idleTimer.cancel();
    while (!m_clients.empty()) {
        const std::shared_ptr<Client> client = m_clients.front();
        client->drop();
    }
    while (!m_refused.empty()) {
        const std::shared_ptr<Refused> refused = m_refused.front();
        refused->finish();
    }
    m_round.clear();
}

void Server::accept()
{
    m_acceptor.async_accept([this](const asio::error_code &ec, tcp::socket socket) {
        if (m_stopping || ec == asio::error::operation_aborted)
            return;
        if (!ec) {
            admit(std::move(socket));
            accept();
            return;
        }
        // Out of descriptors, say: the connection stays in the backlog, so wait before trying again.
        m_acceptRetry.expires_after(kAcceptRetry);
        m_acceptRetry.async_wait([this](const asio::error_code &ec) {
            if (!ec && !m_stopping)
                accept();
        });
    });
}

void Server::admit(tcp::socket socket)
{
    asio::error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec)
        return; // gone already
    socket.set_option(tcp::no_delay(true), ec); // one short answer at a time
    socket.non_blocking(true, ec);
    enableKeepalive(socket);
    if (!isAllowed(m_options, peer.address())) {
        refuse(std::move(socket), plain(peer.address()).to_string() + " is not allowed to connect (--allow)");
        return;
    }
    const size_t connected = m_clients.size();
    if (connected >= size_t(m_options.maxClients)) {
        refuse(std::move(socket), "the server is full: " + std::to_string(connected) + " of "
                                      + std::to_string(m_options.maxClients) + " clients are connected");
        return;
    }
    auto client = std::make_shared<Client>(*this, std::move(socket));
    m_clients.push_back(client);
    client->start();
}

void Server::refuse(tcp::socket socket, const std::string &reason)
{
    const std::string line = std::string(evm::remote::RefusedPrefix) + reason + "\n";
    asio::error_code ec;
    socket.write_some(asio::buffer(line), ec);
    socket.shutdown(tcp::socket::shutdown_send, ec);
    if (m_refused.size() >= kMaxRefused)
        return; // closed as it goes
    auto refused = std::make_shared<Refused>(std::move(socket), m_refused);
    m_refused.push_back(refused);
    refused->start();
}

void Server::enqueue(const std::shared_ptr<Client> &client)
{
    if (client->queued || m_stopping)
        return;
    client->queued = true;
    m_round.push_back(client);
}

void Server::kick()
{
    if (m_inTurn || m_turnPosted || m_round.empty())
        return;
    if (m_round.size() == 1)
        turn(); // nobody else waits: no reason to go round the event loop first
    else
        postTurn();
}

void Server::postTurn()
{
    m_turnPosted = true;
    asio::post(m_io, [this] {
        m_turnPosted = false;
        turn();
    });
}

void Server::turn()
{
    m_inTurn = true;
    while (!m_round.empty() && !m_stopping) {
        std::shared_ptr<Client> client = std::move(m_round.front());
        m_round.pop_front();
        client->queued = false;
        if (!client->hasWork())
            continue;
        client->runOne();
        if (client->hasWork())
            enqueue(client);
        break;
    }
    m_inTurn = false;
    if (!m_round.empty() && !m_stopping && !m_turnPosted)
        postTurn();
}

void Server::remove(Client *client)
{
    m_clients.remove_if([client](const std::shared_ptr<Client> &c) { return c.get() == client; });
}

void Server::watchIdle()
{
    if (m_options.idleTimeoutSeconds <= 0 || m_stopping)
        return;
    const auto limit = std::chrono::seconds(m_options.idleTimeoutSeconds);
    m_idleTimer.expires_after(std::min<Clock::duration>(limit / 4, std::chrono::seconds(1)));
    m_idleTimer.async_wait([this, limit](const asio::error_code &ec) {
        if (ec || m_stopping)
            return;
        const Clock::time_point since = Clock::now() - limit;
        std::vector<std::shared_ptr<Client>> silent;
        for (const std::shared_ptr<Client> &c : m_clients)
            if (c->silentSince(since))
                silent.push_back(c);
        for (const std::shared_ptr<Client> &c : silent)
            c->drop(); // its place goes to the next client
        watchIdle();
    });
}

} // namespace

bool isAllowed(const ServeOptions &options, const asio::ip::address &peer)
{
    if (options.allowed.empty())
        return true;
    const asio::ip::address a = plain(peer);
    for (const AllowedNetwork &n : options.allowed) {
        if (a.is_v4() && n.address.is_v4()) {
            if (asio::ip::network_v4(a.to_v4(), n.prefix).canonical() == asio::ip::network_v4(n.address.to_v4(), n.prefix).canonical())
                return true;
        } else if (a.is_v6() && n.address.is_v6()) {
            if (asio::ip::network_v6(a.to_v6(), n.prefix).canonical() == asio::ip::network_v6(n.address.to_v6(), n.prefix).canonical())
                return true;
        }
    }
    return false;
}

std::variant<ServeOptions, std::string> serveOptions(const ServeArguments &arguments)
{
    ServeOptions o;
    o.readOnly = arguments.readOnly;
    if (const std::optional<std::string> &listen = arguments.listen) {
        const size_t colon = listen->rfind(':');
        const std::optional<int32_t> port = colon == std::string::npos ? std::nullopt
                                                                       : evm::parseInteger(std::string_view(*listen).substr(colon + 1));
        if (!port || *port < 0 || *port > 65535)
            return "--listen takes HOST:PORT, e.g. 127.0.0.1:5025, not '" + *listen + "'";
        std::string host = listen->substr(0, colon);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        if (host == "localhost" || host == "LOCALHOST" || host == "Localhost")
            host = "127.0.0.1";
        asio::error_code ec;
        o.address = asio::ip::make_address(host, ec);
        if (ec)
            return "--listen: '" + host + "' is not an IP address";
        o.port = uint16_t(*port);
    }
    if (arguments.maxClients) {
        const std::optional<int32_t> n = evm::parseInteger(*arguments.maxClients);
        if (!n || *n < 1 || *n > 1000)
            return "--max-clients takes a number 1..1000, not '" + *arguments.maxClients + "'";
        o.maxClients = int(*n);
    }
    for (const std::string &text : arguments.allow) {
        const size_t slash = text.find('/');
        asio::error_code ec;
        AllowedNetwork n;
        n.address = plain(asio::ip::make_address(text.substr(0, slash), ec));
        const unsigned bits = n.address.is_v4() ? 32 : 128;
        const std::optional<int32_t> prefix = slash == std::string::npos ? std::optional<int32_t>(bits)
                                                                         : evm::parseInteger(std::string_view(text).substr(slash + 1));
        if (ec || !prefix || *prefix < 0 || *prefix > int32_t(bits))
            return "--allow takes ADDRESS or ADDRESS/PREFIX, e.g. 192.168.1.0/24, not '" + text + "'";
        n.prefix = unsigned(*prefix);
        o.allowed.push_back(n);
    }
    if (arguments.idleTimeout) {
        const std::optional<int32_t> n = evm::parseInteger(*arguments.idleTimeout);
        if (!n || *n < 0 || *n > 7 * 24 * 3600)
            return "--idle-timeout takes seconds 0..604800 (0: never), not '" + *arguments.idleTimeout + "'";
        o.idleTimeoutSeconds = int(*n);
    }
    return o;
}

int serveBoard(const ServeOptions &options, evm::BoardSession &session, std::string *error, const ServeOutput &output)
{
    Server server(session, options);
    if (!server.listen(error))
        return 2;
    const std::string at = server.listeningText();
    if (!isLoopback(options.address))
        output.warn("warning: listening on " + at + ", which other machines can reach: the protocol has no "
                    "authentication, so anyone who reaches the port drives the board and its lines "
                    "(--allow limits the clients; an SSH tunnel to 127.0.0.1 is safer)");
    output.announce("listening on " + at);
    server.run();
    return 0;
}

} // namespace ctl
