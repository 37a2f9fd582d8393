#include "sharedboard.h"

#include <cstdio>

namespace evm::scpi {

std::string choiceText(int32_t interfaceCode, int32_t deviceAddress)
{
    char text[64];
    if (interfaceCode == OSTREL_INTERFACE_SPI)
        return "SPI";
    if (interfaceCode == OSTREL_INTERFACE_IIC)
        std::snprintf(text, sizeof text, "IIC at 0x%02X", unsigned(deviceAddress));
    else
        std::snprintf(text, sizeof text, "interface %d at %d", int(interfaceCode), int(deviceAddress));
    return text;
}

int32_t SharedBoard::Client::open(int32_t port, int32_t interfaceCode, int32_t deviceAddress, std::string &refusal)
{
    SharedBoard &b = m_board;
    if (b.m_port != 0 && b.m_settings.interfaceCode == interfaceCode && b.m_settings.deviceAddress == deviceAddress) {
        hold();
        return b.m_port;
    }
    // Whatever this client held, it asks for something else now.
    release();
    if (b.m_holders > 0) {
        refusal = "the board is held under " + choiceText(b.m_settings.interfaceCode, b.m_settings.deviceAddress)
            + " by " + std::to_string(b.m_holders) + (b.m_holders == 1 ? " client" : " clients");
        return 0;
    }
    b.m_library.close();
    b.m_settings.interfaceCode = interfaceCode;
    b.m_settings.deviceAddress = deviceAddress;
    b.m_port = b.m_library.init(port, &b.m_settings);
    if (b.m_port != 0)
        hold();
    return b.m_port;
}

int32_t SharedBoard::Client::read(int32_t channel, int32_t reg, uint8_t &value)
{
    uint8_t buffer[TransferBufferSize] = {};
    if (m_board.m_port == 0)
        return OSTREL_NOT_OPEN;
    const int32_t code = m_board.m_library.readData(channel, reg, buffer, 1);
    value = buffer[0];
    return code;
}

int32_t SharedBoard::Client::write(int32_t channel, int32_t regOrLine, uint8_t value)
{
    uint8_t buffer[TransferBufferSize] = {};
    buffer[0] = value;
    if (m_board.m_port == 0)
        return OSTREL_NOT_OPEN;
    return m_board.m_library.writeData(channel, regOrLine, buffer, 1);
}

void SharedBoard::Client::hold()
{
    if (!m_holds)
        ++m_board.m_holders;
    m_holds = true;
}

void SharedBoard::Client::release()
{
    if (m_holds)
        --m_board.m_holders;
    m_holds = false;
}

} // namespace evm::scpi
