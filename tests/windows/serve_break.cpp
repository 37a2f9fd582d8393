// SPDX-License-Identifier: GPL-3.0-or-later
// serve_break.exe: evm5170ctl's server over the board of EVM_BOARD_LIBRARY, stopped by
// Ctrl+Break as a Windows console hands it to a program (SIGBREAK, through the C runtime).
// For the tests under Wine, which cannot press the key. Exits with the server's status; a
// SIGBREAK the server did not take would end the program with status 3.
#include "boardsession.h"
#include "scpi_server.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

int main()
{
    evm::BoardSession session;
    if (session.open(evm::connectionSettingsFor(evm::SpiItem, 0)) != evm::BoardSession::Status::Open) {
        std::fputs("serve_break: no board\n", stderr);
        return 2;
    }
    ctl::ServeOptions options;
    options.port = 0;
    std::atomic<bool> listening{false};
    ctl::ServeOutput output;
    output.announce = [&listening](const std::string &line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        listening = true;
    };
    output.warn = [](const std::string &line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    std::string error;
    int status = -1;
    std::thread server([&] { status = ctl::serveBoard(options, session, &error, output); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!listening && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (listening)
        std::raise(SIGBREAK);
    server.join();
    if (!error.empty())
        std::fprintf(stderr, "serve_break: %s\n", error.c_str());
    return status;
}
