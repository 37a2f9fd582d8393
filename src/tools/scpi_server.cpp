#include "scpi_server.h"

#include "board.h"
#include "inttext.h"
#include "scpi.h"

#include <QEventLoop>
#include <QList>
#include <QPointer>
#include <QScopedValueRollback>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace ctl {

namespace {

constexpr qsizetype kMaxLine = 64 * 1024;       // longer lines are refused whole
constexpr qsizetype kChunk = 16 * 1024;         // read from a socket at a time
constexpr qint64 kReadBuffer = 256 * 1024;      // what Qt keeps unread per client before TCP pushes back
constexpr qint64 kBacklog = 1024 * 1024;        // unsent answers before a client's lines wait
constexpr int kLinesPerTurn = 64;               // then the other clients get their turn

// The commands' board: the session's library, reopened in place (never unloaded) when a
// client asks, with the port kept here.
class SessionBoard : public evm::scpi::Board
{
public:
    explicit SessionBoard(evm::BoardSession &session)
        : m_session(session), m_settings(session.settings()), m_port(session.port()) {}

    int32_t port() const override { return m_port; }

    int32_t open(int32_t port, int32_t interfaceCode, int32_t deviceAddress) override
    {
        m_session.library().close();
        m_settings.interfaceCode = interfaceCode;
        m_settings.deviceAddress = deviceAddress;
        m_port = m_session.library().init(port, &m_settings);
        return m_port;
    }

    void close() override
    {
        m_session.library().close();
        m_port = 0;
    }

    int32_t read(int32_t channel, int32_t reg, uint8_t &value) override
    {
        uint8_t buffer[evm::TransferBufferSize] = {};
        if (m_port == 0)
            return OSTREL_NOT_OPEN;
        const int32_t code = m_session.library().readData(channel, reg, buffer, 1);
        value = buffer[0];
        return code;
    }

    int32_t write(int32_t channel, int32_t regOrLine, uint8_t value) override
    {
        uint8_t buffer[evm::TransferBufferSize] = {};
        buffer[0] = value;
        if (m_port == 0)
            return OSTREL_NOT_OPEN;
        return m_session.library().writeData(channel, regOrLine, buffer, 1);
    }

    int32_t version() override { return m_session.library().getVer(); }

private:
    evm::BoardSession &m_session;
    evm::ConnectionSettings m_settings;
    int32_t m_port;
};

// One connected client: its line buffer and its own instrument session over the shared board.
class Client : public QObject
{
public:
    Client(QTcpSocket *socket, evm::scpi::Board &board, const evm::scpi::Options &options)
        : m_socket(socket), m_session(board, options)
    {
        socket->setParent(this);
        socket->setReadBufferSize(kReadBuffer);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, &Client::process);
        connect(socket, &QTcpSocket::bytesWritten, this, &Client::process);
        connect(socket, &QTcpSocket::disconnected, this, [this] {
            // Whole lines that arrived before the end still run, a turn at a time like any
            // others; a cut one never does. The client goes once none is left.
            m_gone = true;
            process();
        });
    }

private:
    void process()
    {
        // The flush below reports bytesWritten at once, which calls here again.
        if (m_busy)
            return;
        const QScopedValueRollback busy(m_busy, true);
        for (int n = 0; n < kLinesPerTurn; ++n) {
            if (!m_gone && m_socket->bytesToWrite() > kBacklog)
                return; // a client that does not read its answers waits for bytesWritten
            const std::optional<QByteArray> line = takeLine();
            if (!line) {
                if (m_gone)
                    deleteLater();
                return;
            }
            const std::optional<QByteArray> reply = m_session.execute(*line);
            if (reply && !m_gone) {
                m_socket->write(*reply + '\n');
                m_socket->flush(); // now, not one event-loop turn later
            }
        }
        if (!m_scheduled) {
            m_scheduled = true;
            QTimer::singleShot(0, this, [this] {
                m_scheduled = false;
                process();
            });
        }
    }

