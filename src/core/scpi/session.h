// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "scpi/commands.h"
#include "scpi/status.h"
#include "sharedboard.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The board as a SCPI instrument: the command lines of one client parsed and run on the
// server's board session, with the client's own error queue and IEEE 488.2 status bytes. No
// sockets here; the server hands each line in and sends back what comes out.
namespace evm::scpi {

class Session
{
public:
    static constexpr int QueueSize = Status::QueueSize;

    // board: this client's hold on the server's shared board, through which its commands reach
    // the board session.
    Session(SharedBoard::Client &board, Options options) : m_board(board), m_options(std::move(options)) {}

    // Runs one line (its terminator removed): every command in it, in order. Answers the
    // responses of its queries joined by ';', or nothing when it asked nothing that answered.
    std::optional<std::string> execute(std::string_view line);

    // The same a command at a time, so that a server can let other clients' commands run in
    // between: startLine, then runNext until lineDone, then takeAnswer. A line still running
    // when the next starts is dropped where it stands.
    void startLine(std::string_view line);
    // Runs the line's next command; false when none was left.
    bool runNext();
    bool lineDone() const { return !m_line.pending; }
    std::optional<std::string> takeAnswer() { return std::exchange(m_line.answer, std::nullopt); }

    // A line the server refused to take whole (longer than it accepts).
    void refuseLine(std::string_view why);

    int queuedErrors() const { return m_status.queued(); }
    // The oldest queued error as SYSTem:ERRor? answers it, and takes it off the queue.
    std::string nextError() { return m_status.next(); }

private:
    enum class Outcome { Done, Failed, StopLine };

    Outcome runUnit(std::string_view text, std::optional<std::string> &response);
    // Finds the line's next command that is not empty, from offset from on.
    void findNext(size_t from);

    SharedBoard::Client &m_board;
    Options m_options;
    Status m_status;
    struct Line {
        std::string text;
        size_t unitStart = 0;  // the next command, within text
        size_t unitSize = 0;
        size_t after = 0;      // where the one after it starts
        bool pending = false;  // unit is still to run
        std::vector<std::string> path; // the header path of the compound rule
        std::optional<std::string> answer;
    } m_line;
};

} // namespace evm::scpi
