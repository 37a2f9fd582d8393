// SPDX-License-Identifier: GPL-3.0-or-later
// The instrument server on loopback: a REG? round trip against a bare TCP echo round trip (a
// process of this benchmark that only echoes), commands per second with one and with six
// clients, and the window's start-up through the remote board library against a local one.
#include "bench.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        std::perror("bench: connect");
        std::exit(2);
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Sends the line and reads up to the answer's end; false when the connection failed.
bool roundTrip(int fd, const char *line, size_t size)
{
    if (::send(fd, line, size, MSG_NOSIGNAL) != ssize_t(size))
        return false;
    char buffer[256];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        if (buffer[n - 1] == '\n')
            return true;
    }
}

// Mean nanoseconds of count round trips.
double roundTrips(int fd, int count)
{
    static const char kQuery[] = "REG? 70\n";
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < count; ++i)
        if (!roundTrip(fd, kQuery, sizeof kQuery - 1)) {
            std::fprintf(stderr, "bench: a round trip failed\n");
            return 0;
        }
    return double(t.nsecsElapsed()) / count;
}

// On a virtual machine a wakeup across CPUs can cost a hundred microseconds or more, for the
// echo as for the server, so an unpinned round trip measures where the scheduler happened to
// put the processes rather than what they do. While it lives, this thread and the given
// processes (each of one thread) run on the CPU this thread is on: one place for both sides.
class OneCpu
{
public:
    explicit OneCpu(std::initializer_list<qint64> pids) : m_pids(pids)
    {
        CPU_ZERO(&m_all);
        sched_getaffinity(0, sizeof m_all, &m_all);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        sched_setaffinity(0, sizeof one, &one);
        for (const qint64 pid : m_pids)
            sched_setaffinity(pid_t(pid), sizeof one, &one);
    }
    ~OneCpu()
    {
        for (const qint64 pid : m_pids)
            sched_setaffinity(pid_t(pid), sizeof m_all, &m_all);
        sched_setaffinity(0, sizeof m_all, &m_all);
    }
    OneCpu(const OneCpu &) = delete;
    OneCpu &operator=(const OneCpu &) = delete;

private:
    std::vector<qint64> m_pids;
    cpu_set_t m_all;
};

// A child process that prints "listening on 127.0.0.1:PORT" and runs until killed.
class Child
{
public:
    Child(const QString &program, const QStringList &args, const QProcessEnvironment &env)
    {
        m_process.setProcessEnvironment(env);
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(program, args);
        QByteArray out;
        while (!out.contains('\n') && m_process.waitForReadyRead(30000))
            out += m_process.readAllStandardOutput();
        const auto m = QRegularExpression(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)")).match(QString::fromLatin1(out));
        port = m.hasMatch() ? m.captured(1).toInt() : 0;
        if (!port)
            std::fprintf(stderr, "bench: %s did not start\n", qPrintable(program));
    }
    ~Child()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(30000))
            m_process.kill();
        m_process.waitForFinished(30000);
    }
    int port = 0;
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
};

QProcessEnvironment serverEnvironment(const QTemporaryDir &dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("EVM_BOARD_LIBRARY"), QStringLiteral(OSTREL_SIM_PATH));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    for (const char *name : {"OSTREL_SIM_TRACE", "OSTREL_SIM_STATE", "OSTREL_SIM_FAIL", "OSTREL_SIM_BOARD"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("OSTREL_SIM_STATE"), QString()); // no state file
    return env;
}

double commandsPerSecond(int port, int clients, int perClient)
{
    std::vector<int> fds;
    for (int i = 0; i < clients; ++i)
        fds.push_back(connectTo(port));
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int fd : fds)
        threads.emplace_back([fd, perClient, &go] {
            while (!go.load())
                std::this_thread::yield();
            roundTrips(fd, perClient);
        });
    QElapsedTimer t;
    t.start();
    go = true;
    for (std::thread &th : threads)
        th.join();
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    for (int fd : fds)
        ::close(fd);
    return clients * perClient / seconds;
}