    std::optional<QByteArray> takeLine()
    {
        for (;;) {
            const qsizetype nl = m_in.indexOf('\n', m_pos);
            if (nl >= 0) {
                QByteArray line = m_in.mid(m_pos, nl - m_pos);
                m_pos = nl + 1;
                if (m_discarding) {
                    m_discarding = false;
                    continue;
                }
                if (line.size() > kMaxLine) {
                    refuseLong();
                    continue;
                }
                if (line.endsWith('\r'))
                    line.chop(1);
                return line;
            }
            m_in.remove(0, m_pos);
            m_pos = 0;
            if (m_discarding) {
                m_in.clear();
            } else if (m_in.size() > kMaxLine) {
                refuseLong();
                m_discarding = true;
                m_in.clear();
            }
            const QByteArray more = m_socket->read(kChunk);
            if (more.isEmpty())
                return std::nullopt;
            m_in += more;
        }
    }

    void refuseLong()
    {
        m_session.refuseLine(QStringLiteral("line longer than %1 bytes").arg(kMaxLine));
    }

    QTcpSocket *m_socket;
    evm::scpi::Session m_session;
    QByteArray m_in;
    qsizetype m_pos = 0;
    bool m_discarding = false; // the rest of a refused line, up to its end
    bool m_gone = false;
    bool m_scheduled = false;
    bool m_busy = false;
};

int g_signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

// SIGINT and SIGTERM end the event loop through a pipe; nothing of Qt runs in the handler.
class StopSignals
{
public:
    bool install()
    {
        if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return false;
        struct sigaction sa = {};
        sa.sa_handler = onStopSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, &m_oldInt);
        sigaction(SIGTERM, &sa, &m_oldTerm);
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &m_oldPipe);
        return true;
    }
    ~StopSignals()
    {
        if (g_signalPipe[0] < 0)
            return;
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
        sigaction(SIGPIPE, &m_oldPipe, nullptr);
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
    int fd() const { return g_signalPipe[0]; }

private:
    struct sigaction m_oldInt = {}, m_oldTerm = {}, m_oldPipe = {};
};

QString addressText(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
        : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}

} // namespace

std::variant<ServeOptions, QString> serveOptions(const std::optional<QString> &listen, bool readOnly,
                                                 const std::optional<QString> &maxClients)
{
    ServeOptions o;
    o.readOnly = readOnly;
    if (listen) {
        const qsizetype colon = listen->lastIndexOf(QLatin1Char(':'));
        QString host = colon < 0 ? QString() : listen->left(colon);
        bool ok = false;
        const uint port = colon < 0 ? 0 : listen->mid(colon + 1).toUInt(&ok);
        if (colon < 0 || !ok || port > 65535)
            return QStringLiteral("--listen takes HOST:PORT, e.g. 127.0.0.1:5025, not '%1'").arg(*listen);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
            host = QStringLiteral("127.0.0.1");
        if (!o.address.setAddress(host))
            return QStringLiteral("--listen: '%1' is not an IP address").arg(host);
        o.port = quint16(port);
    }
    if (maxClients) {
        const std::optional<int32_t> n = evm::parseInteger(*maxClients);
        if (!n || *n < 1 || *n > 1000)
            return QStringLiteral("--max-clients takes a number 1..1000, not '%1'").arg(*maxClients);
        o.maxClients = *n;
    }
    return o;
}

int serveBoard(const ServeOptions &options, evm::BoardSession &session, QString *error,
               const std::function<void(const QString &)> &announce)
{
    SessionBoard board(session);
    evm::scpi::Options sessionOptions;
    sessionOptions.readOnly = options.readOnly;
    sessionOptions.programVersion = EVM_PROGRAM_VERSION;

    StopSignals stopSignals;
    if (!stopSignals.install()) {
        *error = QStringLiteral("cannot set up the signal handling");
        return 2;
    }
    QTcpServer server;
    server.setMaxPendingConnections(options.maxClients + 8);
    if (!server.listen(options.address, options.port)) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(addressText(options.address, options.port),
                                                              server.errorString());
        return 2;
    }

    QList<QPointer<Client>> clients;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            clients.removeIf([](const QPointer<Client> &c) { return c.isNull(); });
            if (clients.size() >= options.maxClients) {
                socket->close(); // refused: the client sees the connection end at once
                socket->deleteLater();
                continue;
            }
            clients << new Client(socket, board, sessionOptions);
        }
    });

    QEventLoop loop;
    QSocketNotifier stop(stopSignals.fd(), QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &loop, &QEventLoop::quit);

    announce(QStringLiteral("listening on %1").arg(addressText(server.serverAddress(), server.serverPort())));
    loop.exec();

    server.close();
    for (const QPointer<Client> &c : std::as_const(clients))
        delete c.data();
    return 0;
}

} // namespace ctl
