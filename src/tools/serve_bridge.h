#pragma once
#include <functional>
#include <optional>
#include <string>

namespace evm {
class BoardSession;
}

// evm5170ctl serve as the tool's commands see it: the options as given, and the server that
// runs until SIGINT or SIGTERM. The server behind it (scpi_server.h) is still built on QtCore
// and QtNetwork; only this file and the server know it.
namespace ctl {

struct ServeRequest {
    std::optional<std::string> listen; // HOST:PORT
    bool readOnly = false;
    std::optional<std::string> maxClients;
};

// What is wrong with the options, in one line, or nothing.
std::optional<std::string> serveOptionsError(const ServeRequest &request);

// Serves the session's board; hands "listening on HOST:PORT" to announce first. Answers 0, or
// 2 with a one-line error when it cannot listen.
int serveRequest(const ServeRequest &request, evm::BoardSession &session, std::string &error,
                 const std::function<void(const std::string &)> &announce);

} // namespace ctl
