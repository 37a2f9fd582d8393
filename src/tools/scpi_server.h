// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <asio/ip/address.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace evm {
class BoardSession;
}

// evm5170ctl serve: the board as a SCPI instrument on a raw TCP socket.
namespace ctl {

// Clients whose address has these leading bits in common with address (--allow).
struct AllowedNetwork {
    asio::ip::address address;
    unsigned prefix = 0;
};

struct ServeOptions {
    asio::ip::address address = asio::ip::address_v4::loopback();
    uint16_t port = 5025;
    bool readOnly = false;
    int maxClients = 8;
    std::vector<AllowedNetwork> allowed; // empty: every client
    int idleTimeoutSeconds = 0;          // 0: a silent client stays connected
};

// The options as given on the command line, not yet checked.
struct ServeArguments {
    std::optional<std::string> listen;
    bool readOnly = false;
    std::optional<std::string> maxClients;
    std::vector<std::string> allow;
    std::optional<std::string> idleTimeout;
};

// The options from their command-line texts, or a one-line error.
std::variant<ServeOptions, std::string> serveOptions(const ServeArguments &arguments);

// Whether options let a client from this address in.
bool isAllowed(const ServeOptions &options, const asio::ip::address &peer);

struct ServeOutput {
    std::function<void(const std::string &)> announce; // "listening on HOST:PORT", once
    std::function<void(const std::string &)> warn;     // a warning for standard error
};

// Serves the session's board until SIGINT or SIGTERM (Ctrl+C, and on Windows Ctrl+Break). Answers 0, or 2 with a one-line error
// in *error when it cannot listen.
int serveBoard(const ServeOptions &options, evm::BoardSession &session, std::string *error, const ServeOutput &output);

} // namespace ctl
