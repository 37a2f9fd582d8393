// SPDX-License-Identifier: GPL-3.0-or-later
#include "sharedboard.h"

namespace evm {

std::string choiceText(int32_t interfaceCode, int32_t deviceAddress)
{
    ConnectionSettings settings;
    settings.interfaceCode = interfaceCode;
    settings.deviceAddress = deviceAddress;
    if (interfaceCode == IicInterfaceCode || interfaceCode == SpiInterfaceCode)
        return interfaceText(settings);
    return "interface " + std::to_string(interfaceCode) + " at " + std::to_string(deviceAddress);
}

int32_t SharedBoard::Client::open(int32_t port, int32_t interfaceCode, int32_t deviceAddress, std::string &refusal)
{
    SharedBoard &b = m_board;
    BoardSession &session = b.m_session;
    const ConnectionSettings &now = session.settings();
    if (session.port() != 0 && now.interfaceCode == interfaceCode && now.deviceAddress == deviceAddress) {
        hold();
        return session.port();
    }
    // Whatever this client held, it asks for something else now.
    close();
    if (b.m_holders > 0) {
        refusal = "the board is held under " + choiceText(now.interfaceCode, now.deviceAddress) + " by "
            + std::to_string(b.m_holders) + (b.m_holders == 1 ? " client" : " clients");
        return 0;
    }
    session.disconnect();
    session.settings().interfaceCode = interfaceCode;
    session.settings().deviceAddress = deviceAddress;
    if (session.connect(port) != 0)
        hold();
    return session.port();
}

void SharedBoard::Client::hold()
{
    if (!m_holds)
        ++m_board.m_holders;
    m_holds = true;
}

void SharedBoard::Client::close()
{
    if (m_holds)
        --m_board.m_holders;
    m_holds = false;
}

} // namespace evm