QString perSecond(double v)
{
    return QStringLiteral("%1 commands/s").arg(v, 0, 'f', 0);
}

} // namespace

int runEchoChild()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(listener, 4) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return 2;
    std::printf("listening on 127.0.0.1:%d\n", ntohs(a.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return 2;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            if (::send(fd, buffer, size_t(n), MSG_NOSIGNAL) != n)
                break;
        ::close(fd);
    }
}

BenchRows benchServe(const QString &selfPath, const QString &ctlPath, const QString &programPath, int runs)
{
    QTemporaryDir dir;
    const QProcessEnvironment env = serverEnvironment(dir);
    Child server(ctlPath, {QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")}, env);
    Child echo(selfPath, {QStringLiteral("--echo-child")}, env);
    if (!server.port || !echo.port)
        return {};

    // Batches alternate between the two, so both see the same machine.
    const int serverFd = connectTo(server.port), echoFd = connectTo(echo.port);
    QList<double> reg, bare;
    double one = 0;
    {
        const OneCpu place({server.pid(), echo.pid()});
        roundTrips(serverFd, 2000);
        roundTrips(echoFd, 2000);
        for (int i = 0; i < 15; ++i) {
            bare << roundTrips(echoFd, 2000);
            reg << roundTrips(serverFd, 2000);
        }
        one = commandsPerSecond(server.port, 1, 20000);
    }
    ::close(serverFd);
    ::close(echoFd);
    const double r = median(reg), b = median(bare);
    BenchRow trip;
    trip.what = QStringLiteral("REG? round trip on loopback, one client (median of 15 batches of 2000; client, server and echo on one CPU)");
    trip.figure = formatNs(r) + QStringLiteral(" (%1)").arg(formatRatio(r / b));
    trip.target = QStringLiteral("≤ 1.5 × baseline");
    trip.baseline = QStringLiteral("bare TCP echo of the same line, a process of its own: %1").arg(formatNs(b));
    trip.met = r > 0 && r <= 1.5 * b;

    // Six clients spread over both CPUs, as the system places them.
    const double six = commandsPerSecond(server.port, 6, 5000);
    BenchRow oneRow{QStringLiteral("REG? commands per second, one client waiting for each answer (one CPU, as above)"), perSecond(one),
                    QStringLiteral("(no target)"), QStringLiteral("echo: %1 round trips/s").arg(1e9 / b, 0, 'f', 0), true, false};
    BenchRow sixRow{QStringLiteral("the same, six clients at once (5000 each), on both CPUs"), perSecond(six) + QStringLiteral(" (%1)").arg(formatRatio(six / one)),
                    QStringLiteral("(no target)"), QStringLiteral("one client: %1").arg(perSecond(one)), true, false};

    // The window's start-up, local and through the remote library, alternating.
    QProcessEnvironment local = startupEnvironment(dir);
    QProcessEnvironment remote = local;
    remote.insert(QStringLiteral("EVM_BOARD_LIBRARY"), QStringLiteral(OSTREL_REMOTE_PATH));
    remote.insert(QStringLiteral("EVM_BOARD_REMOTE"), QStringLiteral("127.0.0.1:%1").arg(server.port));
    runStartupOnce(programPath, local, dir.path());
    runStartupOnce(programPath, remote, dir.path());
    QList<double> l, m;
    for (int i = 0; i < runs; ++i) {
        l << runStartupOnce(programPath, local, dir.path()).shown;
        m << runStartupOnce(programPath, remote, dir.path()).shown;
    }
    const double ls = median(l), ms = median(m);
    BenchRow start{QStringLiteral("Start-up to the end of FormShow through the remote library and the server (median of %1)").arg(runs),
                   formatNs(ms) + QStringLiteral(" (%1)").arg(formatRatio(ms / ls)), QStringLiteral("(no target)"),
                   QStringLiteral("the same start-up against the local simulated board: %1").arg(formatNs(ls)), true, false};
    return {trip, oneRow, sixRow, start};
}
