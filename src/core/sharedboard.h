// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "boardsession.h"

#include <cstdint>
#include <string>

namespace evm {

// The instrument server's one board session, shared by all its clients, and their holds on
// it. The server opens it when it starts and keeps it open for its whole run, so that a client
// that only reads and writes registers finds it whoever comes and goes; those accesses go to
// the session itself. A remote board library's _init and _close (BOARD:OPEN? and BOARD:CLOSE)
// take and give up a hold:
// - a choice that is the board's own joins it, with no library call;
// - another choice reopens it (_close, then _init) when no other client holds it, and is
//   refused otherwise, so that nobody takes the board from under another;
// - a client gives up its hold with BOARD:CLOSE, when it goes, and when its open is refused.
// The session's owner closes the board, once.
class SharedBoard
{
public:
    explicit SharedBoard(BoardSession &session) : m_session(session) {}
    SharedBoard(const SharedBoard &) = delete;
    SharedBoard &operator=(const SharedBoard &) = delete;

    BoardSession &session() { return m_session; }
    int holders() const { return m_holders; }

    // One client's hold.
    class Client
    {
    public:
        explicit Client(SharedBoard &board) : m_board(board) {}
        Client(const Client &) = delete;
        Client &operator=(const Client &) = delete;
        ~Client() { close(); }

        BoardSession &session() { return m_board.m_session; }
        bool holds() const { return m_holds; }
        // The board under this choice for this client; answers its port, 0 for no board. A
        // choice that would take the board from others is refused: 0, and the reason in refusal.
        int32_t open(int32_t port, int32_t interfaceCode, int32_t deviceAddress, std::string &refusal);
        // This client is done with the board that open() gave it.
        void close();

    private:
        void hold();

        SharedBoard &m_board;
        bool m_holds = false;
    };

private:
    BoardSession &m_session;
    int m_holders = 0;
};

// "SPI", "IIC at 0x45", or the codes of a choice that is neither.
std::string choiceText(int32_t interfaceCode, int32_t deviceAddress);

} // namespace evm
