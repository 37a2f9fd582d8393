#pragma once
#include "boardlib.h"
#include "scpi.h"

#include <cstdint>
#include <string>

namespace evm::scpi {

// The instrument server's one board, shared by all its clients. The server opens it when it
// starts and keeps it open for its whole run, so that a client that only reads and writes
// registers finds it whoever comes and goes. A remote board library's _init and _close
// (BOARD:OPEN? and BOARD:CLOSE) take and give up a hold on it:
// - a choice that is the board's own joins it, with no library call;
// - another choice reopens it (_close, then _init) when no other client holds it, and is
//   refused otherwise, so that nobody takes the board from under another;
// - a client gives up its hold with BOARD:CLOSE, when it goes, and when its open is refused.
// The server's end closes the board, once.
class SharedBoard
{
public:
    SharedBoard(BoardLibrary &library, const ConnectionSettings &settings, int32_t port)
        : m_library(library), m_settings(settings), m_port(port) {}
    SharedBoard(const SharedBoard &) = delete;
    SharedBoard &operator=(const SharedBoard &) = delete;

    int32_t port() const { return m_port; }
    int holders() const { return m_holders; }
    const ConnectionSettings &settings() const { return m_settings; }

    // One client's view of the board: what its commands reach, and its hold.
    class Client : public Board
    {
    public:
        explicit Client(SharedBoard &board) : m_board(board) {}
        Client(const Client &) = delete;
        Client &operator=(const Client &) = delete;
        ~Client() override { release(); }

        bool holds() const { return m_holds; }

        int32_t port() const override { return m_board.m_port; }
        int32_t open(int32_t port, int32_t interfaceCode, int32_t deviceAddress, std::string &refusal) override;
        void close() override { release(); }
        int32_t read(int32_t channel, int32_t reg, uint8_t &value) override;
        int32_t write(int32_t channel, int32_t regOrLine, uint8_t value) override;
        int32_t version() override { return m_board.m_library.getVer(); }

    private:
        void hold();
        void release();

        SharedBoard &m_board;
        bool m_holds = false;
    };

private:
    BoardLibrary &m_library;
    ConnectionSettings m_settings;
    int32_t m_port;
    int m_holders = 0;
};

// "SPI", "IIC at 0x45", or the codes of a choice that is neither.
std::string choiceText(int32_t interfaceCode, int32_t deviceAddress);

} // namespace evm::scpi
