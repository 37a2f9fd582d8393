// The instrument server's command lines: parsed and run against an in-memory board, once as
// a normal session and once read-only, with the answers and the error queue checked.
#include "check.h"
#include "scpi.h"

#include <QList>

#include <array>
#include <memory>

using namespace evm::scpi;

namespace {

class MemoryBoard : public Board
{
public:
    int32_t port() const override { return m_port; }
    int32_t open(int32_t, int32_t interfaceCode, int32_t, std::string &) override
    {
        ++changes;
        m_port = interfaceCode == 1 || interfaceCode == 3 ? 1 : 0;
        return m_port;
    }
    void close() override { ++changes; }
    int32_t read(int32_t channel, int32_t reg, uint8_t &value) override
    {
        if (m_port == 0)
            return 0x0102;
        if (channel != 0)
            return 0x0004;
        if (reg < 0x40 || reg > 0x5E)
            return 0x0005;
        value = m_regs[size_t(reg - 0x40)];
        return 0;
    }
    int32_t write(int32_t channel, int32_t target, uint8_t value) override
    {
        ++changes;
        if (m_port == 0)
            return 0x0102;
        if (channel == 7)
            return target >= 0 && target < 64 ? 0 : 0x0005;
        if (channel != 0)
            return 0x0004;
        if (target < 0x40 || target > 0x5E)
            return 0x0005;
        m_regs[size_t(target - 0x40)] = value;
        return 0;
    }
    int32_t version() override { return 0x1000; }

    int changes = 0; // writes, opens and closes

private:
    int32_t m_port = 1;
    std::array<uint8_t, 31> m_regs{};
};

void drainErrors(Session &session)
{
    FUZZ_CHECK(session.queuedErrors() <= Session::QueueSize, QString::number(session.queuedErrors()));
    for (int i = 0; i <= Session::QueueSize; ++i) {
        const QByteArray e = session.nextError();
        FUZZ_CHECK(!e.contains('\n') && e.endsWith('"'), QString::fromLatin1(e));
        const qsizetype comma = e.indexOf(',');
        bool ok = false;
        const int code = e.left(comma).toInt(&ok);
        FUZZ_CHECK(comma > 0 && ok && code <= 0 && e.at(comma + 1) == '"' && e.count('"') == 2, QString::fromLatin1(e));
        if (code == 0) {
            FUZZ_CHECK(session.queuedErrors() == 0, QString());
            return;
        }
        FUZZ_CHECK(errorText(code) != QByteArray("Error"), QString::number(code));
    }
    FUZZ_CHECK(false, QStringLiteral("the queue never emptied"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    MemoryBoard board, readOnlyBoard;
    Session session(board, Options{false, "1.0.0"});
    Session readOnly(readOnlyBoard, Options{true, "1.0.0"});
    for (const QByteArray &line : bytes.split('\n')) {
        // The line from an exactly sized heap block, so a read past its end is caught.
        const std::unique_ptr<char[]> exact(new char[size_t(line.size()) + 1]);
        std::copy(line.begin(), line.end(), exact.get());
        const QByteArrayView view(exact.get(), line.size());
        for (Session *s : {&session, &readOnly}) {
            std::optional<QByteArray> answer;
            if (s == &session) {
                answer = s->execute(view);
            } else { // a command at a time, as the server runs it
                s->startLine(view);
                while (!s->lineDone())
                    s->runNext();
                answer = s->takeAnswer();
            }
            if (answer)
                FUZZ_CHECK(!answer->contains('\n'), QString::fromLatin1(*answer));
            FUZZ_CHECK(s->queuedErrors() <= Session::QueueSize, QString());
        }
    }
    // A read-only session changes nothing of the board, whatever it was sent.
    FUZZ_CHECK(readOnlyBoard.changes == 0, QString::number(readOnlyBoard.changes));
    drainErrors(session);
    drainErrors(readOnly);
    return 0;
}
