#pragma once
#include <QHostAddress>
#include <QString>

#include <functional>
#include <optional>
#include <variant>

namespace evm {
class BoardSession;
}

// evm5170ctl serve: the board as a SCPI instrument on a raw TCP socket.
namespace ctl {

struct ServeOptions {
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 5025;
    bool readOnly = false;
    int maxClients = 8;
};

// The options from their command-line texts, or a one-line error.
std::variant<ServeOptions, QString> serveOptions(const std::optional<QString> &listen, bool readOnly,
                                                 const std::optional<QString> &maxClients);

// Serves the session's board until SIGINT or SIGTERM. Hands "listening on HOST:PORT" to
// announce first. Answers 0, or 2 with a one-line error in *error when it cannot listen.
int serveBoard(const ServeOptions &options, evm::BoardSession &session, QString *error,
               const std::function<void(const QString &)> &announce);

} // namespace ctl
