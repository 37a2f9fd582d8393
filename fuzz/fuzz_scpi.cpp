// SPDX-License-Identifier: GPL-3.0-or-later
// The instrument server's command lines: parsed and run on a board session over the simulated
// board (loaded by the program's loader), once as a normal session and once read-only, a
// command at a time as the server runs it, with the answers and the error queue checked.
#include "boardsession.h"
#include "check.h"
#include "scpi/errors.h"
#include "scpi/session.h"
#include "sharedboard.h"

#include <cstdlib>
#include <memory>
#include <string_view>

#include <dlfcn.h>

using namespace evm::scpi;

namespace {

// The simulated board, opened on SPI as a server finds it, with its test calls.
class Simulator
{
public:
    Simulator()
    {
        for (const char *name : {"OSTREL_SIM_STATE", "OSTREL_SIM_TRACE", "OSTREL_SIM_FAIL", "OSTREL_SIM_BOARD", "OSTREL_SIM_DELAY_US"})
            ::unsetenv(name);
        ::setenv("OSTREL_SIM_STATE", "", 1); // no state file: power-on values every run
        ::setenv("EVM_BOARD_LIBRARY", OSTREL_SIM_PATH, 1);
        FUZZ_CHECK(session.load() == evm::BoardLibrary::LoadStatus::Loaded, QString::fromStdString(session.failureText()));
        void *self = ::dlopen(OSTREL_SIM_PATH, RTLD_NOW | RTLD_NOLOAD); // the one the session loaded
        FUZZ_CHECK(self, QString());
        m_reset = reinterpret_cast<void (*)()>(::dlsym(self, "ostrel_sim_reset"));
        m_clearLog = reinterpret_cast<void (*)()>(::dlsym(self, "ostrel_sim_clear_log"));
        m_log = reinterpret_cast<const char *(*)()>(::dlsym(self, "ostrel_sim_log"));
        ::dlclose(self);
        FUZZ_CHECK(m_reset && m_clearLog && m_log, QString());
    }

    void fresh()
    {
        session.disconnect();
        m_reset();
        session.settings() = evm::connectionSettingsFor(evm::SpiItem, 0);
        FUZZ_CHECK(session.connect() == 1, QString());
        m_clearLog();
    }

    // Calls since fresh() that change something for others: writes, opens and closes.
    QStringList changes() const
    {
        QStringList out;
        for (const QString &call : QString::fromLatin1(m_log()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (call.startsWith(QLatin1String("_writeData")) || call.startsWith(QLatin1String("_init"))
                || call.startsWith(QLatin1String("_close")))
                out << call;
        return out;
    }

    evm::BoardSession session;

private:
    void (*m_reset)() = nullptr;
    void (*m_clearLog)() = nullptr;
    const char *(*m_log)() = nullptr;
};

void drainErrors(Session &session)
{
    FUZZ_CHECK(session.queuedErrors() <= Session::QueueSize, QString::number(session.queuedErrors()));
    for (int i = 0; i <= Session::QueueSize; ++i) {
        const QByteArray e = QByteArray::fromStdString(session.nextError());
        FUZZ_CHECK(!e.contains('\n') && e.endsWith('"'), QString::fromLatin1(e));
        const qsizetype comma = e.indexOf(',');
        bool ok = false;
        const int code = e.left(comma).toInt(&ok);
        FUZZ_CHECK(comma > 0 && ok && code <= 0 && e.at(comma + 1) == '"' && e.count('"') == 2, QString::fromLatin1(e));
        if (code == 0) {
            FUZZ_CHECK(session.queuedErrors() == 0, QString());
            return;
        }
        FUZZ_CHECK(errorText(code) != std::string_view("Error"), QString::number(code));
    }
    FUZZ_CHECK(false, QStringLiteral("the queue never emptied"));
}

void checkAnswer(const std::optional<std::string> &answer)
{
    if (answer)
        FUZZ_CHECK(answer->find('\n') == std::string::npos, QString::fromStdString(*answer));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Simulator sim;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<QByteArray> lines = bytes.split('\n');
    // Each line from an exactly sized heap block, so a read past its end is caught.
    auto exact = [](const QByteArray &line) { return ExactBytes(std::string_view(line.constData(), size_t(line.size()))); };

    sim.fresh();
    evm::SharedBoard shared(sim.session);
    {
        evm::SharedBoard::Client client(shared);
        Session session(client, Options{false, "1.0.0"});
        for (const QByteArray &line : lines) {
            const ExactBytes text = exact(line);
            checkAnswer(session.execute(text.view()));
            FUZZ_CHECK(session.queuedErrors() <= Session::QueueSize, QString());
        }
        drainErrors(session);
    }

    // A read-only session changes nothing of the board, whatever it was sent.
    sim.fresh();
    evm::SharedBoard::Client client(shared);
    Session readOnly(client, Options{true, "1.0.0"});
    for (const QByteArray &line : lines) {
        const ExactBytes text = exact(line);
        readOnly.startLine(text.view()); // a command at a time, as the server runs it
        while (!readOnly.lineDone())
            readOnly.runNext();
        checkAnswer(readOnly.takeAnswer());
        FUZZ_CHECK(readOnly.queuedErrors() <= Session::QueueSize, QString());
    }
    const QStringList changes = sim.changes();
    FUZZ_CHECK(changes.isEmpty() && shared.holders() == 0, changes.join(QLatin1Char('\n')));
    drainErrors(readOnly);
    return 0;
}
