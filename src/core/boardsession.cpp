// SPDX-License-Identifier: GPL-3.0-or-later
#include "boardsession.h"

#include "inttext.h"

namespace evm {

std::string libraryVersionText(int32_t v)
{
    // C++ division truncates toward zero, as the split is defined; a * 4096 never
    // overflows because its magnitude is at most that of v.
    const int32_t a = v / 4096;
    int32_t r = v - a * 4096;
    const int32_t b = r / 256;
    r -= b * 256;
    const int32_t c = r / 16;
    const int32_t d = r - c * 16;
    return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
}

ConnectionSettings connectionSettingsFor(int interfaceItem, int32_t chosenAddress)
{
    ConnectionSettings s;
    s.word56 = 3;
    if (interfaceItem == IicItem) {
        s.interfaceCode = IicInterfaceCode;
        s.deviceAddress = chosenAddress;
    } else {
        s.interfaceCode = SpiInterfaceCode;
        s.deviceAddress = 0;
    }
    return s;
}

bool sameInterface(const ConnectionSettings &a, const ConnectionSettings &b)
{
    return a.interfaceCode == b.interfaceCode && a.deviceAddress == b.deviceAddress;
}

std::string interfaceText(const ConnectionSettings &settings)
{
    if (settings.interfaceCode == IicInterfaceCode)
        return "IIC at 0x" + hexText(static_cast<uint32_t>(settings.deviceAddress), 2);
    return "SPI";
}

std::string communicationErrorText(const char *kind, int32_t code)
{
    return "Communication error: " + std::string(kind) + hexText(static_cast<uint32_t>(code), 4);
}

uint8_t readModifyWriteBase(int reg, uint8_t chipValue)
{
    uint8_t base = chipValue & readableMask(reg);
    if (reg == FirstRegister)
        base |= 0xC0;
    return base;
}

BoardSession::Status BoardSession::open(const ConnectionSettings &settings)
{
    m_settings = settings;
    switch (load()) {
    case BoardLibrary::LoadStatus::Loaded:
        break;
    case BoardLibrary::LoadStatus::CannotLoad:
        return Status::CannotLoad;
    case BoardLibrary::LoadStatus::InvalidLibrary:
        return Status::InvalidLibrary;
    }
    if (connect() == 0)
        return Status::NoBoard;
    return Status::Open;
}

BoardLibrary::LoadStatus BoardSession::load()
{
    end();
    const BoardLibrary::LoadStatus status = m_library.load();
    switch (status) {
    case BoardLibrary::LoadStatus::Loaded:
        m_failure.clear();
        break;
    case BoardLibrary::LoadStatus::CannotLoad:
        m_failure = "Cannot load the board library: " + m_library.errorString();
        break;
    case BoardLibrary::LoadStatus::InvalidLibrary:
        m_failure = "Invalid board library: " + m_library.errorString();
        break;
    }
    return status;
}

int32_t BoardSession::connect(int32_t port)
{
    m_accessFailed = false;
    m_port = m_library.init(port, &m_settings);
    if (m_port == 0) {
        m_failure = std::string(NoBoardText) + " (" + interfaceText(m_settings) + ")";
        if (const std::string why = m_library.lastError(); !why.empty()) // e.g. the server it could not reach
            m_failure += ": " + why;
    } else
        m_failure.clear();
    return m_port;
}

void BoardSession::disconnect()
{
    m_library.close();
    m_port = 0;
}

void BoardSession::reconnectKeepingPort()
{
    m_library.close();
    m_library.init(m_port, &m_settings);
}

void BoardSession::end()
{
    if (m_library.isLoaded()) {
        m_library.close();
        m_library.unload();
    }
    m_port = 0;
}

BoardSession::Access BoardSession::readData(int32_t channel, int32_t reg)
{
    uint8_t buffer[TransferBufferSize] = {};
    Access a;
    if (m_port == 0) { // never reach into a library that is not open
        a.code = NotOpen;
        return a;
    }
    a.code = m_library.readData(channel, reg, buffer, 1);
    a.value = buffer[0];
    m_accessFailed |= a.code != 0;
    return a;
}

int32_t BoardSession::writeData(int32_t channel, int32_t target, uint8_t value)
{
    uint8_t buffer[TransferBufferSize] = {};
    buffer[0] = value;
    if (m_port == 0)
        return NotOpen;
    const int32_t code = m_library.writeData(channel, target, buffer, 1);
    m_accessFailed |= code != 0;
    return code;
}

} // namespace evm
